// The received-data tree: what the mobile sent, one node per change file and
// one per line, as the user sees it before the import and as the import reads
// it. Also the dated backup of a received tree.
#pragma once

#include <string>

#include "app/logger.h"
#include "app/settings.h"
#include "import/node_list.h"
#include "util/daynumber.h"

namespace kelvanor {

// Rebuilds `tree` from the change files in ‹local_dir›tmp_dl/.
// `log` (may be null) receives the detail lines. Raises Exception, with a
// German message, for what is not taken: a change file that is no plain file
// or larger than kMaxChangeFileBytes, more than kMaxReceivedLines lines in
// all, a line holding a NUL byte (named by file and line number).
void ReadReceivedFiles(const Settings& settings, Logger* log, TreeModel& tree);

// The same over any folder (`folder` ends with the path separator); the CLI
// reads a folder the user names.
void ReadReceivedFilesFrom(const std::string& folder, const FileTable& changeFiles,
                           Logger* log, TreeModel& tree);

// "2027_3_1_9.5.7_mob_from_server.txt" for 1 March 2027, 09:05:07.
std::string BackupFileName(const CivilTime& moment);

// Writes the texts of all nodes, one per CR LF line, into a dated file in
// MobileFolder and returns its path. A tree holding only its root writes
// nothing and gives "". Raises EInOutError when the file cannot be written.
std::string SaveReceivedTree(const Folders& folders, Logger* log, const TreeModel& tree);

}  // namespace kelvanor
