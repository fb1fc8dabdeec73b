// kelvanor-cli sync [--yes | --no]: one run exactly as the sync button starts
// it, with the log on stdout and the boxes of the window on stderr.
#include <optional>
#include <string>

#include "sync/sync_driver.h"
#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"

namespace kelvanor::cli {

namespace {

// The terminal's view, with the questions answered by the flag or on the
// terminal and the export's steps on stderr.
class CliSyncView : public TerminalView {
 public:
  explicit CliSyncView(std::optional<bool> answer) : answer_(answer), progress_("  ") {}

  bool Ask(const std::string& question) override { return Answer(question); }
  void OfferImport(const std::string& question) override { PrintOut(ForTerminal(question) + "\n"); }
  IExportProgress& ExportProgress() override { return progress_; }

  // The answer to a question: the flag, else the terminal.
  bool Answer(const std::string& question) {
    if (answer_) {
      PrintOut(ForTerminal(question) + (*answer_ ? " ja\n" : " nein\n"));
      return *answer_;
    }
    return cli::AskYesNo(ForTerminal(question)).value_or(false);
  }

 private:
  std::optional<bool> answer_;
  StderrExportProgress progress_;
};

}  // namespace

int CmdSync(const CliOptions& options) {
  std::optional<bool> answer;
  if (options.yes) answer = true;
  if (options.no) answer = false;
  if (!answer && !StdinIsTerminal()) {
    PrintErr(
        "sync: ohne Terminal kann die Frage nicht beantwortet werden; --yes oder --no angeben.\n");
    return kExitUsage;
  }
  CliContext context = LoadCliContext(options);
  // Without a database the run could only upload stale files; say so at once.
  if (!OpenCliDatabase(context)) return kExitError;

  CliSyncView view(answer);
  SyncDriver driver(view, context.folders, context.settings, context.db.get());
  driver.StartSync();
  if (driver.GetState() == SyncDriver::State::kWaitingForAnswer) {
    driver.AnswerImport(view.Answer("Importieren?"));
  }
  // What the window shows above its bars: the last line says how it ended.
  const std::string status = driver.Status();
  if (!status.empty()) PrintOut("Ergebnis: " + status + "\n");
  return driver.LastOutcome().IsOk() && !view.HadError() ? kExitOk : kExitError;
}

}  // namespace kelvanor::cli
