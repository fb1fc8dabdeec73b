#include "kept/mobile_base.h"

#include <exception>
#include <filesystem>
#include <limits>
#include <system_error>

#include "export/export.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace fs = std::filesystem;

namespace {

// Removes the folder and what it holds; a link in it goes as a link.
void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  RemoveWithoutFollowingLinks(SystemPath(folder), ignored);
}

// `folder` without its trailing separator, plus `suffix` and a separator:
// a sibling on the same file system, so a rename moves it in one step.
std::string Sibling(const std::string& folder, const std::string& suffix) {
  std::string name = folder;
  if (!name.empty() && name.back() == kPathSep) name.pop_back();
  return name + suffix + kPathSep;
}

// Copies the files of `source` named in `names` (those present) into a new
// base in `base`, which readers see whole or not at all.
void ReplaceBase(const std::string& source, const FileTable& names, const std::string& base) {
  const std::string fresh = Sibling(base, ".neu");
  const std::string old = Sibling(base, ".alt");
  RemoveFolder(fresh);
  fs::create_directories(SystemPath(fresh));
  for (const std::string& file : names) {
    // Only plain files: a link in one's place is not read.
    if (file.empty() || KindOfEntry(SystemPath(source + file)) != EntryKind::kFile) continue;
    std::string bytes;
    ReadPlainFile(source + file, std::numeric_limits<std::uintmax_t>::max(), bytes);
    WriteFileAtomically(fresh + file, bytes);
  }
  // The old base steps aside whole before the new one takes its name, so
  // no moment leaves a base half old and half new.
  RemoveFolder(old);
  if (fs::exists(SystemPath(base))) fs::rename(SystemPath(base), SystemPath(old));
  fs::rename(SystemPath(fresh), SystemPath(base));
  RemoveFolder(old);
}

}  // namespace

void KeepUploadedFilesAsBase(const Settings& settings, const std::string& baseFolder) {
  try {
    ReplaceBase(settings.local_dir, settings.DataFiles, baseFolder);
  } catch (const std::exception& e) {
    RemoveFolder(Sibling(baseFolder, ".neu"));
    RemoveFolder(Sibling(baseFolder, ".alt"));
    RemoveFolder(baseFolder);
    throw EInOutError(
        "Die hochgeladenen Daten konnten nicht als Vergleichsbasis gesichert werden (" +
        std::string(e.what()) +
        W1252("); der nächste Import übernimmt geänderte Datensätze ganz, bis auf "
              "Felder, die der Export abgeschnitten hat."));
  }
}

std::unique_ptr<FieldMerge> PrepareFieldMerge(TDBase& db, const Folders& folders,
                                              const std::string& baseFolder,
                                              const TreeModel& tree,
                                              const EarlierImports* earlier) {
  // Without a changed record the export below would be work for nothing.
  bool changesRecords = HoldsMergedChanges(tree);
  if (earlier != nullptr) {
    for (const auto& [position, before] : *earlier) {
      changesRecords = changesRecords || !before.asChange.empty();
    }
  }
  if (!changesRecords) return nullptr;
  DataFileSet base(baseFolder);
  const std::string scratch = folders.AppDataFolder + "Kelvanor-Vergleich";
  DataFileSet current;
  try {
    RemoveFolder(scratch);
    // The scratch export says nothing: the user sees the sync's own steps.
    SilentExportProgress progress;
    ExportState state;
    if (ExportMobileData(db, scratch, progress, state, ExportEnvironment::ForThisProgram())
            .IsOk()) {
      current = DataFileSet(scratch + kPathSep);
    }
  } catch (const std::exception&) {
    // Without the practice's present state no conflict can be told apart.
  }
  RemoveFolder(scratch);
  if (!base.Present() && !current.Present()) return nullptr;
  return std::make_unique<FieldMerge>(std::move(base), std::move(current));
}

void TakeOverLegacyBase(const std::string& legacyFolder, const std::string& baseFolder) {
  if (!DirectoryExists(legacyFolder)) return;
  if (!DirectoryExists(baseFolder)) {
    FileTable names{};
    std::size_t count = 0;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(SystemPath(legacyFolder), error)) {
      if (count < names.size() && entry.is_regular_file(error)) {
        names[count++] = AnsiPath(entry.path().filename());
      }
    }
    try {
      ReplaceBase(legacyFolder, names, baseFolder);
    } catch (const std::exception&) {
      // Taken over another time; until then the merge does without.
      RemoveFolder(Sibling(baseFolder, ".neu"));
      return;
    }
  }
  RemoveFolder(legacyFolder);
}

}  // namespace kelvanor
