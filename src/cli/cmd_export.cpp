// kelvanor-cli export [DIR]: the export the sync runs, into DIR or MobileFolder.
#include <string>

#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "export/export.h"

namespace kelvanor::cli {

namespace {

// The export takes its folder without a trailing separator.
std::string WithoutTrailingSeparator(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  return folder;
}

}  // namespace

int CmdExport(const CliOptions& options) {
  CliContext context = LoadCliContext(options);
  if (!OpenCliDatabase(context)) return kExitError;
  const std::string folder =
      WithoutTrailingSeparator(options.hasDir ? options.dir : context.folders.MobileFolder);
  StderrExportProgress progress;
  ExportState state;
  // Errors inside the export (a query, a number, a file) pass on to main,
  // which prints them like the window's error box.
  const Outcome outcome =
      ExportMobileData(*context.db, folder, progress, state, ExportEnvironment::ForThisProgram());
  if (outcome.IsOk()) return kExitOk;
  PrintErr(outcome.Message() + "\n");
  return kExitError;
}

}  // namespace kelvanor::cli
