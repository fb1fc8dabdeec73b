#include "app/received_tree.h"

#include <cstdio>
#include <unordered_map>

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

void AddFileLines(const std::string& content, bool merge, TreeModel& tree) {
  // First field -> position of the node that holds it. A replaced node keeps
  // its first field, so the entry stays valid for the rest of the file.
  std::unordered_map<std::string, std::size_t> nodeByKey;
  for (std::string& line : SplitLines(content)) {
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
  for (const std::string& file : changeFiles) {
    if (file.empty()) continue;
    const std::string path = folder + file;
    if (!FileExists(path)) continue;
    Log(log, "Datei gefunden - " + path);
    tree.Append(1, file);
    const ExchangeFile* kind = ExchangeFileByChangeFile(file);
    AddFileLines(ReadWholeFile(path), kind == nullptr || kind->mergeLines, tree);
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
