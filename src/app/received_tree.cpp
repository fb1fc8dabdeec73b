#include "app/received_tree.h"

#include <cstdio>
#include <unordered_map>

#include "app/download_limits.h"
#include "platform/environment.h"
#include "util/errors.h"
#include "util/exchange_files.h"
#include "platform/file_system.h"
#include "util/text.h"

namespace kelvanor {

namespace {

void Log(Logger* log, const std::string& line) {
  if (log != nullptr) log->LogLine(line);
}

const char kNotTaken[] = "; die empfangenen Daten werden nicht \xFC" "bernommen.";

// The bytes of a change file: a plain file, never read through a link, of
// at most kMaxChangeFileBytes.
std::string ReadChangeFile(const std::string& path) {
  std::string bytes;
  if (!ReadPlainFile(path, kMaxChangeFileBytes, bytes)) {
    throw Exception(path + " ist gr\xF6\xDF" "er als " + std::to_string(kMaxChangeFileBytes) +
                    " Bytes" + kNotTaken);
  }
  return bytes;
}

// Adds the lines of `content` as line nodes. `lines` counts the lines of all
// files so far: beyond kMaxReceivedLines the data is refused, so that memory
// stays in proportion to what a practice really sends.
void AddFileLines(const std::string& file, const std::string& content, bool merge,
                  TreeModel& tree, std::size_t& lines) {
  // First field -> position of the node that holds it. A replaced node keeps
  // its first field, so the entry stays valid for the rest of the file.
  std::unordered_map<std::string, std::size_t> nodeByKey;
  std::size_t lineNumber = 0;
  std::size_t start = 0;
  const std::size_t size = content.size();
  while (start < size) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) end = size;
    std::string line = content.substr(start, end - start);
    start = end + (end + 1 < size && content[end] == '\r' && content[end + 1] == '\n' ? 2 : 1);
    ++lineNumber;
    if (++lines > kMaxReceivedLines) {
      throw Exception("Die empfangenen \xC4nderungsdateien haben zusammen mehr als " +
                      std::to_string(kMaxReceivedLines) + " Zeilen" + kNotTaken);
    }
    // Nothing after a NUL byte would reach the database.
    if (line.find('\0') != std::string::npos) {
      throw Exception(file + ", Zeile " + std::to_string(lineNumber) +
                      ": die Zeile enth\xE4lt ein Nullzeichen" + kNotTaken);
    }
    std::string key = FirstField(line);
    if (merge && !key.empty()) {
      auto found = nodeByKey.find(key);
      if (found != nodeByKey.end()) {
        tree.Replace(found->second, std::move(line));
        continue;
      }
      nodeByKey.emplace(std::move(key), tree.Count());
    }
    tree.Append(2, std::move(line));
  }
}

}  // namespace

void ReadReceivedFiles(const Settings& settings, Logger* log, TreeModel& tree) {
  ReadReceivedFilesFrom(settings.local_dir + "tmp_dl" + kPathSep, settings.ChangeFiles, log, tree);
}

void ReadReceivedFilesFrom(const std::string& folder, const FileTable& changeFiles,
                           Logger* log, TreeModel& tree) {
  tree.Clear();
  tree.Append(0, "Neue Daten, Import am " + ShortDateText(NowCivil()));
  std::size_t lines = 0;
  for (const std::string& file : changeFiles) {
    if (file.empty()) continue;
    const std::string path = folder + file;
    if (KindOfEntry(SystemPath(path)) == EntryKind::kMissing) continue;
    Log(log, "Datei gefunden - " + path);
    tree.Append(1, file);
    const ExchangeFile* kind = ExchangeFileByChangeFile(file);
    const std::string content = ReadChangeFile(path);
    AddFileLines(file, content, kind == nullptr || kind->mergeLines, tree, lines);
    Log(log, "Datei gelesen - " + path);
  }
}

std::string BackupFileName(const CivilTime& moment) {
  char stamp[96];
  std::snprintf(stamp, sizeof stamp, "%d_%d_%d_%d.%d.%d_", moment.year, moment.month, moment.day,
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
    throw EInOutError("Sicherung der empfangenen Daten nicht m\xF6glich, Ordner fehlt: " +
                      folders.MobileFolder);
  }
  WriteFileAtomically(path, content);
  Log(log, "Daten / Treeview gesichert - " + path);
  return path;
}

}  // namespace kelvanor
