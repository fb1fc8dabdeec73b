#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "util/encoding.h"
#include "util/errors.h"

namespace kelvanor {

std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& path) {
  const int fd = ::open(AnsiToUtf8Name(path).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd < 0) {
    const int err = errno;
    throw EInOutError("Die Sperrdatei " + path + " kann nicht ge\xF6" "ffnet werden (" +
                      Utf8ToCp1252(std::strerror(err)) + ").");
  }
  // flock, not fcntl locks: a child process (curl, zip) inherits nothing
  // (O_CLOEXEC), and closing any other descriptor of the file cannot drop it.
  while (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (errno == EINTR) continue;
    ::close(fd);
    return nullptr;
  }
  // A note of an earlier holder names a process that is gone.
  if (::ftruncate(fd, 0) != 0) {
    // Harmless: the note is only read to find a window.
  }
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
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
  const int fd = ::open(AnsiToUtf8Name(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32] = {};
  const ssize_t n = ::read(fd, text, sizeof text - 1);
  ::close(fd);
  if (n <= 0) return 0;
  return std::strtoul(text, nullptr, 10);
}

InstanceLock::~InstanceLock() { ::close(static_cast<int>(handle_)); }

}  // namespace kelvanor
