#include "cli/cli_output.h"

#include <iostream>

#include "platform/console.h"
#include "util/encoding.h"
#include "util/text.h"

namespace kelvanor::cli {

namespace {

// What reaches the terminal comes partly from the server (received lines,
// names in messages): a control character there could move the cursor,
// retitle the window or worse, so every one but the line break and the tab
// shows as "?", and so do the five bytes Windows-1252 leaves undefined
// (they would become C1 control characters).
std::string Printable(const std::string& text) {
  std::string out = text;
  for (char& c : out) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && c != '\n' && c != '\t') || u == 0x7F || u == 0x81 || u == 0x8D ||
        u == 0x8F || u == 0x90 || u == 0x9D) {
      c = '?';
    }
  }
  return out;
}

}  // namespace

void PrintOut(const std::string& text) {
  WriteStdout(Cp1252ToUtf8(Printable(text)));
}

void PrintErr(const std::string& text) {
  WriteStderr(Cp1252ToUtf8(Printable(text)));
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
