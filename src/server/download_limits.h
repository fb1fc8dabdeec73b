// How much the tool takes from the sync server at most. The server, or
// anyone between it and the office on plain HTTP, decides what arrives; a
// practice's real data stays far below every one of these.
//
// Room src/server: what speaks to the sync server in a sync (commands,
// transfers, reading answers, checking archives). It uses the
// settings and the platform layer, never the sync run: a TransferLog is all
// it knows of one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kelvanor {

// The version file holds one version text; more than this is no version file.
constexpr std::uintmax_t kMaxVersionFileBytes = 64 * 1024;

// The download archive as it comes over the line (curl stops beyond it).
constexpr std::uintmax_t kMaxDownloadArchiveBytes = 64u * 1024 * 1024;
// One file of the archive, unpacked.
constexpr std::uintmax_t kMaxChangeFileBytes = 16u * 1024 * 1024;
// All files of the archive together, unpacked.
constexpr std::uintmax_t kMaxUnpackedBytes = 64u * 1024 * 1024;
// Files in the archive.
constexpr std::size_t kMaxArchiveEntries = 1000;
// Lines of all change files together, the header lines included.
constexpr std::size_t kMaxReceivedLines = 250000;

}  // namespace kelvanor
