#include "sync/sync_driver.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <map>
#include <system_error>

#include "server/command_batch.h"
#include "server_checks/connection_check.h"
#include "sync/import_question.h"
#include "sync/logger.h"
#include "kept/mobile_base.h"
#include "kept/office_lists.h"
#include "sync/received_tree.h"
#include "server/transfer.h"
#include "import/import.h"
#include "import/import_journal.h"
#include "import/received_data.h"
#include "import/import_summary.h"
#include "import/received_preview.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/daynumber.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
constexpr const char* kNoChangesQuestion = W1252(
    "Keine Änderungen auf dem Server.\r\r"
    "Änderungen vom PC/Laptop zum Server übertragen?");
// Added to the question while an upload is owed: "Nein" then leaves the
// mobile on older data than the practice's.
constexpr const char* kUploadPendingNote = W1252(
    "\r\rDie letzte Übertragung zum Server ist fehlgeschlagen: Bei \"Nein\" arbeitet "
    "das Mobilgerät weiter mit dem alten Stand.");
constexpr const char* kUploadDeclined =
    W1252("Nicht übertragen: Das Mobilgerät arbeitet weiter mit dem alten Stand.");
// What a failed transfer means at its place in the run.
constexpr const char* kNothingChanged = W1252("Es wurde nichts verändert.");
constexpr const char* kMobileOnOldData =
    W1252("Das Mobilgerät arbeitet weiter mit dem alten Stand, bis eine Übertragung gelingt.");
constexpr const char* kImportedNotDeleted =
    W1252("Die Mobildaten sind in die Datenbank übernommen.");
constexpr const char* kNextSyncFinishes = W1252(
    "Die nächste Synchronisation bringt sie noch einmal, übernimmt nichts doppelt "
    "und schließt den Abgleich ab.");
constexpr const char* kImportDeclined = W1252(
    "Nicht importiert: Die Mobildaten bleiben auf dem Server und kommen bei der nächsten "
    "Synchronisation wieder.");

// The failure with what it means here: `before` and `after` as lines of
// their own around the transfer's message.
Outcome InContext(const Outcome& outcome, const std::string& before, const std::string& after) {
  if (outcome.IsOk()) return outcome;
  return Outcome::Failed(outcome.Step(), outcome.ExitCode(),
                         (before.empty() ? "" : before + "\r") + outcome.Message() +
                             (after.empty() ? "" : "\r" + after));
}

constexpr const char* kNewLinesArrived = W1252(
    "Während dieser Synchronisation sind neue Mobildaten auf dem Server angekommen. Die "
    "Mobildaten auf dem Server wurden deshalb nicht gelöscht; die nächste "
    "Synchronisation zeigt die neuen an (was jetzt übernommen wurde, übernimmt sie "
    "nicht noch einmal).");
// The second look at the server's change files, beside tmp_dl.
const char kFetchAgainFolder[] = "tmp_dl_neu";

// An archive that cannot be shown packed for this run: what the mobile wrote
// since it was packed is not in it, and a delete request would drop that.
std::string OldArchiveMessage(const DownloadFacts& facts) {
  return W1252("Der Server hat ein altes Archiv mit den Änderungen vom Mobilgerät geliefert (") +
         facts.Describe() +
         W1252("): Was das Mobilgerät seitdem geschrieben hat, fehlt darin womöglich. Die "
               "Mobildaten auf dem Server wurden deshalb nicht gelöscht; die nächste "
               "Synchronisation versucht es erneut.\rBleibt es dabei, bitte den Betreiber des "
               "Servers fragen (ein Zwischenspeicher vor /mob/transfer/, oder zip.php kann nicht "
               "mehr packen).");
}

// The record lines of the change files in `tree` (all forms of a record the
// tree merged), counted.
std::map<std::string, std::size_t> RecordLinesOf(const TreeModel& tree) {
  std::map<std::string, std::size_t> lines;
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    for (const ReceivedLine& record : file.records) {
      ++lines[file.name + '\n' + record.Text()];
      for (const std::string& earlier : record.Replaced()) ++lines[file.name + '\n' + earlier];
    }
  }
  return lines;
}

// Whether `fresh` holds a line, or a line more often, than `seen`.
bool HoldsLinesNotIn(const TreeModel& fresh, const TreeModel& seen) {
  const std::map<std::string, std::size_t> shown = RecordLinesOf(seen);
  for (const auto& [line, count] : RecordLinesOf(fresh)) {
    const auto found = shown.find(line);
    if (found == shown.end() || found->second < count) return true;
  }
  return false;
}

}  // namespace

std::string RunSeparator(const CivilTime& moment) {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d", moment.hour, moment.minute);
  return "===== Synchronisation am " + ShortDateText(moment) + " um " + time + " =====";
}

std::string ImportedSummaryLine(const CivilTime& moment, const std::string& received,
                                const std::string& backup) {
  char time[16];
  std::snprintf(time, sizeof time, "%02d:%02d", moment.hour, moment.minute);
  std::string line = "Importiert am " + ShortDateText(moment) + " um " + time + ": " +
                     (received.empty() ? std::string("nichts") : received) + ".";
  if (!backup.empty()) line += W1252(" Die empfangenen Daten sind gesichert in ") + backup + ".";
  return line;
}

// Whatever way a run or an answer leaves (done, failed, an error): the
// import question closes and the window's buttons come back, unless the run
// now waits for the answer.
class SyncDriver::RunEnd {
 public:
  explicit RunEnd(SyncDriver& driver) : driver_(driver) {}
  ~RunEnd() {
    if (driver_.state_ == State::kWaitingForAnswer) return;
    try {
      driver_.RememberRun();
    } catch (...) {
      // The history is a memory; the run is over either way.
    }
    driver_.accountLock_.reset();
    try {
      driver_.view_.ShowStatus(driver_.Status());
      driver_.view_.CloseImportQuestion();
    } catch (...) {
      // The window goes on without it; the state below is what counts.
    }
    driver_.SetState(State::kIdle);
  }
  RunEnd(const RunEnd&) = delete;
  RunEnd& operator=(const RunEnd&) = delete;

 private:
  SyncDriver& driver_;
};

SyncDriver::SyncDriver(SyncView& view, const Folders& folders, Settings& settings, TDBase* db)
    : view_(view), folders_(folders), settings_(settings), db_(db), log_(view, settings.DebugLog) {}

void SyncDriver::SetState(State state) {
  state_ = state;
  view_.Busy(state != State::kIdle);
}

bool SyncDriver::Check(const Outcome& outcome) {
  if (outcome.IsOk()) return true;
  Fail(outcome);
  return false;
}

void SyncDriver::Fail(const Outcome& outcome) {
  lastOutcome_ = outcome;
  // A message breaks its lines with carriage returns; the log takes lines.
  for (const std::string& line : SplitLines(outcome.Message())) {
    if (!line.empty()) log_.Step(line);
  }
  view_.ShowStatus(Status());
  view_.ReportError(outcome.Message());
}

void SyncDriver::Fail(const std::string& message) {
  Fail(Outcome::Failed("Synchronisation", 0, message));
}

void SyncDriver::EnsureLocalFolder() const {
  // tmp.bat and the download folder live in local_dir, the backups in the
  // mobil folder; a counter copied from another installation must not make
  // the first command fail for want of a folder.
  for (const std::string& folder : {settings_.local_dir, folders_.MobileFolder}) {
    if (DirectoryExists(folder)) continue;
    std::error_code error;
    std::filesystem::create_directories(SystemPath(folder), error);
    if (error) throw EInOutError("Ordner kann nicht angelegt werden: " + folder);
  }
}

std::string SyncDriver::DownloadFolderForRmdir() const {
  return settings_.local_dir + "tmp_dl" + kPathSep;
}

std::string SyncDriver::Status() const {
  const std::string notTaken =
      notImported_ == 0 ? std::string()
                        : Counted(notImported_, "Zeile", "Zeilen") + W1252(" nicht übernommen");
  if (imported_ && !deleted_) {
    // The practice has the lines; only the server still holds them, and the
    // next sync, skipping them, finishes the delete.
    return W1252("importiert; Löschen auf dem Server nachholen") +
           (notTaken.empty() ? "" : "; " + notTaken);
  }
  if (!lastOutcome_.IsOk()) {
    return imported_ ? W1252("importiert; Übertragung zum Mobilgerät nachholen")
                     : "abgebrochen!";
  }
  if (!finished_) return std::string();
  return notTaken.empty() ? "fertig!" : "fertig, " + notTaken;
}

void SyncDriver::BeginRun() {
  lastOutcome_ = Outcome::Ok();
  imported_ = deleted_ = finished_ = false;
  notImported_ = 0;
  view_.ShowStatus(std::string());
  log_.Step(RunSeparator(NowCivil()));
}

void SyncDriver::StartSync() {
  if (state_ != State::kIdle) return;  // one run at a time
  BeginRun();
  backupPath_.clear();
  session_.reset();
  downloaded_ = DownloadFacts();
  backupImport_ = false;
  if (!Check(CheckCommandLineSettings(settings_))) return;
  SetState(State::kRunning);
  RunEnd end(*this);
  // Whether the practice's data travels encrypted, said once for the run.
  log_.ForgetHints();
  log_.Step(TransferModeLine(settings_.servers));
  try {
    // The office may have put the practice back meanwhile (the host's own
    // backup, a copy): a connection kept from the last run would still
    // write into the file that was replaced.
    if (db_ != nullptr) db_->Reopen();
    EnsureLocalFolder();
    LockAccount();
    BeginHistory(ReadSyncCounter(folders_) == 0 ? kRunFirstSync : kRunSync);
    if (ReadSyncCounter(folders_) == 0) {
      RunFirstSync();
    } else {
      RunLaterSync();
    }
  } catch (const std::exception& e) {
    Fail(UserText(e));
  }
}

void SyncDriver::StartBackupImport(const std::string& path) {
  if (state_ != State::kIdle) return;
  BeginRun();
  // Nothing of it is on the server: there is nothing to delete there.
  deleted_ = true;
  backupPath_.clear();
  session_.reset();
  downloaded_ = DownloadFacts();
  backupImport_ = true;
  SetState(State::kRunning);
  RunEnd end(*this);
  try {
    if (db_ != nullptr) db_->Reopen();
    EnsureLocalFolder();
    LockAccount();
    BeginHistory(kRunBackupImport);
    record_.backup = path;
    log_.Step("Aus Sicherung importieren: " + path);
    ReadBackupFile(path, settings_.ChangeFiles, tree_);
    // The mobil folder holds the backups of every account of this Kelvanor.
    const std::string other =
        db_ == nullptr ? std::string() : OtherAccountOfBackup(db_->FileName(), settings_.name, path);
    if (!other.empty()) {
      tree_.Clear();
      Fail(path + " ist eine Sicherung des Kontos " + other + ", nicht des Kontos " +
           settings_.name + W1252("; es wurde nichts geändert."));
      return;
    }
    session_ = std::make_unique<ImportSession>(view_, log_, folders_, db_, accountFiles_, tree_,
                                               JournalScope::kBackupImport);
    session_->ShowPreview();
    int total = 0;
    const std::string question = session_->Question(&total);
    record_.received = session_->Summary();
    if (total == 0) {
      log_.Step(W1252("Die Sicherung enthält nichts, was noch zu importieren wäre."));
      finished_ = true;
      log_.Step("fertig!");
      return;
    }
    SetState(State::kWaitingForAnswer);
    view_.OfferImport(question);
  } catch (const std::exception& e) {
    Fail(UserText(e));
  }
}

void SyncDriver::LockAccount() {
  accountFiles_ = AccountFiles();
  // Without the database the run fails where it needs it; nothing of the
  // practice's own files is touched before.
  if (db_ == nullptr) return;
  accountFiles_ = AccountFilesOf(db_->FileName(), settings_.name);
  accountLock_ = LockAccountFiles(*db_, folders_, settings_.name, accountFiles_);
}

bool SyncDriver::RunExport() {
  if (db_ == nullptr) {
    Fail(W1252("Die Praxis-Datenbank ist nicht geöffnet; es kann nichts exportiert werden."));
    return false;
  }
  // A failed export must not be followed by an upload of old files. The
  // files go where the upload takes them from: local_dir, which is the
  // mobil folder unless the user chose another.
  std::string folder = settings_.local_dir;
  while (folder.size() > 1 && std::strchr(kPathSeparators, folder.back()) != nullptr) {
    folder.pop_back();
  }
  return Check(ExportMobileData(*db_, folder, view_.ExportProgress(), exportState_,
                                ExportEnvironment::ForThisProgram()));
}

void SyncDriver::RunFirstSync() {
  const uint16_t counter = ReadSyncCounter(folders_);
  log_.Step(W1252("1) Datensätze aus dasTessavor exportieren."));
  if (!RunExport()) return;
  log_.Step(W1252("2) Datensätze auf den Server HOCH-laden."));
  if (!Upload()) return;
  KeepBase();
  WriteSyncCounter(folders_, static_cast<uint16_t>(counter + 1));
  finished_ = true;
  log_.Step("fertig!");
}

void SyncDriver::RunLaterSync() {
  log_.Step(W1252("1) Datensätze vom Server HERUNTER-laden."));
  // Never shown as "no changes": the user must know nothing arrived.
  if (!Check(InContext(DownloadData(settings_, folders_, log_, "tmp_dl", &downloaded_), "",
                       kNothingChanged))) {
    return;
  }
  if (downloaded_.serverEmpty) {
    log_.Step(W1252("zip.php hat nichts gepackt: keine Änderungen vom Mobilgerät."));
  }
  ReadReceivedFiles(settings_, &log_, tree_);
  if (!downloaded_.Complete() && !AcceptOldArchive()) return;
  session_ = std::make_unique<ImportSession>(view_, log_, folders_, db_, accountFiles_, tree_);
  // Only under the run's lock may the journal be opened; the session closes
  // it again before the import.
  session_->ShowPreview();
  log_.Step(W1252("2) Änderungen importieren"));
  AskImport();
}

bool SyncDriver::AcceptOldArchive() {
  log_.Step("Hinweis: Das Archiv auf dem Server ist alt (" + downloaded_.Describe() +
            W1252("); es wird nichts auf dem Server gelöscht."));
  int64_t comparedAt = 0;
  if (db_ != nullptr && accountLock_ != nullptr) {
    comparedAt = ImportJournal(accountFiles_.journal, *db_).ComparedWithServerAt();
  }
  if (comparedAt == 0 || (downloaded_.packedAt != 0 && downloaded_.packedAt >= comparedAt)) {
    // Nothing was forgotten since it was packed: every line of it an earlier
    // run imported is still known and skipped.
    return true;
  }
  Fail(W1252("Der Server hat ein veraltetes Archiv mit den Änderungen vom Mobilgerät geliefert (") +
       downloaded_.Describe() +
       W1252("), älter als der Stand, den eine frühere Synchronisation schon gesehen hat. Es "
             "wurde nichts importiert und nichts gelöscht.\rBitte später erneut synchronisieren; "
             "bleibt es dabei, den Betreiber des Servers fragen."));
  return false;
}

void SyncDriver::AskImport() {
  int total = 0;
  const std::string question = session_->Question(&total);
  record_.received = session_->Summary();
  const std::string oldArchive =
      downloaded_.Complete() ? std::string() : "\r\r" + OldArchiveMessage(downloaded_);
  if (total > 0) {
    SetState(State::kWaitingForAnswer);
    view_.OfferImport(question + oldArchive);
    return;
  }
  // The server holds no change line any more, so none of the journaled ones
  // can come back.
  ForgetLinesGoneFromServer(tree_, downloaded_);
  const bool uploadPending = ReadUploadPending(folders_);
  // An old archive without lines says nothing of what the server holds now.
  const std::string noChanges =
      downloaded_.Complete()
          ? std::string(kNoChangesQuestion)
          : OldArchiveMessage(downloaded_) +
                W1252("\r\rÄnderungen vom PC/Laptop zum Server übertragen?");
  if (view_.Ask(noChanges + (uploadPending ? kUploadPendingNote : ""))) {
    if (FinishSync() && !downloaded_.Complete()) Fail(OldArchiveMessage(downloaded_));
  } else {
    if (uploadPending) log_.Step(kUploadDeclined);
    SaveReceivedTree(folders_, &log_, tree_);
    log_.LogLine(W1252("Lösche Verzeichnis \"") + DownloadFolderForRmdir() + "\" ...");
    if (RemoveDownloadFolder()) {
      log_.LogLine(W1252("Verzeichnis gelöscht - \"") + DownloadFolderForRmdir() + "\"");
    }
  }
}

bool SyncDriver::RemoveDownloadFolder() {
  const int status = RunCommand(RemoveDownloadFolderCommand(settings_), settings_.local_dir, view_);
  return Check(status == 0 ? Outcome::Ok() : StepFailed("rmdir", status));
}

void SyncDriver::AnswerImport(bool import) {
  if (state_ != State::kWaitingForAnswer) return;
  SetState(State::kRunning);
  RunEnd end(*this);
  if (import) {
    Import();
  } else {
    DeclineImport();
  }
}

void SyncDriver::Import() {
  view_.ImportUnderWay();
  const ImportSession::Result imported = session_->Import(!backupImport_);
  NoteImport(imported);
  if (!imported.outcome.IsOk()) {
    Fail(imported.outcome);
    return;
  }
  imported_ = true;
  notImported_ = imported.summary.failures.size() + imported.summary.notTaken.size();
  if (backupImport_) {
    log_.Step(ImportedSummaryLine(NowCivil(), record_.received, record_.backup));
    finished_ = true;
    log_.Step("fertig!");
    return;
  }
  backupPath_ = imported.backup;
  log_.Step(ImportedSummaryLine(NowCivil(), record_.received, backupPath_));
  bool oldArchive = false;
  try {
    ForgetLinesGoneFromServer(tree_, downloaded_);
    // The mobile may have written more while the question was open: a delete
    // request now would drop lines nobody has seen. Only an archive packed
    // for this look shows what the server holds now.
    TreeModel fresh;
    DownloadFacts freshFacts;
    if (!Check(InContext(FetchAgain(fresh, freshFacts), kImportedNotDeleted, kNextSyncFinishes))) {
      return;
    }
    if (!freshFacts.Complete()) {
      // Told once the run is over, as its outcome.
      oldArchive = true;
      downloaded_ = freshFacts;
    } else if (HoldsLinesNotIn(fresh, tree_)) {
      log_.Step(kNewLinesArrived);
      view_.ReportInfo(kNewLinesArrived);
    } else {
      // A failed request leaves the import committed and journaled: the next
      // sync brings the same lines again and skips them.
      if (!Check(InContext(DeleteMobileChanges(settings_, log_), kImportedNotDeleted,
                           kNextSyncFinishes))) {
        return;
      }
      deleted_ = true;
      // An answer proves nothing (a script that fails softly answers 200):
      // what the server sends now tells which lines are gone, so that a new
      // line reading like an imported one counts as new.
      TreeModel after;
      DownloadFacts afterFacts;
      bool looked = false;
      try {
        looked = FetchAgain(after, afterFacts).IsOk() && afterFacts.Complete();
      } catch (const std::exception&) {
        // Told below; the import and the delete request are done.
      }
      if (looked) {
        ForgetLinesGoneFromServer(after, afterFacts);
      } else {
        log_.Step(
            W1252("Hinweis: Ob der Server die Mobildaten gelöscht hat, ließ sich nicht "
                  "nachsehen; die nächste Synchronisation sieht nach."));
      }
    }
    log_.LogLine("rmdir (s. tmp.bat) ...");
    if (!RemoveDownloadFolder()) return;
    log_.LogLine("rmdir fertig - \"" + DownloadFolderForRmdir() + "\"");
    // The mobile gets what was imported either way; the run still does not
    // end as a success when the server could not show all it holds.
    if (FinishSync() && oldArchive) Fail(OldArchiveMessage(downloaded_));
  } catch (const std::exception& e) {
    Fail(UserText(e));
  }
}

Outcome SyncDriver::FetchAgain(TreeModel& fresh, DownloadFacts& facts) {
  log_.LogLine("Mobildaten auf dem Server nachsehen ...");
  const Outcome fetched = DownloadData(settings_, folders_, log_, kFetchAgainFolder, &facts);
  const std::string folder = settings_.local_dir + kFetchAgainFolder + kPathSep;
  if (fetched.IsOk()) ReadReceivedFilesFrom(folder, settings_.ChangeFiles, nullptr, fresh);
  std::error_code ignored;
  std::filesystem::remove_all(SystemPath(folder), ignored);
  if (fetched.IsOk()) log_.LogLine("Mobildaten auf dem Server nachgesehen - " + folder);
  return fetched;
}

void SyncDriver::DeclineImport() {
  if (backupImport_) {
    log_.Step(W1252("Import aus der Sicherung abgelehnt; es wurde nichts geändert."));
    return;
  }
  log_.Step(kImportDeclined);
  // What was shown is not going to be imported: it must not stay on view as
  // if it were still on offer.
  tree_.Clear();
  view_.ClearReceived();
  try {
    ForgetLinesGoneFromServer(tree_, downloaded_);
    log_.LogLine("rmdir (s. tmp.bat) ...");
    if (RemoveDownloadFolder()) log_.LogLine("rmdir fertig - \"" + DownloadFolderForRmdir() + "\"");
  } catch (const std::exception& e) {
    Fail(UserText(e));
  }
}

void SyncDriver::KeepBase() {
  if (accountLock_ == nullptr) return;
  try {
    KeepUploadedFilesAsBase(settings_, accountFiles_.baseFolder);
  } catch (const std::exception& e) {
    // The upload itself went well; the next import merely writes whole records.
    log_.Step("Hinweis: " + std::string(e.what()));
  }
}

std::string SyncDriver::SaveBackupOnce() {
  if (backupPath_.empty()) backupPath_ = SaveReceivedTree(folders_, &log_, tree_);
  return backupPath_;
}

void SyncDriver::ForgetLinesGoneFromServer(const TreeModel& tree, const DownloadFacts& facts) {
  if (db_ == nullptr || accountLock_ == nullptr || !facts.Complete()) return;
  try {
    ImportJournal(accountFiles_.journal, *db_).ForgetLinesNotIn(tree, facts.ServerMoment());
  } catch (const std::exception& e) {
    // Kept, the lines are skipped should they come again; a new line that
    // reads the same is the only cost.
    log_.Step("Hinweis: " + UserText(e));
  }
}

bool SyncDriver::Upload() {
  const bool uploaded = Check(InContext(UploadData(settings_, log_), "", kMobileOnOldData));
  RememberUploadPending(!uploaded);
  return uploaded;
}

void SyncDriver::RememberUploadPending(bool pending) {
  try {
    if (pending || ReadUploadPending(folders_)) WriteUploadPending(folders_, pending);
  } catch (const std::exception&) {
    // Only the no-changes question reads it; an ini that cannot be written
    // is reported by the counter, or was by the failure at hand.
  }
}

bool SyncDriver::FinishSync() {
  log_.Step(W1252("3) Datensätze aus dasTessavor exportieren."));
  if (!RunExport()) {
    // What was imported, or changed in the office, has not reached the mobile.
    RememberUploadPending(true);
    return false;
  }
  log_.Step(W1252("4) Datensätze auf den Server HOCH-laden."));
  if (!Upload()) return false;
  KeepBase();
  const std::string backup = SaveBackupOnce();
  if (!backup.empty()) log_.Step(W1252("5) Empfangene Daten gesichert: ") + backup);
  WriteSyncCounter(folders_, static_cast<uint16_t>(ReadSyncCounter(folders_) + 1));
  finished_ = true;
  log_.Step("fertig!");
  tree_.Clear();
  view_.ClearReceived();
  return true;
}

void SyncDriver::BeginHistory(const char* kind) {
  history_.reset();
  historyRun_ = 0;
  record_ = RunRecord();
  if (db_ == nullptr || accountLock_ == nullptr) return;
  history_ = std::make_unique<RunHistory>(accountFiles_.history);
  if (!history_->Trouble().empty()) log_.Step("Hinweis: " + history_->Trouble());
  historyRun_ = history_->Begin(kind);
}

void SyncDriver::NoteImport(const ImportSession::Result& imported) {
  kelvanor::NoteImport(imported, record_.received, record_);
}

void SyncDriver::RememberRun() {
  if (history_ == nullptr || historyRun_ == 0) return;
  record_.outcome = lastOutcome_.IsOk() ? kOutcomeDone : kOutcomeFailed;
  if (!lastOutcome_.IsOk()) {
    record_.step = lastOutcome_.Step();
    record_.message = ReplaceAll(lastOutcome_.Message(), "\r", " ");
  }
  if (record_.backup.empty()) record_.backup = backupPath_;
  history_->End(historyRun_, record_);
  history_.reset();
  historyRun_ = 0;
}

}  // namespace kelvanor
