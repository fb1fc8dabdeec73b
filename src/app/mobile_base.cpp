#include "app/mobile_base.h"

#include <exception>
#include <filesystem>
#include <limits>
#include <system_error>

#include "export/export.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"

namespace kelvanor {

namespace fs = std::filesystem;

namespace {

// Removes the folder and what it holds; a link in it goes as a link.
void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  RemoveWithoutFollowingLinks(SystemPath(folder), ignored);
}

}  // namespace

void KeepUploadedFilesAsBase(const Settings& settings, const Folders& folders) {
  const std::string base = folders.MobileBaseFolder();
  const std::string fresh = folders.AppDataFolder + "Kelvanor-Basis.neu" + kPathSep;
  const std::string old = folders.AppDataFolder + "Kelvanor-Basis.alt" + kPathSep;
  try {
    RemoveFolder(fresh);
    fs::create_directories(SystemPath(fresh));
    for (const std::string& file : settings.DataFiles) {
      // Only the files the export wrote: a link in one's place is not read.
      if (file.empty() || KindOfEntry(SystemPath(settings.local_dir + file)) != EntryKind::kFile) {
        continue;
      }
      std::string bytes;
      ReadPlainFile(settings.local_dir + file, std::numeric_limits<std::uintmax_t>::max(), bytes);
      WriteFileAtomically(fresh + file, bytes);
    }
    // The old base steps aside whole before the new one takes its name, so
    // no moment leaves a base half old and half new.
    RemoveFolder(old);
    if (fs::exists(SystemPath(base))) fs::rename(SystemPath(base), SystemPath(old));
    fs::rename(SystemPath(fresh), SystemPath(base));
    RemoveFolder(old);
  } catch (const std::exception& e) {
    RemoveFolder(fresh);
    RemoveFolder(old);
    RemoveFolder(base);
    throw EInOutError("Die hochgeladenen Daten konnten nicht als Vergleichsbasis gesichert werden (" +
                      std::string(e.what()) +
                      "); der n\xE4" "chste Import \xFC" "bernimmt ge\xE4nderte Datens\xE4tze ganz, bis auf "
                      "Felder, die der Export abgeschnitten hat.");
  }
}

std::unique_ptr<FieldMerge> PrepareFieldMerge(TDBase& db, const Folders& folders,
                                              const TreeModel& tree) {
  // Without a changed record the export below would be work for nothing.
  if (!HoldsMergedChanges(tree)) return nullptr;
  DataFileSet base(folders.MobileBaseFolder());
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

}  // namespace kelvanor
