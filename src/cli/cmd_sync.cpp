// kelvanor-cli sync [--yes | --no]: one run exactly as the sync button starts
// it, with the log on stdout and the boxes of the window on stderr.
#include <optional>
#include <string>

#include "app/sync_driver.h"
#include "cli/cli_context.h"
#include "cli/cli_output.h"
#include "cli/commands.h"

namespace kelvanor::cli {

namespace {

class CliSyncView : public ISyncView {
 public:
  explicit CliSyncView(std::optional<bool> answer) : answer_(answer) {}

  bool hadError() const { return hadError_; }
  bool importQuestionShown() const { return importQuestionShown_; }

  void ProcessPendingMessages() override {}
  void ShowExportStep(const std::string& text, int /*stepPosition*/, int /*total*/) override {
    if (text != lastStep_) PrintErr("  " + text + "\n");
    lastStep_ = text;
  }
  void SetStepMaximum(int /*maximum*/) override {}
  void SetTotalMaximum(int /*maximum*/) override {}
  void SetTotalBold(bool /*bold*/) override {}
  void ShowExportError(const std::string& message) override {
    hadError_ = true;
    PrintErr("Fehler: " + message + "\n");
  }
  void AppendMemo(const std::string& line) override { PrintOut(line + "\n"); }
  void ClearMemo() override {}
  void ShowImportPanel(const std::string& question) override {
    importQuestionShown_ = true;
    PrintOut(ToLines(question) + "\n");
  }
  void SetImportLabel(const std::string& /*text*/) override {}
  void SetImportButtonsEnabled(bool /*enabled*/) override {}
  void HideImportPanel() override {}
  bool AskYesNo(const std::string& question) override { return Answer(question); }
  void ShowError(const std::string& message) override {
    hadError_ = true;
    PrintErr("Fehler: " + ToLines(message) + "\n");
  }
  void ShowInfo(const std::string& message) override { PrintErr(ToLines(message) + "\n"); }
  void TreeChanged(const TreeModel& tree) override {
    tree_ = tree;
    for (const TreeNode& node : tree.Nodes()) {
      PrintOut(std::string(static_cast<std::size_t>(node.level) * 2, ' ') + node.text + "\n");
    }
  }
  void ShowChangeDetails(const std::map<std::size_t, std::vector<std::string>>& details) override {
    if (details.empty()) return;
    PrintOut("Ge\xE4nderte Datens\xE4tze:\n");
    for (const auto& [position, changes] : details) {
      if (position >= tree_.Count()) continue;
      std::size_t file = position;
      while (file > 0 && tree_.Level(file) != 1) --file;
      PrintOut("  " + tree_.Text(file) + " " + FirstField(tree_.Text(position)) + "\n");
      for (const std::string& change : changes) PrintOut("    " + change + "\n");
    }
  }
  void SetBusy(bool /*busy*/) override {}

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
  TreeModel tree_;
  std::string lastStep_;
  bool hadError_ = false;
  bool importQuestionShown_ = false;
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
  driver.btnSyncClick();
  if (driver.GetState() == SyncDriver::State::WaitingForAnswer) {
    if (view.Answer("Importieren?")) {
      driver.btn_yesClick();
    } else {
      driver.btn_noClick();
    }
  }
  return driver.LastError().empty() && !view.hadError() ? kExitOk : kExitError;
}

}  // namespace kelvanor::cli
