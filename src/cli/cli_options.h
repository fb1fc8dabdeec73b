// Command line of kelvanor-cli:
//   kelvanor-cli [--db FILE] <command> [args]
// with the commands export [DIR], import [--yes] [DIR | --backup FILE],
// sync [--yes | --no], undo-import [--yes], history [--last N], version and
// check-update.
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

enum class Command {
  kHelp,
  kExport,
  kImport,
  kSync,
  kUndoImport,
  kHistory,
  kVersion,
  kCheckUpdate
};

struct CliOptions {
  Command command = Command::kHelp;
  // --db FILE: replaces the database location of tessavor.ini. Windows-1252
  // like every path of the tool.
  bool hasDb = false;
  std::string dbFile;
  // DIR of export and import; Windows-1252.
  bool hasDir = false;
  std::string dir;
  // import --backup FILE: a dated backup of received data to import again;
  // Windows-1252.
  bool hasBackup = false;
  std::string backupFile;
  // history --last N: how many runs to show (0: the default).
  int last = 0;
  // --yes (import, sync, undo-import) / --no (sync): the answer to the
  // question.
  bool yes = false;
  bool no = false;
};

// Reads the arguments (without the program name, UTF-8) into `options`;
// fails with a German message (Windows-1252) and the exit code kExitUsage.
Outcome ParseCliOptions(const std::vector<std::string>& args, CliOptions& options);

// The synopsis shown with --help and after a usage error (Windows-1252).
std::string UsageText();

}  // namespace kelvanor::cli
