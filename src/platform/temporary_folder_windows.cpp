#include <windows.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "platform/temporary_folder.h"

namespace kelvanor {

namespace {

namespace fs = std::filesystem;

// Opens (creating it) and locks the lock file of `folder`; INVALID_HANDLE_VALUE
// when another holder has it or it cannot be opened. Opened without
// FILE_SHARE_DELETE: while a holder has it open, the file cannot be deleted
// and so neither can its folder. A reparse point in its place is opened
// itself, never what it leads to, and refused. The handle is not inherited
// by a started program.
HANDLE TakeHold(const fs::path& folder) {
  const fs::path file = folder / HeldTemporaryFolder::kHoldFileName;
  const HANDLE handle =
      ::CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                    nullptr);
  if (handle == INVALID_HANDLE_VALUE) return handle;
  BY_HANDLE_FILE_INFORMATION info;
  OVERLAPPED at{};
  if (!::GetFileInformationByHandle(handle, &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0 ||
      !::LockFileEx(handle, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    ::CloseHandle(handle);
    return INVALID_HANDLE_VALUE;
  }
  return handle;
}

// Does `folder` hold nothing but plain files named in `ownFiles` (and the
// lock file)? A reparse point is no plain file, whatever it leads to.
bool HoldsOnlyOwnFiles(const fs::path& folder, const std::vector<std::wstring>& ownFiles,
                       std::vector<fs::path>& entries) {
  entries.clear();
  std::error_code error;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    const std::wstring name = it->path().filename().wstring();
    if (name == fs::path(HeldTemporaryFolder::kHoldFileName).wstring()) continue;
    const DWORD attributes = ::GetFileAttributesW(it->path().c_str());
    if (std::find(ownFiles.begin(), ownFiles.end(), name) == ownFiles.end() ||
        attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
      return false;
    }
    entries.push_back(it->path());
  }
  return !error;
}

// Removes the lock file and then `folder`, emptied by the caller, who held
// it through `hold`: the lock is let go first. A process that made the folder
// and opened its lock file meanwhile keeps both from being deleted (its
// handle shares no delete); one that opens it afterwards makes a new one,
// which keeps the folder. False when something stays.
bool LetGoAndRemove(const fs::path& folder, HANDLE hold) {
  ::CloseHandle(hold);
  const fs::path file = folder / HeldTemporaryFolder::kHoldFileName;
  if (!::DeleteFileW(file.c_str()) && ::GetLastError() != ERROR_FILE_NOT_FOUND) return false;
  return ::RemoveDirectoryW(folder.c_str()) != 0;
}

}  // namespace

std::unique_ptr<HeldTemporaryFolder> HeldTemporaryFolder::Make(const std::string& prefix) {
  // A folder a start removed before it was held is given up for another.
  for (int attempt = 0; attempt < 10; ++attempt) {
    const std::string path = MakeTemporaryFolder(prefix);
    if (path.empty()) return nullptr;
    const HANDLE hold = TakeHold(SystemPath(path));
    if (hold != INVALID_HANDLE_VALUE) {
      return std::unique_ptr<HeldTemporaryFolder>(
          new HeldTemporaryFolder(path, reinterpret_cast<std::intptr_t>(hold)));
    }
  }
  return nullptr;
}

HeldTemporaryFolder::~HeldTemporaryFolder() {
  // Our own folder: whatever we put there goes, links as links.
  const fs::path folder = SystemPath(path_);
  const HANDLE hold = reinterpret_cast<HANDLE>(handle_);
  std::error_code error;
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename() != HeldTemporaryFolder::kHoldFileName) entries.push_back(it->path());
  }
  bool emptied = !error;
  for (const fs::path& entry : entries) {
    emptied = RemoveWithoutFollowingLinks(entry, error) && emptied;
  }
  if (emptied) {
    LetGoAndRemove(folder, hold);
  } else {
    ::CloseHandle(hold);
  }
}

std::size_t RemoveAbandonedTemporaryFolders(const std::string& prefix,
                                            const std::vector<std::string>& ownFiles) {
  const fs::path base = SystemTemporaryFolder();
  if (base.empty()) return 0;
  const std::wstring start = SystemPath(prefix).wstring();
  std::vector<std::wstring> own;
  for (const std::string& name : ownFiles) own.push_back(SystemPath(name).wstring());
  std::vector<fs::path> candidates;
  std::error_code error;
  for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
    if (it->path().filename().wstring().rfind(start, 0) == 0) candidates.push_back(it->path());
  }
  std::size_t removed = 0;
  for (const fs::path& folder : candidates) {
    // A folder itself: a junction or link of that name leads elsewhere.
    if (KindOfEntry(folder) != EntryKind::kFolder) continue;
    // Looked at before the lock file is made, so a folder that is not only
    // ours is not written to; then taken when made by an earlier version (no
    // lock file yet) or held by nobody, and looked at again while held.
    std::vector<fs::path> entries;
    if (!HoldsOnlyOwnFiles(folder, own, entries)) continue;
    const HANDLE hold = TakeHold(folder);
    if (hold == INVALID_HANDLE_VALUE) continue;
    bool emptied = HoldsOnlyOwnFiles(folder, own, entries);
    for (const fs::path& entry : entries) {
      emptied = emptied && (::DeleteFileW(entry.c_str()) || ::GetLastError() == ERROR_FILE_NOT_FOUND);
    }
    if (!emptied) {
      ::CloseHandle(hold);
    } else if (LetGoAndRemove(folder, hold)) {
      ++removed;
    }
  }
  return removed;
}

}  // namespace kelvanor
