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
