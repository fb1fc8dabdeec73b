// One sync at a time per application-data folder, across processes: the
// window and kelvanor-cli each hold an exclusive lock on a file in that
// folder while they run. The operating system drops the lock when the
// process ends, however it ends, so a crash never leaves a stale lock behind.
// What the file holds is the holder's note, emptied by every new holder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace kelvanor {

class InstanceLock {
 public:
  // Takes the lock on `path` (Windows-1252; the file is created when missing,
  // its folder must exist). Returns null when another process holds it.
  // Raises EInOutError when the lock file cannot be opened at all.
  static std::unique_ptr<InstanceLock> TryAcquire(const std::string& path);

  // Notes this process in the lock file as the one holding it, so that a
  // second start can find the window it shows (HolderProcessId). Best effort:
  // a note that cannot be written only leaves the window where it is.
  void NoteHolder();
  // The process that noted itself in the lock file at `path` while holding
  // it; 0 when none did (a kelvanor-cli, or the holder is just starting).
  static unsigned long HolderProcessId(const std::string& path);

  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;

 private:
  explicit InstanceLock(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;  // the open lock file (a descriptor or a HANDLE)
};

// What a second start tells the user.
constexpr char kAlreadyRunningMessage[] = "Kelvanor l\xE4uft bereits.";

}  // namespace kelvanor
