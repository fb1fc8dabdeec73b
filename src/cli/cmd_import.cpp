// kelvanor-cli import: the import half of a later sync, on change files that
// already lie in a folder, or on a dated backup of received data (--backup:
// an import undone, or a practice put back from elsewhere, gets its data
// again). Shows what arrived exactly as the window's tree and question do,
// then imports only on an explicit yes. The run goes into the history.
#include <iostream>
#include <string>

#include "kept/account_files.h"
#include "kept/run_history.h"
#include "sync/import_question.h"
#include "sync/import_session.h"
#include "sync/logger.h"
#include "sync/received_tree.h"
#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "import/import.h"
#include "import/received_preview.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor::cli {

namespace {

std::string WithSeparator(const std::string& folder) {
  if (folder.empty() || folder.back() == kPathSep) return folder;
  return folder + kPathSep;
}

// Only "j"/"ja"/"y"/"yes" imports; Enter, anything else or the end of input
// keeps the database as it is.
bool AskOnTerminal() {
  PrintOut("Importieren? [j/N] ");
  std::string answer;
  if (!std::getline(std::cin, answer)) {
    PrintOut("\n");
    return false;
  }
  return ParseYesNo(answer).value_or(false);
}

// The session's log on stdout (with the detail lines the settings ask for),
// its boxes on stderr.
}  // namespace

// The run in the history from its start to its end, whichever way it ends.
class HistoryRun {
 public:
  HistoryRun(const AccountFiles& files, const char* kind, TerminalView& view)
      : history_(files.history) {
    if (!history_.Trouble().empty()) view.Log("Hinweis: " + history_.Trouble());
    id_ = history_.Begin(kind);
  }
  ~HistoryRun() {
    if (id_ == 0) return;
    record.outcome = failed ? kOutcomeFailed : kOutcomeDone;
    history_.End(id_, record);
  }
  RunRecord record;
  bool failed = true;

 private:
  RunHistory history_;
  int64_t id_ = 0;
};

int CmdImport(const CliOptions& options) {
  CliContext context = LoadCliContext(options);
  const std::string folder = options.hasDir ? WithSeparator(options.dir)
                                             : context.settings.local_dir + "tmp_dl" + kPathSep;
  if (options.hasDir && !DirectoryExists(folder)) {
    PrintErr("Ordner nicht gefunden: " + folder + "\n");
    return kExitUsage;
  }

  TreeModel tree;
  if (options.hasBackup) {
    try {
      ReadBackupFile(options.backupFile, context.settings.ChangeFiles, tree);
    } catch (const std::exception& e) {
      PrintErr(std::string(e.what()) + "\n");
      return kExitError;
    }
  } else {
    ReadReceivedFilesFrom(folder, context.settings.ChangeFiles, nullptr, tree);
  }
  int total = 0;
  const std::string question = BuildImportQuestion(tree, &total);
  if (total == 0) {
    PrintReceived(tree, DescribeReceived(nullptr, tree, nullptr));
    PrintOut(ForTerminal(question) + "\n");
    PrintErr("Keine Mobildaten zum Importieren.\n");
    return kExitOk;
  }
  // The account's journal (see below) is named after it.
  const Outcome account = CheckAccountName(context.settings.name);
  if (!account.IsOk()) {
    PrintErr(account.Message() + "\n");
    return kExitError;
  }
  // The preview compares with the practice, and the question is answered
  // for the state it shows: the database is held from here on.
  if (!OpenCliDatabase(context)) return kExitError;
  // A sync of the same database and account elsewhere would import the same
  // lines meanwhile.
  const AccountFiles files = AccountFilesOf(context.db->FileName(), context.settings.name);
  // The mobil folder holds the backups of every account of this Kelvanor:
  // another account's data would become this account's records.
  if (options.hasBackup) {
    const std::string other =
        OtherAccountOfBackup(context.db->FileName(), context.settings.name, options.backupFile);
    if (!other.empty()) {
      PrintErr(options.backupFile + " ist eine Sicherung des Kontos " + other +
               ", nicht des Kontos " + context.settings.name +
               W1252("; es wurde nichts geändert.\n"));
      return kExitError;
    }
  }
  std::unique_ptr<InstanceLock> accountLock;
  try {
    accountLock = LockAccountFiles(*context.db, context.folders, context.settings.name, files);
  } catch (const std::exception& e) {
    PrintErr(std::string(e.what()) + "\n");
    return kExitError;
  }

  // The same preview, question and import as after a sync's download, with
  // the same journal: a folder a failed sync left behind holds lines that
  // sync imported already.
  // A backup's lines may be those of a run the server dropped long since:
  // the journal then knows them by all it remembers.
  TerminalView view;
  Logger log(view, context.settings.DebugLog);
  ImportSession session(view, log, context.folders, context.db.get(), files, tree,
                        options.hasBackup ? JournalScope::kBackupImport : JournalScope::kServer);
  session.ShowPreview();
  PrintOut(ForTerminal(session.Question(nullptr)) + "\n");

  if (!options.yes) {
    if (!StdinIsTerminal()) {
      PrintErr("Ohne Terminal wird nur mit --yes importiert; es wurde nichts importiert.\n");
      return kExitUsage;
    }
    if (!AskOnTerminal()) {
      PrintErr("Es wurde nichts importiert.\n");
      return kExitOk;
    }
  }
  HistoryRun run(files, options.hasBackup ? kRunBackupImport : kRunFolderImport, view);
  run.record.received = session.Summary();
  if (options.hasBackup) run.record.backup = options.backupFile;
  // A backup is not backed up again.
  const ImportSession::Result imported = session.Import(!options.hasBackup);
  NoteImport(imported, run.record.received, run.record);
  if (!imported.outcome.IsOk()) {
    run.record.step = imported.outcome.Step();
    run.record.message = imported.outcome.Message();
    PrintErr("Fehler: " + ForTerminal(imported.outcome.Message()) + "\n");
    return kExitError;
  }
  // Imported: lines it refused are in the history as not imported.
  run.failed = false;
  if (!imported.summary.failures.empty() || view.HadError()) return kExitError;
  PrintErr("Import abgeschlossen.\n");
  return kExitOk;
}

}  // namespace kelvanor::cli
