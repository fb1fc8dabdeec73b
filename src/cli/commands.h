// The commands of kelvanor-cli behind the argument parser. Each returns the
// process exit code (kExitOk, kExitError, kExitUsage of cli_options.h).
#pragma once

#include "cli/cli_options.h"

namespace kelvanor::cli {

int CmdExport(const CliOptions& options);
int CmdImport(const CliOptions& options);
int CmdSync(const CliOptions& options);
int CmdUndoImport(const CliOptions& options);
int CmdHistory(const CliOptions& options);
int CmdCheckUpdate(const CliOptions& options);

}  // namespace kelvanor::cli
