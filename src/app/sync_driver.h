// One sync run as the sync button starts it: the first sync exports and
// uploads; every later sync downloads the mobile's changes, asks the user,
// imports on "Ja", cleans up, exports, uploads, backs up and counts.
//
// The driver never touches a window: it speaks to an ISyncView. Every external
// step's exit status is checked; a failed step is logged always, the run stops
// before anything that would delete or overwrite data, the counter stays, and
// the user is told which step failed.
#pragma once

#include <string>

#include "app/settings.h"
#include "app/sync_view.h"
#include "db/dbase.h"
#include "export/export.h"
#include "import/node_list.h"

namespace kelvanor {

class SyncDriver {
 public:
  enum class State {
    Idle,              // pnlBottom shown; a click on the sync button starts a run
    Running,           // a step is under way
    WaitingForAnswer,  // pnlImport shown; btn_yes / btn_no decide
  };

  // `db` may be null when the database could not be opened at start.
  SyncDriver(ISyncView& view, const Folders& folders, Settings& settings, TDBase* db);

  // The sync button. Ignored while a run is under way or waiting for an answer.
  void btnSyncClick();
  // Counts the received lines; shows the import question or handles the case
  // without changes. Returns the number of line nodes (header lines included).
  int AskImport();
  void btn_yesClick();
  void btn_noClick();

  State GetState() const { return state_; }
  bool IsBusy() const { return state_ != State::Idle; }
  const TreeModel& Tree() const { return tree_; }
  // The outcome of the last run: empty when it went well (or is still waiting),
  // else the German message the user was shown.
  const std::string& LastError() const { return lastError_; }

 private:
  void RunFirstSync();
  void RunLaterSync();
  // Export, upload, backup and counting; false when a step failed.
  bool FinishSync();
  bool RemoveDownloadFolder();
  bool RunExport();
  void Fail(const std::string& message);
  void SetState(State state);
  void LogLine(const std::string& text);
  void Step(const std::string& text);
  std::string DownloadFolderForRmdir() const;
  // Writes the dated backup of the received tree the first time in a run and
  // gives its path ("" for a tree without files).
  std::string SaveBackupOnce();
  // Empties the import journal once the server has dropped its change files.
  void ForgetImportedLines();
  // Keeps the files just uploaded as the mobile's view of the practice.
  void KeepBase();
  // Shows, beside the received lines, which fields each changed record changes.
  void ShowChangePreview();
  void EnsureLocalFolder() const;

  ISyncView& view_;
  const Folders& folders_;
  Settings& settings_;
  TDBase* db_;
  ExportState exportState_;
  TreeModel tree_;
  State state_ = State::Idle;
  std::string lastError_;
  std::string backupPath_;  // the backup written in this run, if any
};

}  // namespace kelvanor
