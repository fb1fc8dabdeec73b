// Command line of kelvanor-cli:
//   kelvanor-cli [--db FILE] <command> [args]
// with the commands export [DIR], import [--yes] [DIR], sync [--yes | --no],
// version and check-update.
#pragma once

#include <string>
#include <vector>

namespace kelvanor::cli {

// Exit codes: success, a run that ended with an error, a usage error or a
// refusal (no answer possible without a terminal).
constexpr int kExitOk = 0;
constexpr int kExitError = 1;
constexpr int kExitUsage = 2;

enum class Command { kHelp, kExport, kImport, kSync, kVersion, kCheckUpdate };

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

struct ParseResult {
  bool ok = false;
  CliOptions options;
  std::string error;  // German, Windows-1252, when !ok
};

// args without the program name, as given (UTF-8).
ParseResult ParseCliOptions(const std::vector<std::string>& args);

// The synopsis shown with --help and after a usage error (Windows-1252).
std::string UsageText();

}  // namespace kelvanor::cli
