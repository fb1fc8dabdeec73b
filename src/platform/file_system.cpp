#include "platform/file_system.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "platform/environment.h"
#include "platform/text_convert.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/text.h"

namespace kelvanor {

namespace fs = std::filesystem;

#ifdef _WIN32

fs::path SystemPath(const std::string& ansiPath) { return fs::path(AnsiToWide(ansiPath)); }

std::string AnsiPath(const fs::path& path) { return WideToAnsi(path.wstring()); }

std::FILE* OpenFile(const std::string& ansiPath, const char* mode) {
  return ::_wfopen(AnsiToWide(ansiPath).c_str(), AnsiToWide(mode).c_str());
}

bool FlushToDisk(std::FILE* file) { return ::_commit(::_fileno(file)) == 0; }

bool MayWriteFile(const std::string& ansiPath) {
  return ::_waccess(AnsiToWide(ansiPath).c_str(), 2) == 0;
}

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

#else

fs::path SystemPath(const std::string& ansiPath) { return fs::path(AnsiToUtf8Name(ansiPath)); }

std::string AnsiPath(const fs::path& path) { return Utf8ToCp1252(path.string()); }

std::FILE* OpenFile(const std::string& ansiPath, const char* mode) {
  return std::fopen(AnsiToUtf8Name(ansiPath).c_str(), mode);
}

bool FlushToDisk(std::FILE* file) { return ::fsync(::fileno(file)) == 0; }

bool MayWriteFile(const std::string& ansiPath) {
  return ::access(AnsiToUtf8Name(ansiPath).c_str(), W_OK) == 0;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

#endif

bool DeleteFileEvenIfReadOnly(const fs::path& file) {
  std::error_code ec;
  if (fs::remove(file, ec)) return true;
#ifdef _WIN32
  const DWORD attributes = ::GetFileAttributesW(file.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
      ::SetFileAttributesW(file.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY)) {
    return fs::remove(file, ec);
  }
#endif
  return false;
}

std::string CurrentFolder() {
  std::error_code ec;
  const fs::path here = fs::current_path(ec);
  if (ec || here.empty()) return std::string();
  std::string folder = AnsiPath(here);
  if (folder.empty() || folder.back() != kPathSep) folder += kPathSep;
  return folder;
}

bool SetCurrentFolder(const std::string& ansiPath) {
  std::error_code ec;
  fs::current_path(SystemPath(ansiPath), ec);
  return !ec;
}

std::string MakeTemporaryFolder(const std::string& prefix) {
#ifdef _WIN32
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return std::string();
  // The process id and a counter make the name unique among our own runs;
  // create_directory refuses a folder that exists, so a clash tries again.
  static unsigned counter = 0;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const fs::path candidate =
        base / (AnsiToWide(prefix) + std::to_wstring(CurrentProcessId()) + L"-" +
                std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(++counter));
    if (fs::create_directory(candidate, ec)) return AnsiPath(candidate);
    if (ec) return std::string();
  }
  return std::string();
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/" + AnsiToUtf8Name(prefix) + "XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) return std::string();
  return Utf8ToCp1252(pattern);
#endif
}

std::string NativeSeparators(const std::string& path) {
#ifdef _WIN32
  return ReplaceAll(path, "/", "\\");
#else
  return ReplaceAll(path, "\\", "/");
#endif
}

// ---- whole files ----

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

std::string ExtractFilePath(const std::string& path) {
  std::size_t pos = path.find_last_of(kPathSeparators);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

}  // namespace kelvanor
