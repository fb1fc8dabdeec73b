#include "app/office_files.h"

#include <cstdio>
#include <filesystem>

#include "platform/file_system.h"
#include "util/errors.h"

namespace kelvanor {

namespace {

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

}  // namespace

std::string AppendToOfficeFile(const Folders& folders, const std::string& fileName,
                               const std::string& header, const std::vector<std::string>& lines) {
  const std::string path = folders.MobileFolder + kPathSep + fileName;
  if (!DirectoryExists(folders.MobileFolder)) {
    std::error_code error;
    std::filesystem::create_directories(SystemPath(folders.MobileFolder), error);
    if (error) {
      throw EInOutError("Ordner kann nicht angelegt werden: " + folders.MobileFolder);
    }
  }
  const bool fresh = !FileExists(path);
  std::FILE* file = OpenFile(path, "ab");
  if (file == nullptr) {
    throw EInOutError(
        "Datei kann nicht ge\xF6"
        "ffnet werden: " +
        path);
  }
  std::string bytes;
  if (fresh && !header.empty()) bytes += header + "\r\n";
  for (const std::string& line : lines) bytes += line + "\r\n";
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool flushed = written && FlushToDisk(file);
  const bool closed = std::fclose(file) == 0;
  if (!written || !flushed || !closed) {
    throw EInOutError("Datei kann nicht geschrieben werden: " + path);
  }
  return path;
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
  return AppendToOfficeFile(folders, kConflictFileName,
                            "Datum;Datensatz;Feld;Wert im B\xFCro (\xFC"
                            "berschrieben);Wert vom Mobilger\xE4t "
                            "(\xFC"
                            "bernommen)",
                            ConflictFileLines(conflicts, NowCivil()));
}

}  // namespace kelvanor
