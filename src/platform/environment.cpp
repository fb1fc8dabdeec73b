#include "platform/environment.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/encoding.h"

namespace kelvanor {

// The environment and the file system speak UTF-8; the tool's texts are
// Windows-1252, so values are converted on the way in.
std::string GetEnvVar(const std::string& name) {
  const char* value = std::getenv(name.c_str());
  if (value == nullptr) return std::string();
  return Utf8ToCp1252(value);
}

std::string ExeVersionString() {
  char text[64];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", KELVANOR_VERSION_MAJOR, KELVANOR_VERSION_MINOR,
                KELVANOR_VERSION_PATCH, KELVANOR_VERSION_BUILD);
  return text;
}

std::string ExecutableFolder() {
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) break;
    if (static_cast<std::size_t>(n) < buffer.size()) {
      const std::string path(buffer.data(), static_cast<std::size_t>(n));
      const std::size_t slash = path.find_last_of('/');
      if (slash == std::string::npos) break;
      return Utf8ToCp1252(path.substr(0, slash + 1));
    }
    buffer.resize(buffer.size() * 2);
  }
  // Without /proc the working folder is the best remaining guess.
  std::vector<char> cwd(4096);
  if (::getcwd(cwd.data(), cwd.size()) != nullptr) {
    std::string folder = Utf8ToCp1252(cwd.data());
    if (folder.empty() || folder.back() != kPathSep) folder += kPathSep;
    return folder;
  }
  return std::string(1, '.') + kPathSep;
}

}  // namespace kelvanor
