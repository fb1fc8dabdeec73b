// The received-data tree: what the mobile sent, one node per change file and
// one per line, as the user sees it before the import and as the import reads
// it. Also the dated backup of a received tree.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <string>
#include <vector>

#include "sync/logger.h"
#include "settings/settings.h"
#include "import/node_list.h"
#include "util/daynumber.h"

namespace kelvanor {

// One line of a change file in the tool's Windows-1252.
struct DecodedLine {
  std::string text;
  std::string refused;  // why it cannot be imported as it stands; "" when it can
};

// The lines of a change file's bytes (see SplitLines). A file that begins
// with a UTF-8 or UTF-16 (LE or BE) byte-order mark is read in that encoding
// and converted; a letter Windows-1252 lacks stays in its line as "<U+0141>"
// and the line is refused. Any other file is Windows-1252 already and is
// taken byte for byte.
std::vector<DecodedLine> ChangeFileLines(const std::string& bytes);

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

// Rebuilds `tree` from a dated backup SaveReceivedTree wrote (a file the user
// names to import it again). The backup holds the nodes' texts without their
// levels: a file node is the name of a change file (one of `changeFiles`, or
// any "..._x.txt"), everything after it up to the next file node its lines.
// A file that is not such a backup (no "Neue Daten, Import am" first, cut
// off before its last line ended, UTF-16, a NUL byte, more than
// kMaxUnpackedBytes or kMaxReceivedLines lines, a line before the first
// file) raises Exception with a German message naming it; `tree` is then
// empty.
void ReadBackupFile(const std::string& path, const FileTable& changeFiles, TreeModel& tree);

// "2027_03_01_09.05.07_mob_from_server.txt" for 1 March 2027, 09:05:07: the
// names sort by date. (Older versions wrote "2027_3_1_9.5.7_..."; nothing
// reads the names back, the office lists the folder.)
std::string BackupFileName(const CivilTime& moment);

// Writes the texts of all nodes, one per CR LF line, into a dated file in
// MobileFolder and returns its path. A tree holding only its root writes
// nothing and gives "". Raises EInOutError when the file cannot be written.
std::string SaveReceivedTree(const Folders& folders, Logger* log, const TreeModel& tree);

}  // namespace kelvanor
