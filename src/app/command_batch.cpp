#include "app/command_batch.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "platform/batch.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/files.h"

namespace kelvanor {

namespace {

// curl reports an HTTP error status (404, 500 ...) as success unless told
// otherwise, and the command lines of the transfers are fixed texts that carry
// no such flag. curl reads $CURL_HOME/.curlrc before anything else, so every
// curl the batch starts gets this configuration through the environment:
// "fail" turns an HTTP error into exit status 22, "silent" + "show-error"
// keep the progress meter out of the captured output but the reason in it,
// and the timeouts end a connection that hangs instead of leaving the step
// waiting forever. A proxy is still taken from the usual environment
// variables; a personal ~/.curlrc is not read for these commands.
constexpr char kCurlConfig[] =
    "# Written by Kelvanor for the curl commands of its sync.\n"
    "fail\n"
    "silent\n"
    "show-error\n"
    "connect-timeout = 60\n"
    "speed-limit = 1\n"
    "speed-time = 120\n";

class CurlConfigDir {
 public:
  CurlConfigDir() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/kelvanor-curl-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) return;
    std::ofstream rc(pattern + "/.curlrc", std::ios::binary | std::ios::trunc);
    rc << kCurlConfig;
    rc.close();
    if (!rc) {
      std::error_code ec;
      std::filesystem::remove_all(pattern, ec);
      return;
    }
    path_ = pattern;
  }
  ~CurlConfigDir() {
    if (path_.empty()) return;
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  CurlConfigDir(const CurlConfigDir&) = delete;
  CurlConfigDir& operator=(const CurlConfigDir&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

std::string GermanReason(int err) {
  switch (err) {
    case ENOTEMPTY:
    case EEXIST:
      return "es ist nicht leer";
    case ENOENT:
      return "es existiert nicht";
    case EACCES:
    case EPERM:
      return "Zugriff verweigert";
    default:
      return std::strerror(err);
  }
}

}  // namespace

std::string CurlConfigFolder() {
  static const CurlConfigDir dir;
  return dir.Path();
}

int RunCommand(const std::string& command, const std::string& folder, IMessagePump& pump,
               std::string* output) {
  const std::string batchFile = folder + "tmp.bat";
  WriteFileAtomically(batchFile, command + "\r\n");

  const std::string curlHome = CurlConfigFolder();
  if (curlHome.empty()) {
    throw EInOutError(
        "Die Einstellungen f\xFCr curl k\xF6nnen im tempor\xE4ren Verzeichnis nicht angelegt "
        "werden.");
  }
  BatchOptions options;
  options.environment.push_back("CURL_HOME=" + curlHome);
  options.output = output;
  return RunAndWait(batchFile, pump, options);
}

void EmptyAndRemoveFolder(const std::string& folder) {
  const std::string systemFolder = AnsiToUtf8Name(folder);
  const std::string prefix =
      systemFolder.empty() || systemFolder.back() == '/' ? systemFolder : systemFolder + "/";
  if (DIR* dir = ::opendir(systemFolder.c_str())) {
    while (const dirent* entry = ::readdir(dir)) {
      const std::string name = entry->d_name;
      if (name == "." || name == "..") continue;
      const std::string path = prefix + name;
      struct stat st;
      // Subfolders stay (and then keep the folder from being removed).
      if (::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) continue;
      ::unlink(path.c_str());
    }
    ::closedir(dir);
  }
  std::string target = systemFolder;
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  if (::rmdir(target.c_str()) != 0) {
    const int err = errno;
    throw EInOutError("Das Verzeichnis " + folder + " kann nicht gel\xF6scht werden (" +
                      Utf8ToCp1252(GermanReason(err)) + ").");
  }
}

}  // namespace kelvanor
