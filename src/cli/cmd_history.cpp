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
#include "platform/instance_lock.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor::cli {

namespace {

constexpr int kDefaultRuns = 20;

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

void PrintRun(const RunRecord& run, bool running) {
  std::string outcome = run.outcome;
  if (!run.Ended()) outcome = running ? W1252("läuft noch") : kOutcomeInterrupted;
  PrintOut(ShortMoment(run.started) + "  " + run.kind + "  " + outcome + "\n");
  const auto line = [](const std::string& text) {
    PrintOut("  " + ReplaceAll(ReplaceAll(text, "\r\n", " "), "\r", " ") + "\n");
  };
  std::string who = run.workstation;
  if (!run.user.empty()) who += (who.empty() ? "" : ", ") + std::string("Benutzer ") + run.user;
  if (!who.empty()) line("Arbeitsplatz " + who);
  if (run.Ended() && run.ended.size() >= 16) line("Ende " + ShortMoment(run.ended));
  if (!run.undoneRun.empty()) line(W1252("Rückgängig gemacht: Import vom ") + ShortMoment(run.undoneRun));
  if (!run.received.empty() && run.undoneRun.empty()) line("Empfangen: " + run.received);
  if (!run.imported.empty()) line((run.undoneRun.empty() ? "Importiert: " : "") + run.imported);
  if (!run.conflicts.empty()) {
    line(Count(run.conflicts.size(), "Konflikt", "Konflikte") + ", siehe mob_konflikte.txt");
    for (const std::string& conflict : run.conflicts) line("  " + conflict);
  }
  if (!run.notImported.empty()) {
    line(Count(run.notImported.size(), "Zeile", "Zeilen") +
         " nicht importiert, siehe nicht_importierte_Zeilen.txt");
    for (const std::string& failure : run.notImported) line("  " + failure);
  }
  if (!run.message.empty()) {
    line((run.step.empty() ? std::string("Fehler: ") : "Fehler bei \"" + run.step + "\": ") +
         run.message);
  }
  if (!run.backup.empty()) line("Sicherung: " + run.backup);
  if (!run.restorePoint.empty()) line("Wiederherstellungspunkt: " + run.restorePoint);
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
  bool someoneRuns = false;
  if (!runs.empty() && !runs.front().Ended()) {
    try {
      someoneRuns =
          InstanceLock::TryAcquire(files.lock, InstanceLock::Reach::kEveryMachine) == nullptr;
    } catch (const std::exception&) {
      someoneRuns = false;
    }
  }
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) PrintOut("\n");
    PrintRun(runs[i], i == 0 && someoneRuns);
  }
  if (runs.empty()) PrintOut(W1252("Der Verlauf enthält noch keine Läufe.\n"));
  return kExitOk;
}

}  // namespace kelvanor::cli
