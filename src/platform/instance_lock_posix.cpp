#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>

#include "platform/instance_lock.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// POSIX byte-range locks belong to the process, and closing any descriptor
// of the file drops them all. So this process opens a file it holds such a
// lock on only once: the files held are known here by device and inode.
std::mutex heldMutex;
std::set<std::string> held;

std::string IdentityOf(const struct stat& info) {
  return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(info.st_ino));
}

[[noreturn]] void RaiseCannotOpen(const std::string& path, int err) {
  if (err == ELOOP) throw EInOutError(LockIsALink(path));
  throw EInOutError("Die Sperrdatei " + path + W1252(" kann nicht geöffnet werden (") +
                    Utf8ToCp1252(std::strerror(err)) + ").");
}

std::unique_ptr<InstanceLock> Refused(int fd) {
  ::close(fd);
  return nullptr;
}

}  // namespace

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& path, Reach reach) {
  const std::string name = AnsiToUtf8Name(path);
  std::unique_lock<std::mutex> guard(heldMutex);
  if (reach == Reach::kEveryMachine) {
    struct stat info {};
    if (::stat(name.c_str(), &info) == 0 && held.count(IdentityOf(info)) > 0) return nullptr;
  }
  // O_NOFOLLOW: a link in the file's place, dangling or not, is refused;
  // the lock is never made or taken where it leads.
  const int fd = ::open(name.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) RaiseCannotOpen(path, errno);
  if (reach == Reach::kThisMachine) {
    // flock: a child process (curl, zip) inherits nothing (O_CLOEXEC), and
    // closing any other descriptor of the file cannot drop it.
    while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EINTR) return Refused(fd);
    }
    // A note of an earlier holder names a process that is gone.
    if (::ftruncate(fd, 0) != 0) {
      // Harmless: the note is only read to find a window.
    }
    return std::unique_ptr<InstanceLock>(new InstanceLock(fd, std::string()));
  }
  // fcntl locks reach the file server (NFS, SMB), where flock may stay
  // local; a child process does not inherit them.
  struct flock range {};
  range.l_type = F_WRLCK;
  range.l_whence = SEEK_SET;
  range.l_start = 0;
  range.l_len = 1;
  while (::fcntl(fd, F_SETLK, &range) != 0) {
    if (errno != EINTR) {
      // Another holder has it. Any other failure (a file server that takes
      // no locks) is raised: going on without the lock could run two syncs
      // at once.
      if (errno == EACCES || errno == EAGAIN) return Refused(fd);
      const int err = errno;
      ::close(fd);
      RaiseCannotOpen(path, err);
    }
  }
  struct stat info {};
  if (::fstat(fd, &info) != 0) {
    const int err = errno;
    ::close(fd);
    RaiseCannotOpen(path, err);
  }
  const std::string identity = IdentityOf(info);
  held.insert(identity);
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd, identity));
}

InstanceLock::~InstanceLock() {
  std::lock_guard<std::mutex> guard(heldMutex);
  ::close(static_cast<int>(handle_));
  if (!identity_.empty()) held.erase(identity_);
}

void InstanceLock::NoteHolder() {
  const int fd = static_cast<int>(handle_);
  const std::string note = std::to_string(static_cast<unsigned long>(::getpid())) + "\n";
  if (::ftruncate(fd, 0) != 0) return;
  if (::pwrite(fd, note.data(), note.size(), 0) != static_cast<ssize_t>(note.size())) {
    // Best effort, see the header.
  }
}

unsigned long InstanceLock::HolderProcessId(const std::string& path) {
  const int fd = ::open(AnsiToUtf8Name(path).c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  return std::strtoul(text, nullptr, 10);
}

}  // namespace kelvanor
