// kelvanor-cli import: the import half of a later sync, on change files that
// already lie in a folder. Shows what arrived exactly as the window's tree and
// question do, then imports only on an explicit yes.
#include <iostream>
#include <string>

#include "kept/account_files.h"
#include "sync/import_question.h"
#include "kept/mobile_base.h"
#include "kept/office_lists.h"
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
  std::unique_ptr<FieldMerge> merge;
  try {
    // Changed records take only what the mobile changed, as in a sync.
    merge = PrepareFieldMerge(*context.db, context.folders, files.baseFolder, tree);
  } catch (const std::exception&) {
    // Without it changed records are written whole, as the raw lines say.
  }
  // A folder a failed sync left behind holds lines that sync imported; the
  // journal is closed again before the import opens it.
  const EarlierImports earlier = EarlierImportsForPreview(*context.db, files.journal, tree);
  PrintReceived(tree, DescribeReceived(context.db.get(), tree, merge.get(), &earlier));
  PrintOut(ForTerminal(BuildImportQuestion(tree, nullptr, &earlier)) + "\n");

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

  ImportSummary summary;
  std::string keptConflicts;
  try {
    // The journal of the syncs: a folder a failed sync left behind holds
    // lines that sync already imported, and the next sync brings them again.
    // The office's values a conflict overwrites are kept before the import
    // commits; if they cannot be, nothing is overwritten.
    summary = ImportMobileChanges(
        *context.db, tree, files.journal, merge.get(), [&](const ImportSummary& run) {
          try {
            keptConflicts = KeepConflicts(context.folders, run.conflicts);
          } catch (const std::exception& error) {
            throw EInOutError(std::string("Die Konflikte konnten nicht gesichert werden: ") +
                              error.what());
          }
        });
  } catch (const EDatabaseFailure& failure) {
    PrintErr("Import abgebrochen: " + failure.UserMessage() +
             W1252("\nDie Datenbank wurde nicht verändert.\n"));
    return kExitError;
  } catch (const std::exception& error) {
    PrintErr(std::string("Import abgebrochen: ") + error.what() +
             W1252("\nDie Datenbank wurde nicht verändert.\n"));
    return kExitError;
  }
  // Shown once the import is over, never while it holds the database.
  for (const std::string& line : summary.LogLines()) PrintErr(line + "\n");
  std::string notImported;
  try {
    notImported = KeepNotImportedLines(context.folders, summary);
  } catch (const std::exception& error) {
    PrintErr(std::string(W1252("Die nicht importierten Zeilen können nicht gesichert werden: ")) +
             error.what() + "\n");
    return kExitError;
  }
  if (!notImported.empty()) {
    PrintErr("Die nicht importierten Zeilen stehen in " + notImported + ".\n");
  }
  if (!keptConflicts.empty()) PrintErr("Die Konflikte stehen in " + keptConflicts + ".\n");
  if (!summary.failures.empty()) {
    PrintErr("Import abgeschlossen; " + std::to_string(summary.failures.size()) +
             " Zeile(n) mit Fehler wurden nicht importiert.\n");
    return kExitError;
  }
  PrintErr("Import abgeschlossen.\n");
  return kExitOk;
}

}  // namespace kelvanor::cli
