#include "platform/process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>

extern char** environ;

namespace kelvanor {

namespace {

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

bool EndsWithExe(const std::string& name) {
  if (name.size() <= 4) return false;
  std::string tail = name.substr(name.size() - 4);
  for (char& c : tail) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  return tail == ".exe";
}

std::string NameOf(const std::string& entry) { return entry.substr(0, entry.find('=')); }

// Our environment with the overrides laid over it.
std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
  std::vector<std::string> merged;
  for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
    const std::string entry(*e);
    bool replaced = false;
    for (const std::string& o : overrides) replaced = replaced || NameOf(o) == NameOf(entry);
    if (!replaced) merged.push_back(entry);
  }
  merged.insert(merged.end(), overrides.begin(), overrides.end());
  return merged;
}

std::vector<char*> PointersTo(std::vector<std::string>& texts) {
  std::vector<char*> pointers;
  for (std::string& t : texts) pointers.push_back(t.data());
  pointers.push_back(nullptr);
  return pointers;
}

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { Close(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  void Reset(int fd) {
    Close();
    fd_ = fd;
  }
  void Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_;
};

int DecodeStatus(int status) {
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return kExitSignalBase + WTERMSIG(status);
  return kExitCannotStart;
}

// Blocks until the child is gone; used only where it is about to end anyway.
int ReapBlocking(pid_t pid) {
  int status = 0;
  for (;;) {
    const pid_t r = ::waitpid(pid, &status, 0);
    if (r == pid) return DecodeStatus(status);
    if (r < 0 && errno != EINTR) return kExitCannotStart;
  }
}

// Kills and reaps the child when the wait is left by an exception (a pump
// that throws), so no process outlives the step that started it.
class ChildGuard {
 public:
  explicit ChildGuard(pid_t pid) : pid_(pid) {}
  ~ChildGuard() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ReapBlocking(pid_);
    }
  }
  ChildGuard(const ChildGuard&) = delete;
  ChildGuard& operator=(const ChildGuard&) = delete;
  void Release() { pid_ = -1; }

 private:
  pid_t pid_;
};

int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  return -1;
#endif
}

// One wait round: returns early when the child ends (where the kernel can
// tell us through a pidfd), else after the full round.
void WaitOneRound(int pidFd) {
  if (pidFd >= 0) {
    pollfd p{pidFd, POLLIN, 0};
    if (::poll(&p, 1, kWaitRoundMilliseconds) >= 0) return;
  }
  timespec round{0, kWaitRoundMilliseconds * 1000L * 1000L};
  ::nanosleep(&round, nullptr);
}

}  // namespace

std::string FindProgram(const std::string& name) {
  if (name.empty()) return "";
  std::vector<std::string> candidates{name};
  if (EndsWithExe(name)) candidates.push_back(name.substr(0, name.size() - 4));
  if (name.find('/') != std::string::npos) {
    for (const std::string& c : candidates)
      if (IsExecutableFile(c)) return c;
    return "";
  }

  // cmd looks in the current folder before the search path.
  std::vector<std::string> folders{"."};
  const char* path = std::getenv("PATH");
  std::string rest = path != nullptr ? path : "";
  while (path != nullptr) {
    const std::size_t colon = rest.find(':');
    const std::string folder = rest.substr(0, colon);
    folders.push_back(folder.empty() ? "." : folder);
    if (colon == std::string::npos) break;
    rest.erase(0, colon + 1);
  }
  for (const std::string& folder : folders) {
    for (const std::string& c : candidates) {
      const std::string full = folder + "/" + c;
      if (IsExecutableFile(full)) return full;
    }
  }
  return "";
}

int RunProcessAndWait(const ChildProcessSetup& setup, IMessagePump& pump) {
  if (setup.argv.empty()) return kExitCannotStart;
  // Everything the child needs is prepared here: between fork and exec only
  // async-signal-safe calls are allowed (other threads may hold locks).
  std::vector<std::string> argvTexts = setup.argv;
  std::vector<std::string> envTexts = MergedEnvironment(setup.environment);
  std::vector<char*> argv = PointersTo(argvTexts);
  std::vector<char*> envp = PointersTo(envTexts);

  Fd devNull(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  if (devNull.get() < 0) return kExitCannotStart;
  Fd output;
  if (!setup.outputFile.empty()) {
    output.Reset(::open(setup.outputFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
    if (output.get() < 0) return kExitCannotStart;
  }
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) return kExitCannotStart;
  Fd execErrorRead(pipeFds[0]);
  Fd execErrorWrite(pipeFds[1]);

  const pid_t pid = ::fork();
  if (pid < 0) return kExitCannotStart;
  if (pid == 0) {
    ::dup2(devNull.get(), STDIN_FILENO);
    if (output.get() >= 0) {
      ::dup2(output.get(), STDOUT_FILENO);
      ::dup2(output.get(), STDERR_FILENO);
    } else {
      ::dup2(STDERR_FILENO, STDOUT_FILENO);
    }
    // Ignored signals and the blocked mask survive exec; a child must start
    // with the defaults (curl and zip expect SIGPIPE to work).
    struct sigaction dfl;
    std::memset(&dfl, 0, sizeof dfl);
    dfl.sa_handler = SIG_DFL;
    for (int sig = 1; sig < NSIG; ++sig) ::sigaction(sig, &dfl, nullptr);
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::execve(setup.program.c_str(), argv.data(), envp.data());
    const int err = errno;
    ssize_t ignored = ::write(execErrorWrite.get(), &err, sizeof err);
    (void)ignored;
    ::_exit(127);
  }

  ChildGuard guard(pid);
  execErrorWrite.Close();
  devNull.Close();
  output.Close();

  // The pipe closes on a successful exec; otherwise it carries exec's errno.
  int execErrno = 0;
  ssize_t got;
  do {
    got = ::read(execErrorRead.get(), &execErrno, sizeof execErrno);
  } while (got < 0 && errno == EINTR);
  if (got == static_cast<ssize_t>(sizeof execErrno)) {
    guard.Release();
    ReapBlocking(pid);
    return execErrno == ENOENT ? kExitProgramNotFound : kExitCannotExecute;
  }

  Fd pidFd(OpenPidFd(pid));
  for (;;) {
    int status = 0;
    const pid_t r = ::waitpid(pid, &status, WNOHANG);
    if (r == pid) {
      guard.Release();
      return DecodeStatus(status);
    }
    if (r < 0 && errno != EINTR) {
      // The child is not ours to wait for any more (for example SIGCHLD is
      // ignored and the kernel reaped it): report, never wait on.
      guard.Release();
      return kExitCannotStart;
    }
    WaitOneRound(pidFd.get());
    pump.ProcessPendingMessages();
  }
}

}  // namespace kelvanor
