// kelvanor-cli history [--last N]: what the runs of this database and
// account did, newest first (see run_history.h). Each run begins with its
// date line ("09.12.2026 14:05  Synchronisation  fertig"); the rest follows
// indented. Reads only: the window may be open meanwhile.
#include <memory>
#include <string>
#include <vector>

#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"
#include "kept/account_files.h"
#include "kept/run_history.h"
#include "platform/file_system.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor::cli {

namespace {

constexpr int kDefaultRuns = 20;

void PrintRun(const RunRecord& run, bool running) {
  PrintOut(HeadlineOf(run, running) + "\n");
  for (const std::string& line : DetailsOf(run)) PrintOut("  " + line + "\n");
}

}  // namespace

int CmdHistory(const CliOptions& options) {
  CliContext context = LoadCliContext(options);
  const Outcome account = CheckAccountName(context.settings.name);
  if (!account.IsOk()) {
    PrintErr(account.Message() + "\n");
    return kExitError;
  }
  if (context.database.file.empty()) {
    PrintErr("Keine Datenbank eingestellt: db_name fehlt in " + context.folders.HostIni() +
             W1252(".\nMit --db DATEI lässt sich die Datenbank angeben.\n"));
    return kExitError;
  }
  const AccountFiles files = AccountFilesOf(context.database.Path(), context.settings.name);
  if (!FileExists(files.history)) {
    PrintErr("Noch kein Verlauf: " + files.history + W1252(" gibt es nicht.\n"));
    return kExitOk;
  }
  RunHistory history(files.history);
  if (!history.Trouble().empty()) PrintErr("Hinweis: " + history.Trouble() + "\n");
  const std::vector<RunRecord> runs =
      history.Newest(static_cast<std::size_t>(options.last > 0 ? options.last : kDefaultRuns));
  // A run without its end is under way while someone holds the account's
  // lock; otherwise its process died.
  const bool someoneRuns = !runs.empty() && !runs.front().Ended() && AccountInUse(files);
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) PrintOut("\n");
    PrintRun(runs[i], i == 0 && someoneRuns);
  }
  if (runs.empty()) PrintOut(W1252("Der Verlauf enthält noch keine Läufe.\n"));
  return kExitOk;
}

}  // namespace kelvanor::cli
