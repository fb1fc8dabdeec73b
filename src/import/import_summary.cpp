#include "import/import_summary.h"

#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// More than this many lines make a box nobody reads to the end; the log has all.
constexpr std::size_t kFailuresInMessage = 20;

// Lines longer than this are cut in messages; the list of lines not
// imported holds them whole.
constexpr std::size_t kLineInMessage = 80;

std::string Describe(const FieldConflict& conflict) {
  return "Konflikt: " + conflict.record + ": " + conflict.field + W1252(" im Büro \"") +
         conflict.desktop + W1252("\", vom Mobilgerät \"") + conflict.mobile +
         W1252("\" (übernommen)");
}

}  // namespace

std::string Describe(const LineFailure& failure) {
  std::string where = failure.file;
  if (failure.lineNumber > 0) where += ", Zeile " + std::to_string(failure.lineNumber);
  if (!failure.record.empty()) where += " (" + failure.record + ")";
  std::string text = failure.text;
  if (text.size() > kLineInMessage) text = text.substr(0, kLineInMessage) + "...";
  return where + ": " + failure.message + (text.empty() ? "" : W1252(" «") + text + W1252("»"));
}

std::vector<std::string> ImportSummary::LogLines() const {
  std::vector<std::string> lines;
  if (alreadyImported > 0) {
    lines.push_back(Counted(alreadyImported, "Zeile", "Zeilen") +
                    (alreadyImported == 1 ? " war" : " waren") +
                    W1252(" schon bei einem früheren Import übernommen worden und ") +
                    (alreadyImported == 1 ? "wurde" : "wurden") +
                    " nicht noch einmal importiert.");
  }
  for (const std::string& notice : notices) lines.push_back(notice);
  for (const LineFailure& line : notTaken) {
    lines.push_back(W1252("nicht übernommen: ") + Describe(line));
  }
  for (const FieldConflict& conflict : conflicts) lines.push_back(Describe(conflict));
  for (const LineFailure& failure : failures) {
    lines.push_back("FEHLER: nicht importiert: " + Describe(failure));
  }
  return lines;
}

std::string ImportSummary::ConflictMessage(const std::string& keptIn) const {
  if (conflicts.empty()) return std::string();
  const bool one = conflicts.size() == 1;
  std::string message = Counted(conflicts.size(), "Feld", "Felder") +
                        (one ? " wurde" : " wurden") +
                        W1252(" im Büro und auf dem Mobilgerät verschieden geändert; "
                              "übernommen wurde der Wert vom Mobilgerät:\r");
  for (std::size_t i = 0; i < conflicts.size() && i < kFailuresInMessage; ++i) {
    message += "\r" + Describe(conflicts[i]);
  }
  if (conflicts.size() > kFailuresInMessage) {
    message += "\r... und " + std::to_string(conflicts.size() - kFailuresInMessage) +
               " weitere (siehe Protokoll).";
  }
  if (!keptIn.empty()) {
    message += W1252("\r\rDie Werte des Büros stehen in ") + keptIn;
  }
  return message;
}

std::string ImportSummary::FailureMessage() const {
  if (failures.empty()) return std::string();
  std::string message = Counted(failures.size(), "Zeile", "Zeilen") +
                        (failures.size() == 1 ? " konnte" : " konnten") +
                        W1252(" nicht importiert werden; alle anderen wurden übernommen:\r");
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
