// Command line of kelvanor-cli:
//   kelvanor-cli [--db FILE] <command> [args]
// with the commands export [DIR], import [--yes] [DIR], sync [--yes | --no],
// version, check-update and check-connection.
#pragma once

#include <string>
#include <vector>

#include "util/outcome.h"

namespace kelvanor::cli {

// Exit codes: success, a run that ended with an error, a usage error or a
// refusal (no answer possible without a terminal).
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

enum class Command { kHelp, kExport, kImport, kSync, kVersion, kCheckUpdate, kCheckConnection };

struct CliOptions {
  Command command = Command::kHelp;
  // --db FILE: replaces the database location of tessavor.ini. Windows-1252
  // like every path of the tool.
  bool hasDb = false;
  std::string dbFile;
  // DIR of export and import; Windows-1252.
  bool hasDir = false;
  std::string dir;
  // --yes (import, sync) / --no (sync): the answer to the import question.
  bool yes = false;
  bool no = false;
};

// Reads the arguments (without the program name, UTF-8) into `options`;
// fails with a German message (Windows-1252) and the exit code kExitUsage.
Outcome ParseCliOptions(const std::vector<std::string>& args, CliOptions& options);

// The synopsis shown with --help and after a usage error (Windows-1252).
std::string UsageText();

}  // namespace kelvanor::cli
