// Files the office keeps beside the backups in the mobile folder, to which
// every run adds what the office must be able to look up later: the values
// of the office a conflict overwrote. Windows-1252, CR LF, only ever added to.
#pragma once

#include <string>
#include <vector>

#include "app/settings.h"
#include "import/import_summary.h"

namespace kelvanor {

// The file of the conflicts, in MobileFolder.
inline constexpr const char kConflictFileName[] = "mob_konflikte.txt";

// Adds `lines` (each ended by CR LF) to the file `fileName` in MobileFolder,
// creating the folder, and the file with `header` as its first line, when
// missing; the lines are on the disk when it returns. Returns the file's path.
// Raises EInOutError with a German message when it cannot.
std::string AppendToOfficeFile(const Folders& folders, const std::string& fileName,
                               const std::string& header, const std::vector<std::string>& lines);

// One line per conflict: the moment, the record, the field, the office's value
// it overwrote and the mobile's value it took, separated by ";".
std::vector<std::string> ConflictFileLines(const std::vector<FieldConflict>& conflicts,
                                           const CivilTime& moment);

// Adds the conflicts of a run to the conflict file and returns its path; ""
// when there were none. Raises EInOutError when it cannot.
std::string KeepConflicts(const Folders& folders, const std::vector<FieldConflict>& conflicts);

}  // namespace kelvanor
