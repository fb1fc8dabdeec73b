#include "cli/cli_output.h"

#include <iostream>

#include "platform/console.h"
#include "util/encoding.h"
#include "util/text.h"

namespace kelvanor::cli {

void PrintOut(const std::string& text) {
  WriteStdout(Cp1252ToUtf8(text));
}

void PrintErr(const std::string& text) {
  WriteStderr(Cp1252ToUtf8(text));
}

bool StdinIsTerminal() { return kelvanor::StdinIsTerminal(); }

void PrintReceived(const TreeModel& tree, const ChangeDetails& changes) {
  std::string text;
  for (const TreeNode& node : tree.Nodes()) {
    text += std::string(static_cast<std::size_t>(node.level) * 2, ' ') + node.text + "\n";
  }
  if (!changes.empty()) text += "Ge\xE4nderte Datens\xE4tze:\n";
  for (const auto& [position, described] : changes) {
    if (position >= tree.Count()) continue;
    std::size_t file = position;
    while (file > 0 && tree.Level(file) != 1) --file;
    text += "  " + tree.Text(file) + " " + FirstField(tree.Text(position)) + "\n";
    for (const std::string& change : described) text += "    " + change + "\n";
  }
  PrintOut(text);
}

void StderrExportProgress::ShowExportStep(const std::string& text, int /*stepPosition*/,
                                          int /*totalPosition*/) {
  if (text == lastText_) return;
  PrintErr(indent_ + text + "\n");
  lastText_ = text;
}

std::optional<bool> ParseYesNo(const std::string& answer) {
  const std::string word = AsciiLowerCase(Trim(answer));
  if (word == "j" || word == "ja" || word == "y" || word == "yes") return true;
  if (word == "n" || word == "nein" || word == "no") return false;
  return std::nullopt;
}

std::optional<bool> AskYesNo(const std::string& question) {
  for (;;) {
    PrintOut(question + " [j/n] ");
    std::string line;
    if (!std::getline(std::cin, line)) {
      PrintOut("\n");
      return std::nullopt;
    }
    if (const std::optional<bool> answer = ParseYesNo(line)) return answer;
    PrintOut("Bitte j (ja) oder n (nein) eingeben.\n");
  }
}

}  // namespace kelvanor::cli
