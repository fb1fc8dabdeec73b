// The way back: before an import writes its first record, the practice
// database is copied whole into a folder of the tool's beside it, per
// database and account like the journal (praxis.db and hof1:
// praxis.db.Kelvanor-Wiederherstellung_hof1/2026-12-09_14-05-33.db). An undo
// puts such a copy back (see database_copy.h).
//
// Room src/kept: the files the tool keeps beside the practice database and
// in the mobil folder. It uses the settings, the import and the export,
// never the sync run or the server.
#pragma once

#include <string>
#include <vector>

#include "db/dbase.h"
#include "util/daynumber.h"

namespace kelvanor {

// How many restore points stay when [general] restore_points says nothing.
constexpr int kDefaultRestorePoints = 10;

// "2026-12-09_14-05-33.db": sorts by the moment it was made.
std::string RestorePointName(const CivilTime& moment);

// Copies `db` into `folder` (ending with the separator; made when missing)
// under the name of `moment`, durably, and returns its path. A link, a file
// or anything else in the folder's place, no room or no rights: EInOutError
// with a German message, and nothing of the copy stays.
std::string MakeRestorePoint(TDBase& db, const std::string& folder, const CivilTime& moment);

// The restore points in `folder`, oldest first (full paths).
std::vector<std::string> RestorePoints(const std::string& folder);

// Removes all but the newest `keep` restore points of `folder`; what cannot
// be removed stays (the next import tries again).
void PruneRestorePoints(const std::string& folder, int keep);

}  // namespace kelvanor
