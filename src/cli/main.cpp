// kelvanor-cli: the sync workflow without a window, for scheduled syncs and
// for driving the tool from outside.
#include <exception>
#include <string>
#include <vector>

#include "cli/cli_options.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "platform/console.h"
#include "platform/environment.h"
#include "util/numbers.h"

using namespace kelvanor;
using namespace kelvanor::cli;

namespace {

int Run(const CliOptions& options) {
  switch (options.command) {
    case Command::kHelp:
      PrintOut(UsageText());
      return kExitOk;
    case Command::kVersion:
      PrintOut(ExeVersionString() + "\n");
      return kExitOk;
    case Command::kExport:
      return CmdExport(options);
    case Command::kImport:
      return CmdImport(options);
    case Command::kSync:
      return CmdSync(options);
    case Command::kUndoImport:
      return CmdUndoImport(options);
    case Command::kHistory:
      return CmdHistory(options);
    case Command::kCheckUpdate:
      return CmdCheckUpdate(options);
  }
  return kExitUsage;
}

}  // namespace

int main(int argc, char** argv) {
  InitDecimalSeparatorFromLocale();
  CliOptions options;
  const Outcome parsed = ParseCliOptions(CommandLineArguments(argc, argv), options);
  if (!parsed.IsOk()) {
    PrintErr(parsed.Message() + "\n\n" + UsageText());
    return parsed.ExitCode();
  }
  try {
    return Run(options);
  } catch (const std::exception& e) {
    // Whatever a command lets through is shown like the window's error box.
    PrintErr(std::string("Fehler: ") + e.what() + "\n");
    return kExitError;
  }
}
