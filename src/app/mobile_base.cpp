#include "app/mobile_base.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "export/export.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/files.h"

namespace kelvanor {

namespace fs = std::filesystem;

namespace {

void RemoveFolder(const std::string& folder) {
  std::error_code ignored;
  fs::remove_all(SystemPath(folder), ignored);
}

}  // namespace

void KeepUploadedFilesAsBase(const Settings& settings, const Folders& folders) {
  const std::string base = folders.MobileBaseFolder();
  const std::string fresh = folders.AppDataFolder + "Kelvanor-Basis.neu" + kPathSep;
  try {
    RemoveFolder(fresh);
    fs::create_directories(SystemPath(fresh));
    for (const std::string& file : settings.DataFiles) {
      if (file.empty() || !FileExists(settings.local_dir + file)) continue;
      WriteFileAtomically(fresh + file, ReadWholeFile(settings.local_dir + file));
    }
    RemoveFolder(base);
    fs::rename(SystemPath(fresh), SystemPath(base));
  } catch (const std::exception& e) {
    RemoveFolder(fresh);
    RemoveFolder(base);
    throw EInOutError("Die hochgeladenen Daten konnten nicht als Vergleichsbasis gesichert werden (" +
                      std::string(e.what()) +
                      "); der n\xE4" "chste Import \xFC" "bernimmt ge\xE4nderte Datens\xE4tze ganz.");
  }
}

std::unique_ptr<FieldMerge> PrepareFieldMerge(TDBase& db, const Folders& folders) {
  DataFileSet base(folders.MobileBaseFolder());
  if (!base.Present()) return nullptr;
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
  return std::make_unique<FieldMerge>(std::move(base), std::move(current));
}

}  // namespace kelvanor
