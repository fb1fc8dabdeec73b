// What the mobile was last sent: the data files of the account's last
// successful upload, kept beside the practice database (AccountFiles) as the
// base the field-level merge compares the mobile's changed records with (see
// FieldMerge). Every workstation that syncs the database with the account
// uploads to the same mobile, so they share it.
//
// Room src/kept: the files the tool keeps beside the practice database and
// in the mobil folder. It uses the settings, the import and the export,
// never the sync run or the server.
#pragma once

#include <memory>
#include <string>

#include "settings/settings.h"
#include "db/dbase.h"
#include "import/field_merge.h"
#include "import/import_context.h"

namespace kelvanor {

// Keeps the data files just uploaded from local_dir as the new base in
// `baseFolder` (ending with the separator), in one step: readers find the old
// base or the new one, never a mix. When the copy cannot be made the old base
// is removed too, since comparing with it would take the mobile's changes for
// untouched fields, and EInOutError says why.
void KeepUploadedFilesAsBase(const Settings& settings, const std::string& baseFolder);

// The merge for an import of `tree`: the base in `baseFolder` against the
// practice as it is now (an export into a scratch folder in the
// application-data folder, removed afterwards). Without a base the practice's
// export stands in (see FieldMerge); when the practice cannot be exported,
// the merge still decides by the base but cannot tell the office's changes.
// Null when neither is there, and, at no cost, when `tree` holds no changed
// record ("A/" line) of a kind the merge compares and `earlier` (may be
// null) names no line that changes a record an earlier run created.
std::unique_ptr<FieldMerge> PrepareFieldMerge(TDBase& db, const Folders& folders,
                                              const std::string& baseFolder,
                                              const TreeModel& tree,
                                              const EarlierImports* earlier = nullptr);

// The base an earlier version kept in the application-data folder
// (`legacyFolder`) was the last upload from there, whatever the account or
// database: it becomes the base in `baseFolder` when that has none yet, and
// is removed, so no other account or database takes it for its own.
void TakeOverLegacyBase(const std::string& legacyFolder, const std::string& baseFolder);

}  // namespace kelvanor
