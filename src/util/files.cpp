#include "util/files.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"

namespace kelvanor {

bool DirectoryExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_directory(SystemPath(path), ec);
}

bool FileExists(const std::string& path) {
  std::error_code ec;
  return std::filesystem::is_regular_file(SystemPath(path), ec);
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
  const std::string temp = path + ".tmp" + std::to_string(CurrentProcessId());
  FILE* f = OpenFile(temp, "wb");
  if (f == nullptr) {
    throw EInOutError("Datei kann nicht geschrieben werden: " + path + " (" +
                      std::strerror(errno) + ")");
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  const bool flushed = std::fflush(f) == 0 && FlushToDisk(f);
  const bool closed = std::fclose(f) == 0;
  const int writeError = errno;
  // rename replaces the target in one step (on Windows too, where the C
  // library's rename would refuse an existing target).
  std::error_code renamed;
  if (written && flushed && closed) std::filesystem::rename(SystemPath(temp), SystemPath(path), renamed);
  if (!written || !flushed || !closed || renamed) {
    const std::string reason = renamed ? renamed.message() : std::strerror(writeError);
    std::error_code ignored;
    std::filesystem::remove(SystemPath(temp), ignored);
    throw EInOutError("Datei kann nicht geschrieben werden: " + path + " (" + reason + ")");
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
  std::size_t pos = path.find_last_of(kPathSeparators);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

}  // namespace kelvanor
