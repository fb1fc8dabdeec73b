// One sync run as the sync button starts it: the first sync exports and
// uploads; every later sync downloads the mobile's changes, asks the user,
// imports on "Ja", cleans up, exports, uploads, backs up and counts.
//
// The driver never touches a window: it speaks to a SyncView. Every external
// step's exit status is checked; a failed step is logged always, the run stops
// before anything that would delete or overwrite data, the counter stays, and
// the user is told which step failed.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <memory>
#include <string>

#include "kept/account_files.h"
#include "sync/logger.h"
#include "settings/settings.h"
#include "kept/run_history.h"
#include "sync/import_session.h"
#include "sync/sync_view.h"
#include "server/transfer.h"
#include "db/dbase.h"
#include "export/export.h"
#include "import/import_context.h"
#include "import/import_summary.h"
#include "import/node_list.h"
#include "util/daynumber.h"
#include "util/outcome.h"

namespace kelvanor {

// The line that opens a run in the log: "===== Synchronisation am
// 09.12.2026 um 21:05 =====".
std::string RunSeparator(const CivilTime& moment);
// The line that sums up an import that committed: when, what in words (the
// preview's summary, `received`), and where the backup of the lines is.
std::string ImportedSummaryLine(const CivilTime& moment, const std::string& received,
                                const std::string& backup);

class SyncDriver {
 public:
  enum class State {
    kIdle,              // a sync may start
    kRunning,           // a step is under way
    kWaitingForAnswer,  // the import question waits for AnswerImport
  };

  // `db` may be null when the database could not be opened at start.
  SyncDriver(SyncView& view, const Folders& folders, Settings& settings, TDBase* db);

  // Starts a run (the sync button). Ignored while a run is under way or waits
  // for the import answer.
  void StartSync();
  // The answer to the import question: true imports and finishes the sync,
  // false only removes the download. Ignored unless the question waits.
  void AnswerImport(bool import);
  // Imports a dated backup of received data again (the history's "Aus
  // Sicherung importieren"): the same preview, question and import as after
  // a download, with every run the journal remembers counting as imported,
  // and nothing asked of the server. Waits for AnswerImport like a sync.
  void StartBackupImport(const std::string& path);

  State GetState() const { return state_; }
  bool IsBusy() const { return state_ != State::kIdle; }
  const TreeModel& Tree() const { return tree_; }
  // How the last run went (still ok while it waits for the answer).
  const Outcome& LastOutcome() const { return lastOutcome_; }
  // What the status shows of the run so far (see SyncView::ShowStatus).
  std::string Status() const;

 private:
  class RunEnd;

  // A run starts: nothing of the last one's end stays in the status; the log
  // opens it with a dated line.
  void BeginRun();
  void RunFirstSync();
  void RunLaterSync();
  // Counts the received lines; puts the import question, or handles the case
  // without changes.
  void AskImport();
  void Import();
  void DeclineImport();
  // Export, upload, backup and counting; false when a step failed.
  bool FinishSync();
  // UploadData, remembering whether an upload is owed (see
  // ReadUploadPending); false when it failed.
  bool Upload();
  void RememberUploadPending(bool pending);
  bool RemoveDownloadFolder();
  bool RunExport();
  bool Check(const Outcome& outcome);
  void Fail(const Outcome& outcome);
  void Fail(const std::string& message);
  void SetState(State state);
  std::string DownloadFolderForRmdir() const;
  // Writes the dated backup of the received tree the first time in a run and
  // gives its path ("" for a tree without files).
  std::string SaveBackupOnce();
  // Takes the lock of the database and account (see AccountFiles) for this
  // run; raises with a German message when another sync holds it.
  void LockAccount();
  // Lets the import journal forget the lines the download `tree` no longer
  // holds, when `facts` show it complete (nothing else may: an old archive
  // lacks what the server still holds).
  void ForgetLinesGoneFromServer(const TreeModel& tree, const DownloadFacts& facts);
  // Fetches the server's change files once more, into a scratch folder
  // beside tmp_dl, and reads them into `fresh`; the outcome of the transfer.
  Outcome FetchAgain(TreeModel& fresh, DownloadFacts& facts);
  // For a download that cannot be shown complete: says so, and refuses it
  // (false, the run failed) when it is older than what the journal was last
  // compared with, since it may hold lines the journal has forgotten.
  bool AcceptOldArchive();
  // Keeps the files just uploaded as the mobile's view of the practice.
  void KeepBase();
  void EnsureLocalFolder() const;
  // The history of the runs (run_history.h): the start of this one, what its
  // import did, and its end (see RunEnd).
  void BeginHistory(const char* kind);
  void NoteImport(const ImportSession::Result& imported);
  void RememberRun();

  SyncView& view_;
  const Folders& folders_;
  Settings& settings_;
  TDBase* db_;
  Logger log_;
  ExportState exportState_;
  TreeModel tree_;
  State state_ = State::kIdle;
  Outcome lastOutcome_;
  std::string backupPath_;  // the backup written in this run, if any
  // How far this run came, for the status: the import committed, the server
  // asked to delete what it sent (or it held nothing), the run done to the
  // end; the lines the import did not take.
  bool imported_ = false;
  bool deleted_ = false;
  bool finished_ = false;
  std::size_t notImported_ = 0;
  // What the download of this run showed of the server.
  DownloadFacts downloaded_;
  // This run imports a backup: no server, no backup of the backup.
  bool backupImport_ = false;
  // The preview, question and import of what this run downloaded.
  std::unique_ptr<ImportSession> session_;
  // This run in the history, and what it will say of it.
  std::unique_ptr<RunHistory> history_;
  int64_t historyRun_ = 0;
  RunRecord record_;

  // The files of the practice database and account, and their lock, held
  // from the start of a run to its end (the question waiting included).
  AccountFiles accountFiles_;
  std::unique_ptr<InstanceLock> accountLock_;
};

}  // namespace kelvanor
