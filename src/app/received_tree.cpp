#include "app/received_tree.h"

#include <cstdio>
#include <unordered_map>

#include "platform/environment.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/exchange_files.h"
#include "platform/file_system.h"
#include "util/text.h"

namespace kelvanor {

namespace {

void Log(Logger* log, const std::string& line) {
  if (log != nullptr) log->LogLine(line);
}

void AddFileLines(std::vector<ReceivedLine> lines, bool merge, TreeModel& tree) {
  // First field -> position of the node that holds it. A replaced node keeps
  // its first field, so the entry stays valid for the rest of the file.
  std::unordered_map<std::string, std::size_t> nodeByKey;
  std::size_t lineNumber = 0;
  for (ReceivedLine& line : lines) {
    ++lineNumber;
    std::string key = FirstField(line.text);
    if (merge && !key.empty()) {
      auto found = nodeByKey.find(key);
      if (found != nodeByKey.end()) {
        tree.Replace(found->second, std::move(line.text), lineNumber, std::move(line.refused));
        continue;
      }
      nodeByKey.emplace(std::move(key), tree.Count());
    }
    tree.Append(2, std::move(line.text), lineNumber, std::move(line.refused));
  }
}

// The text of a line read as UTF-8, in Windows-1252.
ReceivedLine FromUtf8(const std::string& utf8) {
  ReceivedLine line;
  bool lacking = false;
  line.text = Utf8ToCp1252Marked(utf8, &lacking);
  if (lacking) {
    const std::string first = FirstCharacterCp1252Lacks(utf8);
    line.refused = "Das Zeichen " + first + " gibt es in Windows-1252 nicht (in der Zeile als <" +
                   first + "> geschrieben).";
  }
  return line;
}

}  // namespace

std::vector<ReceivedLine> ChangeFileLines(const std::string& bytes) {
  std::vector<ReceivedLine> lines;
  // Saved from an editor, a change file may carry the mark of its encoding;
  // read as Windows-1252 every line of a UTF-16 file would be unreadable and
  // every umlaut of a UTF-8 one two wrong letters.
  std::string utf8;
  if (StartsWith(bytes, "\xEF\xBB\xBF")) {
    utf8 = bytes.substr(3);
  } else if (StartsWith(bytes, "\xFF\xFE")) {
    utf8 = Utf16ToUtf8(bytes.substr(2), false);
  } else if (StartsWith(bytes, "\xFE\xFF")) {
    utf8 = Utf16ToUtf8(bytes.substr(2), true);
  } else {
    for (std::string& text : SplitLines(bytes)) lines.push_back({std::move(text), std::string()});
    return lines;
  }
  for (const std::string& text : SplitLines(utf8)) lines.push_back(FromUtf8(text));
  return lines;
}

void ReadReceivedFiles(const Settings& settings, Logger* log, TreeModel& tree) {
  ReadReceivedFilesFrom(settings.local_dir + "tmp_dl" + kPathSep, settings.ChangeFiles, log, tree);
}

void ReadReceivedFilesFrom(const std::string& folder, const FileTable& changeFiles,
                           Logger* log, TreeModel& tree) {
  tree.Clear();
  tree.Append(0, "Neue Daten, Import am " + ShortDateText(NowCivil()));
  for (const std::string& file : changeFiles) {
    if (file.empty()) continue;
    const std::string path = folder + file;
    if (!FileExists(path)) continue;
    Log(log, "Datei gefunden - " + path);
    tree.Append(1, file);
    const ExchangeFile* kind = ExchangeFileByChangeFile(file);
    AddFileLines(ChangeFileLines(ReadWholeFile(path)), kind == nullptr || kind->mergeLines, tree);
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
