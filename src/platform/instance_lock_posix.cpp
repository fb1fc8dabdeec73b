#include "platform/instance_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  return std::unique_ptr<InstanceLock>(new InstanceLock(fd));
}

InstanceLock::~InstanceLock() { ::close(static_cast<int>(handle_)); }

}  // namespace kelvanor
