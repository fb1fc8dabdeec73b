#include "kept/office_lists.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/w1252.h"

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

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// A value as one field of a ";" line: quoted when it holds a ";" or a
// quote (inner quotes doubled); line breaks become blanks, so that every
// conflict stays one line.
std::string Field(const std::string& value) {
  std::string text;
  bool quote = false;
  for (const char c : value) {
    if (c == '\r' || c == '\n') {
      text += ' ';
    } else if (c == '"') {
      text += "\"\"";
      quote = true;
    } else {
      if (c == ';') quote = true;
      text += c;
    }
  }
  return quote ? "\"" + text + "\"" : text;
}

// Years of lists stay far below this; a file beyond it is not read whole.
constexpr std::uintmax_t kMaxOfficeFileBytes = 64u * 1024 * 1024;

// What the list at `path` holds so far ("" when there is none yet), read
// without following a link. A link in the list's place is refused rather
// than replaced: what the office kept in its target must not be lost from
// the list, nor written somewhere the link leads.
std::string ReadOfficeFile(const std::string& path) {
  switch (KindOfEntry(SystemPath(path))) {
    case EntryKind::kMissing:
      return std::string();
    case EntryKind::kLink:
      throw EInOutError(
          "Die Liste " + path +
          W1252(" ist eine Verknüpfung. Kelvanor schreibt nicht durch Verknüpfungen: bitte "
                "sie durch die Datei selbst ersetzen (oder entfernen), dann erneut "
                "synchronisieren."));
    case EntryKind::kFolder:
    case EntryKind::kOther:
      throw EInOutError("Die Liste " + path +
                        W1252(" kann nicht geschrieben werden: an ihrer Stelle liegt ein Ordner "
                              "oder etwas anderes als eine Datei."));
    case EntryKind::kFile:
      break;
  }
  std::string content;
  if (!ReadPlainFile(path, kMaxOfficeFileBytes, content)) {
    throw EInOutError("Die Liste " + path + W1252(" ist größer als ") +
                      std::to_string(kMaxOfficeFileBytes / (1024 * 1024)) +
                      W1252(" MB: bitte sie umbenennen oder verkleinern, dann erneut "
                            "synchronisieren."));
  }
  return content;
}

}  // namespace

std::string AppendToOfficeFile(const Folders& folders, const std::string& fileName,
                               const std::string& header, const std::string& text) {
  const std::string path = folders.MobileFolder + kPathSep + fileName;
  if (!DirectoryExists(folders.MobileFolder)) {
    std::error_code error;
    std::filesystem::create_directories(SystemPath(folders.MobileFolder), error);
    if (error) {
      throw EInOutError("Ordner kann nicht angelegt werden: " + folders.MobileFolder);
    }
  }
  std::string content = ReadOfficeFile(path);
  if (content.empty() && !header.empty()) content = header + "\r\n";
  // Whatever the office typed at the end, what is added starts a line of its own.
  if (!content.empty() && content.back() != '\n') content += "\r\n";
  content += text;
  WriteFileAtomically(path, content);
  return path;
}

std::string AppendToOfficeList(const Folders& folders, const std::string& fileName,
                               const std::string& title, const std::vector<std::string>& entries) {
  if (entries.empty()) return std::string();
  const std::string path = folders.MobileFolder + kPathSep + fileName;
  // A blank line between the runs; none above the first.
  std::string text = !ReadOfficeFile(path).empty() ? "\r\n" : "";
  text += "===== " + title + " vom " + MomentText(NowCivil()) + " =====\r\n";
  for (const std::string& entry : entries) text += "\r\n" + entry + "\r\n";
  return AppendToOfficeFile(folders, fileName, std::string(), text);
}

std::string KeepNotImportedLines(const Folders& folders, const ImportSummary& summary) {
  std::vector<std::string> entries;
  for (const LineFailure& line : summary.failures) entries.push_back(Entry(line));
  for (const LineFailure& line : summary.notTaken) entries.push_back(Entry(line));
  return AppendToOfficeList(folders, kNotImportedFile, "Nicht importiert beim Import", entries);
}

std::vector<std::string> ConflictFileLines(const std::vector<FieldConflict>& conflicts,
                                           const CivilTime& moment) {
  const std::string stamp = ShortDateText(moment) + " " + TwoDigits(moment.hour) + ":" +
                            TwoDigits(moment.minute) + ":" + TwoDigits(moment.second);
  std::vector<std::string> lines;
  lines.reserve(conflicts.size());
  for (const FieldConflict& conflict : conflicts) {
    lines.push_back(stamp + ";" + Field(conflict.record) + ";" + Field(conflict.field) + ";" +
                    Field(conflict.desktop) + ";" + Field(conflict.mobile));
  }
  return lines;
}

std::string KeepConflicts(const Folders& folders, const std::vector<FieldConflict>& conflicts) {
  if (conflicts.empty()) return std::string();
  std::string text;
  for (const std::string& line : ConflictFileLines(conflicts, NowCivil())) text += line + "\r\n";
  return AppendToOfficeFile(folders, kConflictFileName,
                            W1252("Datum;Datensatz;Feld;Wert im Büro (überschrieben);"
                                  "Wert vom Mobilgerät (übernommen)"),
                            text);
}

}  // namespace kelvanor
