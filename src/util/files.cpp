#include "util/files.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "util/encoding.h"
#include "util/errors.h"

namespace kelvanor {

namespace {
std::string SystemPath(const std::string& path) { return AnsiToUtf8Name(path); }
}  // namespace

bool DirectoryExists(const std::string& path) {
  struct stat st;
  return ::stat(SystemPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st;
  return ::stat(SystemPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(SystemPath(path), std::ios::binary);
  if (!in) throw EInOutError("Datei kann nicht gelesen werden: " + path);
  std::ostringstream buf;
  buf << in.rdbuf();
  if (in.bad()) throw EInOutError("Datei kann nicht gelesen werden: " + path);
  return buf.str();
}

void WriteFileAtomically(const std::string& path, const std::string& bytes) {
  const std::string target = SystemPath(path);
  const std::string temp = target + ".tmp" + std::to_string(::getpid());
  FILE* f = std::fopen(temp.c_str(), "wb");
  if (f == nullptr) {
    throw EInOutError("Datei kann nicht geschrieben werden: " + path + " (" +
                      std::strerror(errno) + ")");
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool flushed = std::fflush(f) == 0 && ::fsync(::fileno(f)) == 0;
  const bool closed = std::fclose(f) == 0;
  if (!written || !flushed || !closed || std::rename(temp.c_str(), target.c_str()) != 0) {
    const int err = errno;
    std::remove(temp.c_str());
    throw EInOutError("Datei kann nicht geschrieben werden: " + path + " (" + std::strerror(err) +
                      ")");
  }
}

std::vector<std::string> SplitLines(const std::string& content) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  const std::size_t n = content.size();
  std::size_t i = 0;
  while (i < n) {
    char c = content[i];
    if (c == '\r' || c == '\n') {
      lines.push_back(content.substr(start, i - start));
      if (c == '\r' && i + 1 < n && content[i + 1] == '\n') ++i;
      start = i + 1;
    }
    ++i;
  }
  if (start < n) lines.push_back(content.substr(start));
  return lines;
}

std::string ExtractFilePath(const std::string& path) {
  std::size_t pos = path.find_last_of('/');
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

}  // namespace kelvanor
