// Folders a process of the tool makes for itself in the system's folder for
// temporary files, each held by that process for as long as it lives, so a
// later start tells a folder a killed run left behind (to be removed) from
// one a running Kelvanor uses (to be left alone).
//
// A folder is held by an exclusive lock on the file kHoldFileName inside it,
// taken as the folder is made and kept until the folder is removed: flock
// on Linux, LockFileEx on Windows. The operating system drops the lock when
// the process ends, however it ends (SIGKILL, a crash, a power cut), so
// nothing a dead process made stays held. The lock is never inherited by a
// program the process starts.
//
// Making and removing never race: a start that finds a folder unheld takes
// the lock itself before it removes anything and removes the lock file
// last, and a process that could not take the lock of the folder it just
// made (or finds its lock file gone) makes another one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvanor {

class HeldTemporaryFolder {
 public:
  // The file inside a folder whose lock holds it.
  static constexpr const char* kHoldFileName = "kelvanor.lock";

  // Makes a new private folder in the system's folder for temporary files,
  // named `prefix` (Windows-1252) plus a unique tail, and holds it. Null
  // when none could be made.
  static std::unique_ptr<HeldTemporaryFolder> Make(const std::string& prefix);

  // Removes the folder with everything in it (never following a link), then
  // lets it go.
  ~HeldTemporaryFolder();
  HeldTemporaryFolder(const HeldTemporaryFolder&) = delete;
  HeldTemporaryFolder& operator=(const HeldTemporaryFolder&) = delete;

  // Windows-1252, without a trailing separator.
  const std::string& Path() const { return path_; }

 private:
  HeldTemporaryFolder(std::string path, std::intptr_t handle)
      : path_(std::move(path)), handle_(handle) {}
  std::string path_;
  std::intptr_t handle_;  // the open lock file (a descriptor or a HANDLE)
};

// Removes every folder in the system's folder for temporary files whose
// name starts with `prefix`, that no running process holds (its holder
// ended, or it was made before folders were held) and that holds nothing
// but plain files named in `ownFiles` (what the tool writes into it) and the
// lock file. Anything else marks a folder that is not only the tool's: a
// subfolder, a link, a file of another name; it is left alone, and so is a
// link of such a name and a folder of another user (Linux). No link is ever
// followed. Best effort, never raises; returns how many folders were
// removed.
std::size_t RemoveAbandonedTemporaryFolders(const std::string& prefix,
                                            const std::vector<std::string>& ownFiles);

}  // namespace kelvanor
