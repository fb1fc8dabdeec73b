#include "app/office_lists.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"

namespace kelvanor {

namespace {

std::string MomentText(const CivilTime& moment) {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d %02d:%02d:%02d", moment.day, moment.month,
                moment.year, moment.hour, moment.minute, moment.second);
  return text;
}

// One line that was not imported: where it stood, why, and the line itself
// alone on the last row, so it can be copied as it came.
std::string Entry(const LineFailure& line) {
  std::string where = line.file;
  if (line.lineNumber > 0) where += ", Zeile " + std::to_string(line.lineNumber);
  if (!line.record.empty()) where += " (" + line.record + ")";
  return where + "\r\nGrund: " + line.message + "\r\n" + line.text;
}

}  // namespace

std::string AppendToOfficeList(const Folders& folders, const std::string& fileName,
                               const std::string& title, const std::vector<std::string>& entries) {
  if (entries.empty()) return std::string();
  const std::string path = folders.MobileFolder + kPathSep + fileName;
  if (!DirectoryExists(folders.MobileFolder)) {
    std::error_code error;
    std::filesystem::create_directories(SystemPath(folders.MobileFolder), error);
    if (error) {
      throw EInOutError("Ordner kann nicht angelegt werden: " + folders.MobileFolder);
    }
  }
  std::string content = FileExists(path) ? ReadWholeFile(path) : std::string();
  // Whatever the office typed at the end, the heading starts a line of its own.
  if (!content.empty() && content.back() != '\n') content += "\r\n";
  if (!content.empty()) content += "\r\n";
  content += "===== " + title + " vom " + MomentText(NowCivil()) + " =====\r\n";
  for (const std::string& entry : entries) content += "\r\n" + entry + "\r\n";
  WriteFileAtomically(path, content);
  return path;
}

std::string KeepNotImportedLines(const Folders& folders, const ImportSummary& summary) {
  std::vector<std::string> entries;
  for (const LineFailure& line : summary.failures) entries.push_back(Entry(line));
  for (const LineFailure& line : summary.notTaken) entries.push_back(Entry(line));
  return AppendToOfficeList(folders, kNotImportedFile, "Nicht importiert beim Import", entries);
}

}  // namespace kelvanor
