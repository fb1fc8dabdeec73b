// kelvanor-cli undo-import [--yes]: puts the practice database back to the
// restore point of the last import, while nothing has changed it since (see
// undo_import.h). Asks first, and without a terminal only with --yes.
#include <optional>
#include <string>

#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "sync/logger.h"
#include "sync/undo_import.h"
#include "util/w1252.h"

namespace kelvanor::cli {

int CmdUndoImport(const CliOptions& options) {
  CliContext context = LoadCliContext(options);
  if (!OpenCliDatabase(context)) return kExitError;
  TerminalView view;
  Logger log(view, context.settings.DebugLog);
  const UndoRun run = RunUndo(
      *context.db, context.folders, context.settings.name, log,
      [&](const std::string& question) -> std::optional<bool> {
        if (options.yes) return true;
        if (!StdinIsTerminal()) return std::nullopt;
        return AskYesNo(ForTerminal(question)).value_or(false);
      });
  switch (run.end) {
    case UndoRun::End::kUndone:
      return kExitOk;
    case UndoRun::End::kDeclined:
      PrintErr(W1252("Es wurde nichts geändert.\n"));
      return kExitOk;
    case UndoRun::End::kNotAsked:
      PrintErr(W1252("Ohne Terminal wird nur mit --yes rückgängig gemacht; es wurde nichts "
                     "geändert.\n"));
      return kExitUsage;
    case UndoRun::End::kRefused:
      PrintErr(ForTerminal(run.message) + "\n");
      return kExitError;
    case UndoRun::End::kFailed:
      break;
  }
  PrintErr("Fehler: " + ForTerminal(run.message) + "\n");
  return kExitError;
}

}  // namespace kelvanor::cli
