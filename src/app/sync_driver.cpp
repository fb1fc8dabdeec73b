#include "app/sync_driver.h"

#include <exception>
#include <filesystem>

#include "app/command_batch.h"
#include "app/import_question.h"
#include "app/logger.h"
#include "app/mobile_base.h"
#include "app/received_tree.h"
#include "app/transfer.h"
#include "import/import.h"
#include "import/import_journal.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/files.h"

namespace kelvanor {

namespace {
const char kNoChangesQuestion[] =
    "Keine \xC4nderungen auf dem Server.\r\r"
    "\xC4nderungen vom PC/Laptop zum Server \xFC" "bertragen?";

// What the user reads for an error: a failure of the database says in German
// what is wrong with it.
std::string UserText(const std::exception& error) {
  if (const auto* failure = dynamic_cast<const EDatabaseFailure*>(&error)) {
    return failure->UserMessage();
  }
  return error.what();
}

std::string StepFailedMessage(const std::string& step, int exitCode) {
  TransferResult failed;
  failed.ok = false;
  failed.failedStep = step;
  failed.exitCode = exitCode;
  return failed.Message();
}
}  // namespace

SyncDriver::SyncDriver(ISyncView& view, const Folders& folders, Settings& settings, TDBase* db)
    : view_(view), folders_(folders), settings_(settings), db_(db) {}

void SyncDriver::SetState(State state) {
  state_ = state;
  view_.SetBusy(state != State::Idle);
}

void SyncDriver::LogLine(const std::string& text) { Logger(view_, settings_.DebugLog).LogLine(text); }

void SyncDriver::Step(const std::string& text) { Logger(view_, settings_.DebugLog).Step(text); }

void SyncDriver::Fail(const std::string& message) {
  lastError_ = message;
  view_.AppendMemo(message);
  view_.ShowError(message);
}

void SyncDriver::EnsureLocalFolder() const {
  // tmp.bat and the download folder live here; a counter copied from another
  // installation must not make the first command fail for want of a folder.
  if (DirectoryExists(settings_.local_dir)) return;
  std::error_code error;
  std::filesystem::create_directories(SystemPath(settings_.local_dir), error);
  if (error) {
    throw EInOutError("Ordner kann nicht angelegt werden: " + settings_.local_dir);
  }
}

std::string SyncDriver::DownloadFolderForRmdir() const { return settings_.local_dir + "tmp_dl/"; }

void SyncDriver::btnSyncClick() {
  if (state_ != State::Idle) return;  // one run at a time
  lastError_.clear();
  backupPath_.clear();
  const std::string problem = CheckCommandLineSettings(settings_);
  if (!problem.empty()) {
    Fail(problem);
    return;
  }
  SetState(State::Running);
  try {
    EnsureLocalFolder();
    if (ReadSyncCounter(folders_) == 0) {
      RunFirstSync();
    } else {
      RunLaterSync();
    }
  } catch (const std::exception& e) {
    Fail(UserText(e));
    view_.HideImportPanel();
    SetState(State::Idle);
  }
}

bool SyncDriver::RunExport() {
  if (db_ == nullptr) {
    Fail("Die Praxis-Datenbank ist nicht ge\xF6" "ffnet; es kann nichts exportiert werden.");
    return false;
  }
  const ExportResult result = ExportMobileData(*db_, folders_.MobileFolder, view_, exportState_,
                                               ExportEnvironment::ForThisProgram());
  if (result != ExportResult::Written) {
    // The export showed its own error box; the run must not upload old files.
    lastError_ = "Kann Verzeichnis " + folders_.MobileFolder + " nicht erstellen.";
    view_.AppendMemo(lastError_);
    return false;
  }
  return true;
}

void SyncDriver::RunFirstSync() {
  const uint16_t counter = ReadSyncCounter(folders_);
  Step("1) Datens\xE4tze aus dasTessavor exportieren.");
  if (!RunExport()) {
    SetState(State::Idle);
    return;
  }
  Step("2) Datens\xE4tze auf den Server HOCH-laden.");
  Logger logger(view_, settings_.DebugLog);
  const TransferResult upload = UploadData(settings_, logger);
  if (!upload.ok) {
    Fail(upload.Message());
    SetState(State::Idle);
    return;
  }
  KeepBase();
  WriteSyncCounter(folders_, static_cast<uint16_t>(counter + 1));
  Step("fertig!");
  SetState(State::Idle);
}

void SyncDriver::RunLaterSync() {
  Step("1) Datens\xE4tze vom Server HERUNTER-laden.");
  Logger logger(view_, settings_.DebugLog);
  const TransferResult download = DownloadData(settings_, folders_, logger);
  if (!download.ok) {
    // Never shown as "no changes": the user must know nothing arrived.
    Fail(download.Message());
    SetState(State::Idle);
    return;
  }
  ReadReceivedFiles(settings_, [this](const std::string& t) { LogLine(t); }, tree_);
  view_.TreeChanged(tree_);
  ShowChangePreview();
  Step("2) \xC4nderungen importieren");
  AskImport();
}

int SyncDriver::AskImport() {
  int total = 0;
  const std::string question = BuildImportQuestion(tree_, &total);
  if (total > 0) {
    SetState(State::WaitingForAnswer);
    view_.ShowImportPanel(question);
    return total;
  }
  // The server holds no change line any more, so none of the journaled ones
  // can come back.
  ForgetImportedLines();
  if (view_.AskYesNo(kNoChangesQuestion)) {
    if (!FinishSync()) {
      SetState(State::Idle);
      return total;
    }
  } else {
    SaveReceivedTree(folders_, [this](const std::string& t) { LogLine(t); }, tree_);
    LogLine("L\xF6sche Verzeichnis \"" + DownloadFolderForRmdir() + "\" ...");
    if (RemoveDownloadFolder()) {
      LogLine("Verzeichnis gel\xF6scht - \"" + DownloadFolderForRmdir() + "\"");
    }
  }
  SetState(State::Idle);
  return total;
}

bool SyncDriver::RemoveDownloadFolder() {
  const int status = RunCommand(RemoveDownloadFolderCommand(settings_), settings_.local_dir, view_);
  if (status != 0) {
    Fail(StepFailedMessage("rmdir", status));
    return false;
  }
  return true;
}

void SyncDriver::btn_yesClick() {
  if (state_ != State::WaitingForAnswer) return;
  SetState(State::Running);
  view_.SetImportLabel("Bitte warten ...");
  view_.SetImportButtonsEnabled(false);
  ImportSummary summary;
  try {
    if (db_ == nullptr) {
      throw Exception("Die Praxis-Datenbank ist nicht ge\xF6" "ffnet; es kann nichts importiert werden.");
    }
    const std::unique_ptr<FieldMerge> merge = PrepareFieldMerge(*db_, folders_);
    summary = ImportMobileChanges(*db_, tree_, folders_.ImportJournalFile(), merge.get());
  } catch (const std::exception& e) {
    // The import is one transaction: nothing of it was written. The change
    // files stay on the server and in tmp_dl, so a later sync brings them again.
    Fail(std::string("Der Import ist fehlgeschlagen, es wurde nichts \xFC" "bernommen: ") +
         UserText(e));
    view_.SetImportButtonsEnabled(true);
    view_.HideImportPanel();
    SetState(State::Idle);
    return;
  }
  // Told now that the database is free again, so the host program can save
  // while the user reads.
  for (const std::string& line : summary.LogLines()) Step(line);
  if (!summary.failures.empty()) view_.ShowError(summary.FailureMessage());
  if (!summary.conflicts.empty()) view_.ShowInfo(summary.ConflictMessage());
  try {
    // Every received line is on disk before the server is asked to forget it.
    SaveBackupOnce();
    LogLine("Server-Delmob.php (s. tmp.bat) ...");
    const int status = RunCommand("curl.exe " + settings_.servers.base + "/mob/delmob.php?kd=" +
                                      UrlEncodeAccountName(settings_.name),
                                  settings_.local_dir, view_);
    if (status != 0) {
      // The import stays committed and journaled: the next sync brings the
      // same lines again and skips them.
      Fail(StepFailedMessage("Server-Delmob.php", status));
    } else {
      LogLine("Server-Delmob.php fertig - !");
      ForgetImportedLines();
      LogLine("rmdir (s. tmp.bat) ...");
      if (RemoveDownloadFolder()) {
        LogLine("rmdir fertig - \"" + DownloadFolderForRmdir() + "\"");
        FinishSync();
      }
    }
  } catch (const std::exception& e) {
    Fail(UserText(e));
  }
  view_.SetImportButtonsEnabled(true);
  view_.HideImportPanel();
  SetState(State::Idle);
}

void SyncDriver::KeepBase() {
  try {
    KeepUploadedFilesAsBase(settings_, folders_);
  } catch (const std::exception& e) {
    // The upload itself went well; the next import merely writes whole records.
    Step("Hinweis: " + std::string(e.what()));
  }
}

void SyncDriver::ShowChangePreview() {
  if (db_ == nullptr) return;
  try {
    const std::unique_ptr<FieldMerge> merge = PrepareFieldMerge(*db_, folders_);
    if (merge) view_.ShowChangeDetails(DescribeChanges(*db_, tree_, *merge));
  } catch (const std::exception&) {
    // Without a preview the raw lines still show what arrived.
  }
}

std::string SyncDriver::SaveBackupOnce() {
  if (backupPath_.empty()) {
    backupPath_ = SaveReceivedTree(folders_, [this](const std::string& t) { LogLine(t); }, tree_);
  }
  return backupPath_;
}

void SyncDriver::ForgetImportedLines() {
  if (db_ != nullptr) ImportJournal::Clear(*db_, folders_.ImportJournalFile());
}

void SyncDriver::btn_noClick() {
  if (state_ != State::WaitingForAnswer) return;
  SetState(State::Running);
  try {
    LogLine("rmdir (s. tmp.bat) ...");
    if (RemoveDownloadFolder()) LogLine("rmdir fertig - \"" + DownloadFolderForRmdir() + "\"");
  } catch (const std::exception& e) {
    Fail(e.what());
  }
  view_.SetImportButtonsEnabled(true);
  view_.HideImportPanel();
  SetState(State::Idle);
}

bool SyncDriver::FinishSync() {
  Step("3) Datens\xE4tze aus dasTessavor exportieren.");
  if (!RunExport()) return false;
  Step("4) Datens\xE4tze auf den Server HOCH-laden.");
  Logger logger(view_, settings_.DebugLog);
  const TransferResult upload = UploadData(settings_, logger);
  if (!upload.ok) {
    Fail(upload.Message());
    return false;
  }
  KeepBase();
  Step("5) Tmp-Mobil Datens\xE4tze lokal sichern.");
  SaveBackupOnce();
  WriteSyncCounter(folders_, static_cast<uint16_t>(ReadSyncCounter(folders_) + 1));
  Step("fertig!");
  tree_.Clear();
  view_.TreeChanged(tree_);
  return true;
}

}  // namespace kelvanor
