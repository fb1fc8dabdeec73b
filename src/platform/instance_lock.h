// Exclusive locks on a file, held while a Kelvanor works on what the file
// stands for. The operating system drops a lock when the process ends,
// however it ends, so a crash never leaves a stale lock behind.
//
// Two reaches:
//  - kThisMachine: one Kelvanor (window or kelvanor-cli) per application-data
//    folder, which lives on this machine;
//  - kEveryMachine: one sync per practice database and account, whoever
//    runs it (another workstation over a network share, another Windows
//    user). This is a byte-range lock as SQLite takes on the database
//    itself (fcntl on POSIX, LockFileEx on Windows), which file servers
//    pass on to every client.
//
// What the file holds is the holder's note, emptied by every new holder.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

#include "util/w1252.h"

namespace kelvanor {

class InstanceLock {
 public:
  enum class Reach { kThisMachine, kEveryMachine };

  // Takes the lock on `path` (Windows-1252; the file is created when missing,
  // its folder must exist). Returns null when another holder has it (with
  // kEveryMachine also another holder in this process). Raises EInOutError
  // when the lock file cannot be opened or created at all, and when a link
  // (on Windows any reparse point) stands in its place, dangling or not:
  // the lock is never made or taken where a link leads.
  static std::unique_ptr<InstanceLock> TryAcquire(const std::string& path,
                                                  Reach reach = Reach::kThisMachine);

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
  InstanceLock(std::intptr_t handle, std::string identity)
      : handle_(handle), identity_(std::move(identity)) {}
  std::intptr_t handle_;  // the open lock file (a descriptor or a HANDLE)
  // For a POSIX byte-range lock: the file's device and inode, known to this
  // process as held (see the POSIX side); "" otherwise.
  std::string identity_;
};

// Why a lock file is not opened: a link stands in its place.
inline std::string LockIsALink(const std::string& path) {
  return "Die Sperrdatei " + path +
         W1252(" ist eine Verknüpfung; Kelvanor folgt keinen Verknüpfungen. Bitte sie entfernen.");
}

// What a second start tells the user.
constexpr const char* kAlreadyRunningMessage = W1252("Kelvanor läuft bereits.");

}  // namespace kelvanor
