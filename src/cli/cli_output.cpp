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

std::string ForTerminal(const std::string& text) { return ReplaceAll(text, "\r", "\n"); }

void TerminalView::Log(const std::string& line) { PrintOut(line + "\n"); }

void TerminalView::ReportError(const std::string& message) {
  hadError_ = true;
  PrintErr("Fehler: " + ForTerminal(message) + "\n");
}

void TerminalView::ReportInfo(const std::string& message) {
  PrintErr(ForTerminal(message) + "\n");
}

void TerminalView::ShowReceived(const TreeModel& tree, const ChangeDetails& changes) {
  PrintReceived(tree, changes);
}

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
