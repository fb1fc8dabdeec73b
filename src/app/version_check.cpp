#include "app/version_check.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <exception>

#include "util/encoding.h"
#include "util/files.h"
#include "util/text.h"

namespace kelvanor {

namespace {

// Starts `path` with no arguments in a new session, so it outlives us and
// never becomes our zombie. Failures are not reported.
void StartDetached(const std::string& path) {
  const std::string systemPath = AnsiToUtf8Name(path);
  // Everything the children need is prepared before fork: after it only
  // async-signal-safe calls are allowed.
  char* const argv[] = {const_cast<char*>(systemPath.c_str()), nullptr};
  const long maxFd = sysconf(_SC_OPEN_MAX);
  const int closeUpTo = maxFd > 0 && maxFd < 65536 ? static_cast<int>(maxFd) : 65536;

  const pid_t child = fork();
  if (child < 0) return;
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
}

}  // namespace

bool IsNewerVersion(const std::string& offered, const std::string& own) {
  // std::string compares through char_traits<char>, i.e. as unsigned bytes.
  return offered != own && offered.compare(own) > 0;
}

UpdateCheckResult CheckForUpdate(THTTPGet& http, const std::string& webBase,
                                 const std::string& programFolder,
                                 const std::string& ownVersion) {
  UpdateCheckResult result;
  const std::string fileName = programFolder + "version.txt";
  const std::string url = webBase + "/sync/version.txt";
  std::remove(AnsiToUtf8Name(fileName).c_str());
  http.WaitThread = true;
  http.DownloadFile(url, fileName);

  // The file exists exactly when the server answered; whether the answer is
  // usable the text itself tells.
  if (!FileExists(fileName)) {
    result.kind = UpdateCheckResult::Error;
    result.errorMessage = "Die Versionsdatei konnte nicht vom Server geladen werden: " + url;
    return result;
  }
  std::string text;
  try {
    for (const std::string& line : SplitLines(ReadWholeFile(fileName))) text += line + "\r\n";
  } catch (const std::exception& e) {
    result.kind = UpdateCheckResult::Error;
    result.errorMessage = e.what();
    return result;
  }

  // A web server's error page instead of the version file.
  for (const char* word : {"not found", "not exist", "doesn't exist"}) {
    if (text.find(word) != std::string::npos) return result;
  }
  const std::string offered = Trim(text);
  if (offered.empty()) return result;
  if (IsNewerVersion(offered, ownVersion)) {
    result.kind = UpdateCheckResult::Offer;
    result.offered = offered;
  }
  return result;
}

std::string UpdateOfferText(const std::string& offered) {
  return "Update auf neue Version  " + offered + "  verf\xFC" "gbar. Jetzt laden?";
}

void DownloadAndStartUpdate(THTTPGet& http, const std::string& webBase,
                            const std::string& programFolder) {
  const std::string fileName = programFolder + "mob.exe";
  http.WaitThread = true;
  http.DownloadFile(webBase + "/sync/mob.exe", fileName);
  const std::string systemPath = AnsiToUtf8Name(fileName);
  struct stat st;
  if (::stat(systemPath.c_str(), &st) == 0) {
    ::chmod(systemPath.c_str(), (st.st_mode & 07777) | S_IXUSR | S_IXGRP | S_IXOTH);
  }
  StartDetached(fileName);
}

}  // namespace kelvanor
