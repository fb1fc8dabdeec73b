#include "platform/temporary_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "util/encoding.h"

namespace kelvanor {

namespace {

namespace fs = std::filesystem;

// Opens (creating it) and locks the lock file of the folder open as
// `folder`; -1 when another holder has it or it cannot be opened. A link in
// its place is never followed.
int TakeHold(int folder) {
  const int fd = ::openat(folder, HeldTemporaryFolder::kHoldFileName,
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
  if (fd < 0) return -1;
  // flock: closing another descriptor of the file cannot drop it, and a
  // started program inherits nothing (O_CLOEXEC).
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno != EINTR) {
      ::close(fd);
      return -1;
    }
  }
  return fd;
}

// Is the lock file at its place in `folder` the one open as `fd`? Not when
// a start that found the folder unheld removed it meanwhile.
bool HoldIsInPlace(int folder, int fd) {
  struct stat held {};
  struct stat there {};
  return ::fstatat(folder, HeldTemporaryFolder::kHoldFileName, &there, AT_SYMLINK_NOFOLLOW) == 0 &&
         ::fstat(fd, &held) == 0 && held.st_dev == there.st_dev && held.st_ino == there.st_ino;
}

// The names in the folder open as `folder`, the lock file left out; false
// when it cannot be read.
bool EntriesOf(int folder, std::vector<std::string>& names) {
  const int copy = ::dup(folder);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    ::close(copy);
    return false;
  }
  ::rewinddir(dir);
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && name != HeldTemporaryFolder::kHoldFileName) {
      names.push_back(name);
    }
  }
  const bool read = errno == 0;
  ::closedir(dir);
  return read;
}

// Removes the lock file and then the folder `path` (open as `folder`, held
// by the caller, emptied). A process that made the folder and opens its lock
// file meanwhile either finds it held, or finds it gone and makes a new one,
// which keeps the folder from going (rmdir takes only an empty one), or finds
// the folder gone and makes another. False when something stays.
bool RemoveHoldAndFolder(const fs::path& path, int folder) {
  if (::unlinkat(folder, HeldTemporaryFolder::kHoldFileName, 0) != 0 && errno != ENOENT) {
    return false;
  }
  return ::rmdir(path.c_str()) == 0;
}

// Does the folder open as `folder` hold nothing but plain files named in
// `ownFiles` (and the lock file)? Their names in `names`.
bool HoldsOnlyOwnFiles(int folder, const std::vector<std::string>& ownFiles,
                       std::vector<std::string>& names) {
  names.clear();
  if (!EntriesOf(folder, names)) return false;
  for (const std::string& name : names) {
    struct stat entry {};
    if (std::find(ownFiles.begin(), ownFiles.end(), name) == ownFiles.end() ||
        ::fstatat(folder, name.c_str(), &entry, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(entry.st_mode)) {
      return false;
    }
  }
  return true;
}

// Removes, from the folder open as `folder` and held by the caller, the
// plain files named in `ownFiles`, only when it holds nothing else; each
// goes by its name in that very folder (unlinkat), whatever happens to the
// folder's path meanwhile.
bool RemoveOwnFiles(int folder, const std::vector<std::string>& ownFiles) {
  std::vector<std::string> names;
  if (!HoldsOnlyOwnFiles(folder, ownFiles, names)) return false;
  for (const std::string& name : names) {
    if (::unlinkat(folder, name.c_str(), 0) != 0 && errno != ENOENT) return false;
  }
  return true;
}

}  // namespace

std::unique_ptr<HeldTemporaryFolder> HeldTemporaryFolder::Make(const std::string& prefix) {
  // A folder a start removed before it was held is given up for another.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string path = MakeTemporaryFolder(prefix);
    if (path.empty()) return nullptr;
    const int folder =
        ::open(AnsiToUtf8Name(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) continue;
    const int fd = TakeHold(folder);
    const bool held = fd >= 0 && HoldIsInPlace(folder, fd);
    ::close(folder);
    if (held) return std::unique_ptr<HeldTemporaryFolder>(new HeldTemporaryFolder(path, fd));
    if (fd >= 0) ::close(fd);
  }
  return nullptr;
}

HeldTemporaryFolder::~HeldTemporaryFolder() {
  const fs::path path = SystemPath(path_);
  const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (folder >= 0) {
    // Our own folder: whatever we put there goes, links as links.
    std::vector<std::string> names;
    bool emptied = EntriesOf(folder, names);
    std::error_code error;
    for (const std::string& name : names) {
      emptied = RemoveWithoutFollowingLinks(path / name, error) && emptied;
    }
    if (emptied) RemoveHoldAndFolder(path, folder);
    ::close(folder);
  }
  ::close(static_cast<int>(handle_));
}

std::size_t RemoveAbandonedTemporaryFolders(const std::string& prefix,
                                            const std::vector<std::string>& ownFiles) {
  const fs::path base = SystemTemporaryFolder();
  if (base.empty()) return 0;
  const std::string start = AnsiToUtf8Name(prefix);
  std::vector<std::string> own;
  for (const std::string& name : ownFiles) own.push_back(AnsiToUtf8Name(name));
  std::vector<fs::path> candidates;
  std::error_code error;
  for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().string().rfind(start, 0) == 0) candidates.push_back(it->path());
  }
  std::size_t removed = 0;
  for (const fs::path& path : candidates) {
    // A folder of this user, itself and no link to one; opened so, it stays
    // the folder looked at whatever happens to its name.
    struct stat named {};
    if (::lstat(path.c_str(), &named) != 0 || !S_ISDIR(named.st_mode) ||
        named.st_uid != ::geteuid()) {
      continue;
    }
    const int folder = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (folder < 0) continue;
    struct stat opened {};
    if (::fstat(folder, &opened) == 0 && opened.st_dev == named.st_dev &&
        opened.st_ino == named.st_ino) {
      // Looked at before the lock file is made, so a folder that is not
      // only ours is not written to; then taken when made by an earlier
      // version (no lock file yet) or held by nobody.
      std::vector<std::string> names;
      if (HoldsOnlyOwnFiles(folder, own, names)) {
        const int hold = TakeHold(folder);
        if (hold >= 0) {
          if (RemoveOwnFiles(folder, own) && RemoveHoldAndFolder(path, folder)) ++removed;
          ::close(hold);
        }
      }
    }
    ::close(folder);
  }
  return removed;
}

}  // namespace kelvanor
