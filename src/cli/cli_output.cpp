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

void PrintReceived(const TreeModel& tree, const ChangeDetails& described) {
  std::string text;
  auto next = described.begin();
  for (std::size_t position = 0; position < tree.Count(); ++position) {
    const std::size_t indent = static_cast<std::size_t>(tree.Level(position)) * 2;
    text += std::string(indent, ' ') + tree.Text(position) + "\n";
    while (next != described.end() && next->first < position) ++next;
    if (next == described.end() || next->first != position) continue;
    // As the window's tree shows them: one level below the line.
    for (const std::string& words : next->second) {
      text += std::string(indent + 2, ' ') + "= " + words + "\n";
    }
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
