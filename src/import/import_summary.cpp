#include "import/import_summary.h"

namespace kelvanor {

namespace {

// More than this many lines make a box nobody reads to the end; the log has all.
constexpr std::size_t kFailuresInMessage = 20;

// Lines longer than this are cut in messages; the list of lines not
// imported holds them whole.
constexpr std::size_t kLineInMessage = 80;

std::string Describe(const FieldConflict& conflict) {
  return "Konflikt: " + conflict.record + ": " + conflict.field + " im B\xFCro \"" +
         conflict.desktop + "\", vom Mobilger\xE4t \"" + conflict.mobile + "\" (\xFC" "bernommen)";
}

}  // namespace

std::string Describe(const LineFailure& failure) {
  std::string where = failure.file;
  if (failure.lineNumber > 0) where += ", Zeile " + std::to_string(failure.lineNumber);
  if (!failure.record.empty()) where += " (" + failure.record + ")";
  std::string text = failure.text;
  if (text.size() > kLineInMessage) text = text.substr(0, kLineInMessage) + "...";
  return where + ": " + failure.message + (text.empty() ? "" : " \xAB" + text + "\xBB");
}

std::vector<std::string> ImportSummary::LogLines() const {
  std::vector<std::string> lines;
  if (alreadyImported > 0) {
    lines.push_back(std::to_string(alreadyImported) +
                    " Zeile(n) waren schon bei einem fr\xFCh" "eren Import \xFC" "bernommen worden "
                    "und wurden nicht noch einmal importiert.");
  }
  for (const std::string& notice : notices) lines.push_back(notice);
  for (const LineFailure& line : notTaken) {
    lines.push_back("nicht \xFC" "bernommen: " + Describe(line));
  }
  for (const FieldConflict& conflict : conflicts) lines.push_back(Describe(conflict));
  for (const LineFailure& failure : failures) {
    lines.push_back("FEHLER: nicht importiert: " + Describe(failure));
  }
  return lines;
}

std::string ImportSummary::ConflictMessage(const std::string& keptIn) const {
  if (conflicts.empty()) return std::string();
  std::string message = std::to_string(conflicts.size()) +
                        " Feld(er) wurden im B\xFCro und auf dem Mobilger\xE4t verschieden "
                        "ge\xE4ndert; \xFC" "bernommen wurde der Wert vom Mobilger\xE4t:\r";
  for (std::size_t i = 0; i < conflicts.size() && i < kFailuresInMessage; ++i) {
    message += "\r" + Describe(conflicts[i]);
  }
  if (conflicts.size() > kFailuresInMessage) {
    message += "\r... und " + std::to_string(conflicts.size() - kFailuresInMessage) +
               " weitere (siehe Protokoll).";
  }
  if (!keptIn.empty()) {
    message += "\r\rDie Werte des B\xFCros stehen in " + keptIn;
  }
  return message;
}

std::string ImportSummary::FailureMessage() const {
  if (failures.empty()) return std::string();
  std::string message = std::to_string(failures.size()) +
                        " Zeile(n) konnten nicht importiert werden; alle anderen wurden "
                        "\xFC" "bernommen:\r";
  for (std::size_t i = 0; i < failures.size() && i < kFailuresInMessage; ++i) {
    message += "\r" + Describe(failures[i]);
  }
  if (failures.size() > kFailuresInMessage) {
    message += "\r... und " + std::to_string(failures.size() - kFailuresInMessage) +
               " weitere (siehe Protokoll).";
  }
  return message;
}

}  // namespace kelvanor
