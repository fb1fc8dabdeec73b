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

// The log on stdout, the window's boxes on stderr, the questions answered by
// the flag or on the terminal.
class CliSyncView : public SyncView {
 public:
  explicit CliSyncView(std::optional<bool> answer) : answer_(answer), progress_("  ") {}

  bool HadError() const { return hadError_; }

  void Log(const std::string& line) override { PrintOut(line + "\n"); }
  bool Ask(const std::string& question) override { return Answer(question); }
  void ReportError(const std::string& message) override {
    hadError_ = true;
    PrintErr("Fehler: " + ToLines(message) + "\n");
  }
  void ReportInfo(const std::string& message) override { PrintErr(ToLines(message) + "\n"); }
  void ShowReceived(const TreeModel& tree, const ChangeDetails& changes) override {
    PrintReceived(tree, changes);
  }
  void OfferImport(const std::string& question) override { PrintOut(ToLines(question) + "\n"); }
  IExportProgress& ExportProgress() override { return progress_; }

  // The answer to a question: the flag, else the terminal.
  bool Answer(const std::string& question) {
    if (answer_) {
      PrintOut(ToLines(question) + (*answer_ ? " ja\n" : " nein\n"));
      return *answer_;
    }
    return cli::AskYesNo(ToLines(question)).value_or(false);
  }

 private:
  // Message texts break lines with carriage returns alone.
  static std::string ToLines(std::string text) {
    for (char& c : text) {
      if (c == '\r') c = '\n';
    }
    return text;
  }

  std::optional<bool> answer_;
  StderrExportProgress progress_;
  bool hadError_ = false;
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
