#include "platform/launch.h"

#ifdef _WIN32
#include <windows.h>
#include <shellapi.h>

#include "platform/text_convert.h"
#else
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

#include "util/encoding.h"
#endif

namespace kelvanor {

#ifdef _WIN32

bool StartProgramDetached(const std::string& ansiPath) {
  // CreateProcess refuses a program whose manifest asks for administrator
  // rights (ERROR_ELEVATION_REQUIRED); the shell asks the user instead.
  const std::wstring file = AnsiToWide(ansiPath);
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = file.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (!::ShellExecuteExW(&info)) return false;
  if (info.hProcess != nullptr) ::CloseHandle(info.hProcess);
  return true;
}

#else

// Started in a new session, so it outlives us and never becomes our zombie.
bool StartProgramDetached(const std::string& ansiPath) {
  const std::string systemPath = AnsiToUtf8Name(ansiPath);
  struct stat st;
  if (::stat(systemPath.c_str(), &st) != 0) return false;
  ::chmod(systemPath.c_str(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
  if (::access(systemPath.c_str(), X_OK) != 0) return false;
  // Everything the children need is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  char* const argv[] = {const_cast<char*>(systemPath.c_str()), nullptr};
  const long maxFd = sysconf(_SC_OPEN_MAX);
  const int closeUpTo = maxFd > 0 && maxFd < 65536 ? static_cast<int>(maxFd) : 65536;

  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    setsid();
    const pid_t grandchild = fork();
    if (grandchild != 0) _exit(0);
    // The update must not hold our database, sockets or pipes open.
    for (int fd = 3; fd < closeUpTo; ++fd) close(fd);
    signal(SIGPIPE, SIG_DFL);
    execv(argv[0], argv);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  return true;
}

#endif

}  // namespace kelvanor
