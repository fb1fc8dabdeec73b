#include "sync/received_tree.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <set>
#include <system_error>
#include <unordered_map>

#include "server/download_limits.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/exchange_files.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

void Log(Logger* log, const std::string& line) {
  if (log != nullptr) log->LogLine(line);
}

constexpr const char* kNotTaken = W1252("; die empfangenen Daten werden nicht übernommen.");

// The bytes of a change file: a plain file, never read through a link, of
// at most kMaxChangeFileBytes.
std::string ReadChangeFile(const std::string& path) {
  std::string bytes;
  if (!ReadPlainFile(path, kMaxChangeFileBytes, bytes)) {
    throw Exception(path + W1252(" ist größer als ") + std::to_string(kMaxChangeFileBytes) +
                    " Bytes" + kNotTaken);
  }
  return bytes;
}

// Calls `take` with every line of `content` (see SplitLines), without first
// making a list of them all: a file of millions of empty lines must not cost
// memory before the line limit refuses it.
template <typename Take>
void ForEachLine(const std::string& content, Take take) {
  std::size_t start = 0;
  const std::size_t size = content.size();
  while (start < size) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = size;
    std::string line = content.substr(start, end - start);
    start = end + (end + 1 < size && content[end] == '\r' && content[end + 1] == '\n' ? 2 : 1);
    take(std::move(line));
  }
}

// The text of a line read as UTF-8, in Windows-1252.
DecodedLine FromUtf8(const std::string& utf8) {
  DecodedLine line;
  bool lacking = false;
  line.text = Utf8ToCp1252Marked(utf8, &lacking);
  if (lacking) {
    const std::string first = FirstCharacterCp1252Lacks(utf8);
    line.refused = "Das Zeichen " + first + " gibt es in Windows-1252 nicht (in der Zeile als <" +
                   first + "> geschrieben).";
  }
  return line;
}

// Calls `take` with every line of a change file's bytes in Windows-1252.
// Saved from an editor, a change file may carry the mark of its encoding;
// read as Windows-1252 every line of a UTF-16 file would be unreadable and
// every umlaut of a UTF-8 one two wrong letters. Notepad saves UTF-8 without
// the mark these days: a file that is valid UTF-8 with multi-byte sequences
// is read as UTF-8, since Windows-1252 text is practically never that.
template <typename Take>
void ForEachChangeFileLine(const std::string& bytes, Take take) {
  std::string utf8;
  if (StartsWith(bytes, kUtf8ByteOrderMark)) {
    utf8 = bytes.substr(kUtf8ByteOrderMark.size());
  } else if (IsMultiByteUtf8(bytes)) {
    utf8 = bytes;
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    utf8 = Utf16ToUtf8(bytes.substr(2), false);
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    utf8 = Utf16ToUtf8(bytes.substr(2), true);
  } else {
    ForEachLine(bytes, [&](std::string text) { take(DecodedLine{std::move(text), std::string()}); });
    return;
  }
  ForEachLine(utf8, [&](std::string text) { take(FromUtf8(text)); });
}

// Adds the lines of `content` as line nodes. `lines` counts the lines of all
// files so far: beyond kMaxReceivedLines the data is refused, so that memory
// stays in proportion to what a practice really sends.
void AddFileLines(const std::string& content, bool merge, TreeModel& tree, std::size_t& lines) {
  // First field -> position of the node that holds it. A replaced node keeps
  // its first field, so the entry stays valid for the rest of the file.
  std::unordered_map<std::string, std::size_t> nodeByKey;
  std::size_t lineNumber = 0;
  ForEachChangeFileLine(content, [&](DecodedLine line) {
    ++lineNumber;
    if (++lines > kMaxReceivedLines) {
      throw Exception(W1252("Die empfangenen Änderungsdateien haben zusammen mehr als ") +
                      std::to_string(kMaxReceivedLines) + " Zeilen" + kNotTaken);
    }
    // Nothing after a NUL byte would reach the database: the line fails
    // alone instead of being cut.
    if (line.refused.empty() && line.text.find('\0') != std::string::npos) {
      line.refused = W1252("Die Zeile enthält ein Nullzeichen.");
    }
    std::string key = FirstField(line.text);
    if (merge && !key.empty()) {
      auto found = nodeByKey.find(key);
      if (found != nodeByKey.end()) {
        tree.Replace(found->second, std::move(line.text), lineNumber, std::move(line.refused));
        return;
      }
      nodeByKey.emplace(std::move(key), tree.Count());
    }
    tree.Append(2, std::move(line.text), lineNumber, std::move(line.refused));
  });
}

}  // namespace

std::vector<DecodedLine> ChangeFileLines(const std::string& bytes) {
  std::vector<DecodedLine> lines;
  ForEachChangeFileLine(bytes, [&](DecodedLine line) { lines.push_back(std::move(line)); });
  return lines;
}

void ReadReceivedFiles(const Settings& settings, Logger* log, TreeModel& tree) {
  ReadReceivedFilesFrom(settings.local_dir + "tmp_dl" + kPathSep, settings.ChangeFiles, log, tree);
}

namespace {

// The names of the entries of `folder`, sorted; none when it is not there.
std::vector<std::string> EntryNames(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(SystemPath(folder), error), end;
       !error && it != end; it.increment(error)) {
    names.push_back(AnsiPath(it->path().filename()));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool EndsWithChangeFileSuffix(const std::string& name) {
  const std::string lower = AsciiLowerCase(name);
  return lower.size() > 6 && lower.compare(lower.size() - 6, 6, "_x.txt") == 0;
}

}  // namespace

void ReadReceivedFilesFrom(const std::string& folder, const FileTable& changeFiles,
                           Logger* log, TreeModel& tree) {
  tree.Clear();
  tree.Append(0, "Neue Daten, Import am " + ShortDateText(NowCivil()));
  const std::vector<std::string> names = EntryNames(folder);
  std::set<std::string> read;
  std::size_t lines = 0;
  auto addFile = [&](const std::string& node, const std::string& name, bool merge) {
    const std::string path = folder + name;
    Log(log, "Datei gefunden - " + path);
    tree.Append(1, node);
    AddFileLines(ReadChangeFile(path), merge, tree, lines);
    Log(log, "Datei gelesen - " + path);
    read.insert(name);
  };
  for (const std::string& file : changeFiles) {
    if (file.empty()) continue;
    // Windows finds "MOB_KUNDE_X.TXT" under the lower-case name; so does
    // every system here.
    auto found = std::find(names.begin(), names.end(), file);
    if (found == names.end()) {
      found = std::find_if(names.begin(), names.end(), [&](const std::string& name) {
        return read.count(name) == 0 && AsciiLowerCase(name) == AsciiLowerCase(file);
      });
    }
    if (found == names.end()) continue;
    const ExchangeFile* kind = ExchangeFileByChangeFile(file);
    addFile(file, *found, kind == nullptr || kind->mergeLines);
  }
  // A change file of a kind the tool does not import (from a newer mobile)
  // is shown and backed up with the rest, never passed over: the server
  // would drop it with the others.
  for (const std::string& name : names) {
    if (read.count(name) > 0 || !EndsWithChangeFileSuffix(name)) continue;
    addFile(name, name, false);
  }
}

namespace {

bool IsChangeFileName(const std::string& text, const FileTable& changeFiles) {
  if (text.empty() || text.find(';') != std::string::npos) return false;
  for (const std::string& file : changeFiles) {
    if (!file.empty() && AsciiLowerCase(file) == AsciiLowerCase(text)) return true;
  }
  return EndsWithChangeFileSuffix(text) && text.find_first_of("/\\:") == std::string::npos;
}

// A letter the download could not take into Windows-1252 stands in its line
// as "<U+0141>" (see FromUtf8); the backup keeps the mark, so the line is
// refused again, never imported with the mark as its text.
std::string RefusalOfMarkedLetter(const std::string& text) {
  for (std::size_t at = text.find("<U+"); at != std::string::npos; at = text.find("<U+", at + 1)) {
    const std::size_t close = text.find('>', at);
    if (close == std::string::npos || close - at < 7 || close - at > 9) continue;
    const std::string hex = text.substr(at + 3, close - at - 3);
    if (hex.find_first_not_of("0123456789ABCDEF") != std::string::npos) continue;
    const std::string first = text.substr(at + 1, close - at - 1);
    return "Das Zeichen " + first + " gibt es in Windows-1252 nicht (in der Zeile als <" + first +
           "> geschrieben).";
  }
  return std::string();
}

}  // namespace

void ReadBackupFile(const std::string& path, const FileTable& changeFiles, TreeModel& tree) {
  tree.Clear();
  const auto refuse = [&](const std::string& why) {
    tree.Clear();
    throw Exception(path + W1252(" ist keine Sicherung empfangener Daten, die Kelvanor "
                                 "importieren kann: ") +
                    why + W1252("; es wurde nichts geändert."));
  };
  std::string bytes;
  if (KindOfEntry(SystemPath(path)) != EntryKind::kFile) refuse("die Datei fehlt oder ist keine Datei");
  if (!ReadPlainFile(path, kMaxUnpackedBytes, bytes)) {
    refuse(W1252("sie ist größer als ") + std::to_string(kMaxUnpackedBytes) + " Bytes");
  }
  if (StartsWith(bytes, "\xFF\xFE") || StartsWith(bytes, "\xFE\xFF")) {
    refuse(W1252("sie ist in UTF-16 gespeichert (Kelvanor schreibt sie in Windows-1252)"));
  }
  if (bytes.find('\0') != std::string::npos) refuse(W1252("sie enthält Nullzeichen"));
  constexpr const char* kRoot = "Neue Daten, Import am ";
  if (!StartsWith(bytes, kRoot)) refuse(std::string("sie beginnt nicht mit \"") + kRoot + "...\"");
  // Kelvanor writes every line with CR LF, the last one too: a file that
  // ends in the middle of a line was cut off, and its last line may be a
  // record cut in half.
  if (bytes.size() < 2 || bytes.compare(bytes.size() - 2, 2, "\r\n") != 0) {
    refuse(W1252("sie endet mitten in einer Zeile (unvollständig)"));
  }
  std::size_t lines = 0;
  bool inFile = false;
  std::size_t lineInFile = 0;
  ForEachLine(bytes, [&](std::string text) {
    if (++lines > kMaxReceivedLines + 1) {
      refuse(W1252("sie hat mehr als ") + std::to_string(kMaxReceivedLines) + " Zeilen");
    }
    if (lines == 1) {
      tree.Append(0, std::move(text));
    } else if (IsChangeFileName(text, changeFiles)) {
      tree.Append(1, std::move(text));
      inFile = true;
      lineInFile = 0;
    } else if (!inFile) {
      refuse("Zeile " + std::to_string(lines) + W1252(" steht vor der ersten Änderungsdatei"));
    } else {
      std::string refused = RefusalOfMarkedLetter(text);
      tree.Append(2, std::move(text), ++lineInFile, std::move(refused));
    }
  });
}

std::string BackupFileName(const CivilTime& moment) {
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%04d_%02d_%02d_%02d.%02d.%02d_", moment.year, moment.month, moment.day,
                moment.hour, moment.minute, moment.second);
  return std::string(stamp) + "mob_from_server.txt";
}

std::string SaveReceivedTree(const Folders& folders, Logger* log, const TreeModel& tree) {
  if (tree.Count() <= 1) return std::string();
  Log(log, "Daten / Treeview sichern ...");
  std::string content;
  for (const TreeNode& node : tree.Nodes()) {
    content += node.text;
    content += "\r\n";
  }
  const std::string path = folders.MobileFolder + kPathSep + BackupFileName(NowCivil());
  if (!DirectoryExists(folders.MobileFolder)) {
    throw EInOutError(W1252("Sicherung der empfangenen Daten nicht möglich, Ordner fehlt: ") +
                      folders.MobileFolder);
  }
  WriteFileAtomically(path, content);
  Log(log, "Daten / Treeview gesichert - " + path);
  return path;
}

}  // namespace kelvanor
