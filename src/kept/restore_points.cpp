#include "kept/restore_points.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "db/database_copy.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

bool IsRestorePointName(const std::string& name) {
  // yyyy-mm-dd_hh-mm-ss.db, perhaps with a "_2" when two came in one second
  return name.size() >= 22 && name[4] == '-' && name[10] == '_' &&
         name.compare(name.size() - 3, 3, ".db") == 0;
}

}  // namespace

std::string RestorePointName(const CivilTime& moment) {
  char name[64];
  std::snprintf(name, sizeof name, "%04d-%02d-%02d_%02d-%02d-%02d", moment.year, moment.month,
                moment.day, moment.hour, moment.minute, moment.second);
  return std::string(name);
}

std::string MakeRestorePoint(TDBase& db, const std::string& folder, const CivilTime& moment) {
  std::string path = folder;
  while (path.size() > 1 && (path.back() == '/' || path.back() == kPathSep)) path.pop_back();
  const auto refuse = [&](const std::string& why) {
    throw EInOutError(W1252("Der Wiederherstellungspunkt kann nicht angelegt werden: ") + why);
  };
  switch (KindOfEntry(SystemPath(path))) {
    case EntryKind::kFolder: break;
    case EntryKind::kMissing: {
      std::error_code made;
      std::filesystem::create_directory(SystemPath(path), made);
      if (made) {
        refuse(W1252("Der Ordner ") + path + W1252(" lässt sich nicht anlegen (") +
               Utf8ToCp1252(made.message()) + ").");
      }
      FlushFolderToDisk(ExtractFilePath(path));
      break;
    }
    case EntryKind::kLink:
      refuse(W1252("An der Stelle des Ordners ") + path +
             W1252(" steht eine Verknüpfung; Kelvanor folgt ihr nicht."));
      break;
    default:
      refuse(W1252("An der Stelle des Ordners ") + path + W1252(" steht eine Datei."));
      break;
  }
  // A copy that a crash cut short never got its name: it is of no use.
  std::error_code listed;
  for (std::filesystem::directory_iterator it(SystemPath(path), listed), end;
       !listed && it != end; it.increment(listed)) {
    const std::string name = AnsiPath(it->path().filename());
    if (name.find(".db.part") != std::string::npos) {
      std::error_code ignored;
      RemoveWithoutFollowingLinks(it->path(), ignored);
    }
  }
  const std::string stem = path + kPathSep + RestorePointName(moment);
  std::string target = stem + ".db";
  for (int n = 2; KindOfEntry(SystemPath(target)) != EntryKind::kMissing && n < 100; ++n) {
    target = stem + "_" + std::to_string(n) + ".db";
  }
  CopyDatabaseTo(db, target);
  return target;
}

std::vector<std::string> RestorePoints(const std::string& folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (std::filesystem::directory_iterator it(SystemPath(folder), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = AnsiPath(it->path().filename());
    if (IsRestorePointName(name) && KindOfEntry(it->path()) == EntryKind::kFile) {
      names.push_back(name);
    }
  }
  // The name is the moment; "_2" after the seconds sorts after the first.
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return a.substr(0, 19) != b.substr(0, 19) ? a < b : a.size() != b.size() ? a.size() < b.size() : a < b;
  });
  std::vector<std::string> paths;
  std::string base = folder;
  if (!base.empty() && base.back() != '/' && base.back() != kPathSep) base += kPathSep;
  for (const std::string& name : names) paths.push_back(base + name);
  return paths;
}

void PruneRestorePoints(const std::string& folder, int keep) {
  const std::vector<std::string> points = RestorePoints(folder);
  const std::size_t kept = static_cast<std::size_t>(std::max(keep, 1));
  for (std::size_t i = 0; i + kept < points.size(); ++i) {
    DeleteFileEvenIfReadOnly(SystemPath(points[i]));
  }
}

}  // namespace kelvanor
