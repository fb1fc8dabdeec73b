// kelvanor-cli import: the import half of a later sync, on change files that
// already lie in a folder. Shows what arrived exactly as the window's tree and
// question do, then imports only on an explicit yes.
#include <iostream>
#include <string>

#include "kept/account_files.h"
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

// The question breaks its lines with carriage returns alone, as the window's
// label wants; a terminal needs line feeds.
std::string ForTerminal(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    if (c == '\r') c = '\n';
  }
  return out;
}

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
class CliImportView : public SyncView {
 public:
  bool HadError() const { return hadError_; }
  void Log(const std::string& line) override { PrintOut(line + "\n"); }
  void ReportError(const std::string& message) override {
    hadError_ = true;
    PrintErr("Fehler: " + ForTerminal(message) + "\n");
  }
  void ReportInfo(const std::string& message) override { PrintErr(ForTerminal(message) + "\n"); }
  void ShowReceived(const TreeModel& tree, const ChangeDetails& changes) override {
    PrintReceived(tree, changes);
  }

 private:
  bool hadError_ = false;
};

}  // namespace

int CmdImport(const CliOptions& options) {
  CliContext context = LoadCliContext(options);
  const std::string folder = options.hasDir ? WithSeparator(options.dir)
                                             : context.settings.local_dir + "tmp_dl" + kPathSep;
  if (options.hasDir && !DirectoryExists(folder)) {
    PrintErr("Ordner nicht gefunden: " + folder + "\n");
    return kExitUsage;
  }

  TreeModel tree;
  ReadReceivedFilesFrom(folder, context.settings.ChangeFiles, nullptr, tree);
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
  CliImportView view;
  Logger log(view, context.settings.DebugLog);
  ImportSession session(view, log, context.folders, context.db.get(), files, tree);
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
  const ImportSession::Result imported = session.Import();
  if (!imported.outcome.IsOk()) {
    PrintErr("Fehler: " + ForTerminal(imported.outcome.Message()) + "\n");
    return kExitError;
  }
  if (!imported.summary.failures.empty() || view.HadError()) return kExitError;
  PrintErr("Import abgeschlossen.\n");
  return kExitOk;
}

}  // namespace kelvanor::cli
