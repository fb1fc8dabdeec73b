// What the server's archive may put into the download folder: plain files
// with plain names, no more of them and no larger than download_limits.h
// allows. The archive is read before unzip sees it, and the folder is looked
// at again after unzip has run.
//
// Room src/server: what speaks to the sync server in a sync (commands,
// transfers, reading answers, checking archives). It uses the
// settings and the platform layer, never the sync run: a TransferLog is all
// it knows of one.
#pragma once

#include <string>
#include <vector>

#include "util/outcome.h"

namespace kelvanor {

// Reads the archive's own directory and refuses, with a German message
// naming the entry, anything but a plain file with a plain name: a link, a
// folder, a device, a name with a folder part ("../x", "a/b", "C:x"), a name
// Windows cannot hold, a name twice, a name in `taken` (files the download
// folder holds already: the archive and its dated copy), and a second name
// beside the checked one (a Unicode path or comment extra field, in the
// directory or the entry's own header: unzip would write that one). Also
// refused: an
// encrypted entry, a packing method unzip would need more than inflate for,
// an archive or an entry beyond the limits, and an entry whose data does
// not unpack to exactly the size the directory gives (checked by unpacking
// it in memory and throwing the bytes away), so unzip writes no more than
// was counted. An archive without entries is fine.
Outcome CheckDownloadArchive(const std::string& archivePath, const std::string& archiveName,
                             const std::vector<std::string>& taken);

// After unzip: every entry of `folder` is a plain file (no link, no folder)
// of at most kMaxChangeFileBytes; else a German message naming the entry.
Outcome CheckDownloadFolder(const std::string& folder);

}  // namespace kelvanor
