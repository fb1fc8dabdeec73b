#include "platform/file_system.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <utility>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "platform/environment.h"
#include "platform/text_convert.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace fs = std::filesystem;

namespace {

// "dir/" names what a link "dir" points to; "dir" names the link itself.
fs::path WithoutTrailingSeparator(const fs::path& path) {
  fs::path plain = path;
  while (!plain.has_filename() && plain.has_relative_path()) plain = plain.parent_path();
  return plain;
}

}  // namespace

#ifdef _WIN32

fs::path SystemPath(const std::string& ansiPath) { return fs::path(AnsiToWide(ansiPath)); }

std::string AnsiPath(const fs::path& path) { return WideToAnsi(path.wstring()); }

std::FILE* OpenFile(const std::string& ansiPath, const char* mode) {
  return ::_wfopen(AnsiToWide(ansiPath).c_str(), AnsiToWide(mode).c_str());
}

bool FlushToDisk(std::FILE* file) { return ::_commit(::_fileno(file)) == 0; }

// NTFS writes a folder's entries through its own log; a rename made with
// MoveFileEx(MOVEFILE_WRITE_THROUGH) is on the disk when it returns.
bool FlushFolderToDisk(const std::string& folder) {
  (void)folder;
  return true;
}

bool MayWriteFile(const std::string& ansiPath) {
  return ::_waccess(AnsiToWide(ansiPath).c_str(), 2) == 0;
}

unsigned long CurrentProcessId() { return ::GetCurrentProcessId(); }

EntryKind KindOfEntry(const fs::path& given) {
  const fs::path path = WithoutTrailingSeparator(given);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? EntryKind::kMissing
                                                                          : EntryKind::kOther;
  }
  // Junctions and symbolic links alike: what they lead to is somebody else's.
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::kLink;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::kFolder;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::kOther;
  return EntryKind::kFile;
}

namespace {

std::error_code LastError() {
  return std::error_code(static_cast<int>(::GetLastError()), std::system_category());
}

// The entries of a folder, "." and ".." left out.
bool FolderEntries(const fs::path& folder, std::vector<fs::path>& entries, std::error_code& error) {
  WIN32_FIND_DATAW found;
  const HANDLE find = ::FindFirstFileW((folder / L"*").c_str(), &found);
  if (find == INVALID_HANDLE_VALUE) {
    error = LastError();
    return false;
  }
  do {
    const std::wstring name = found.cFileName;
    if (name != L"." && name != L"..") entries.push_back(folder / name);
  } while (::FindNextFileW(find, &found));
  const DWORD ended = ::GetLastError();
  ::FindClose(find);
  if (ended != ERROR_NO_MORE_FILES) {
    error = std::error_code(static_cast<int>(ended), std::system_category());
    return false;
  }
  return true;
}

}  // namespace

bool RemoveWithoutFollowingLinks(const fs::path& given, std::error_code& error) {
  error.clear();
  const fs::path path = WithoutTrailingSeparator(given);
  const DWORD attributes = ::GetFileAttributesW(path.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD code = ::GetLastError();
    if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND) return true;
    error = std::error_code(static_cast<int>(code), std::system_category());
    return false;
  }
  if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
    ::SetFileAttributesW(path.c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
  }
  const bool folder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  // A junction or a link to a folder goes as the link it is: RemoveDirectory
  // takes the reparse point away and leaves its target alone.
  if (folder && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
    std::vector<fs::path> entries;
    if (!FolderEntries(path, entries, error)) return false;
    for (const fs::path& entry : entries) {
      if (!RemoveWithoutFollowingLinks(entry, error)) return false;
    }
  }
  const BOOL removed = folder ? ::RemoveDirectoryW(path.c_str()) : ::DeleteFileW(path.c_str());
  if (!removed) {
    error = LastError();
    return false;
  }
  return true;
}

bool ReadPlainFile(const std::string& path, std::uintmax_t limit, std::string& bytes) {
  bytes.clear();
  const fs::path file = SystemPath(path);
  // The reparse point itself is opened, never what it points to.
  const HANDLE handle =
      ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    throw EInOutError("Datei kann nicht gelesen werden: " + path);
  }
  struct Closer {
    HANDLE h;
    ~Closer() { ::CloseHandle(h); }
  } closer{handle};
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(handle, &info) || ::GetFileType(handle) != FILE_TYPE_DISK) {
    throw EInOutError("Datei kann nicht gelesen werden: " + path);
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    throw EInOutError(W1252("Keine gewöhnliche Datei (Verknüpfung oder Ordner): ") + path);
  }
  const std::uintmax_t size =
      (static_cast<std::uintmax_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  if (size > limit) return false;
  bytes.resize(static_cast<std::size_t>(size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD read = 0;
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size() - done, 1u << 20));
    if (!::ReadFile(handle, &bytes[done], want, &read, nullptr)) {
      throw EInOutError("Datei kann nicht gelesen werden: " + path);
    }
    if (read == 0) break;
    done += read;
  }
  bytes.resize(done);
  // What it has grown by since it was measured counts too.
  char more[4096];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(handle, more, sizeof more, &read, nullptr)) {
      throw EInOutError("Datei kann nicht gelesen werden: " + path);
    }
    if (read == 0) return true;
    if (bytes.size() + read > limit) {
      bytes.clear();
      return false;
    }
    bytes.append(more, read);
  }
}

#else

fs::path SystemPath(const std::string& ansiPath) { return fs::path(AnsiToUtf8Name(ansiPath)); }

std::string AnsiPath(const fs::path& path) { return Utf8ToCp1252(path.string()); }

std::FILE* OpenFile(const std::string& ansiPath, const char* mode) {
  return std::fopen(AnsiToUtf8Name(ansiPath).c_str(), mode);
}

bool FlushToDisk(std::FILE* file) { return ::fsync(::fileno(file)) == 0; }

bool FlushFolderToDisk(const std::string& folder) {
  const int fd = ::open(AnsiToUtf8Name(folder).c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool flushed = ::fsync(fd) == 0;
  ::close(fd);
  return flushed;
}

bool MayWriteFile(const std::string& ansiPath) {
  return ::access(AnsiToUtf8Name(ansiPath).c_str(), W_OK) == 0;
}

unsigned long CurrentProcessId() { return static_cast<unsigned long>(::getpid()); }

EntryKind KindOfEntry(const fs::path& given) {
  const fs::path path = WithoutTrailingSeparator(given);
  struct stat st;
  if (::lstat(path.c_str(), &st) != 0) {
    return errno == ENOENT || errno == ENOTDIR ? EntryKind::kMissing : EntryKind::kOther;
  }
  if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  if (S_ISREG(st.st_mode)) return EntryKind::kFile;
  return EntryKind::kOther;
}

bool RemoveWithoutFollowingLinks(const fs::path& given, std::error_code& error) {
  error.clear();
  const fs::path path = WithoutTrailingSeparator(given);
  const EntryKind kind = KindOfEntry(path);
  if (kind == EntryKind::kMissing) return true;
  if (kind == EntryKind::kFolder) {
    // The folder itself is no link (told above), so listing it stays inside.
    std::vector<fs::path> entries;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
      entries.push_back(it->path());
    }
    if (error) return false;
    for (const fs::path& entry : entries) {
      if (!RemoveWithoutFollowingLinks(entry, error)) return false;
    }
    if (::rmdir(path.c_str()) != 0) {
      error = std::error_code(errno, std::generic_category());
      return false;
    }
    return true;
  }
  if (::unlink(path.c_str()) != 0) {
    error = std::error_code(errno, std::generic_category());
    return false;
  }
  return true;
}

namespace {

EInOutError CannotRead(const std::string& path) {
  return EInOutError("Datei kann nicht gelesen werden: " + path + " (" + std::strerror(errno) + ")");
}

}  // namespace

bool ReadPlainFile(const std::string& path, std::uintmax_t limit, std::string& bytes) {
  bytes.clear();
  // O_NOFOLLOW: a link in the file's place is refused, not read through;
  // O_NONBLOCK: a FIFO in its place does not hold the open.
  const int fd =
      ::open(AnsiToUtf8Name(path).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ELOOP) {
      throw EInOutError(W1252("Keine gewöhnliche Datei (Verknüpfung): ") + path);
    }
    throw CannotRead(path);
  }
  struct Closer {
    int fd;
    ~Closer() { ::close(fd); }
  } closer{fd};
  struct stat st;
  if (::fstat(fd, &st) != 0) {
    throw CannotRead(path);
  }
  if (!S_ISREG(st.st_mode)) {
    throw EInOutError(W1252("Keine gewöhnliche Datei: ") + path);
  }
  if (static_cast<std::uintmax_t>(st.st_size) > limit) return false;
  bytes.resize(static_cast<std::size_t>(st.st_size));
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, &bytes[done], bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      throw CannotRead(path);
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  bytes.resize(done);
  // What it has grown by since it was measured counts too.
  char more[4096];
  for (;;) {
    const ssize_t n = ::read(fd, more, sizeof more);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw CannotRead(path);
    if (n == 0) return true;
    if (bytes.size() + static_cast<std::size_t>(n) > limit) {
      bytes.clear();
      return false;
    }
    bytes.append(more, static_cast<std::size_t>(n));
  }
}

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

fs::path SystemTemporaryFolder() {
#ifdef _WIN32
  std::error_code ec;
  const fs::path base = fs::temp_directory_path(ec);
  if (ec) return fs::path();
  return WithoutTrailingSeparator(base);
#else
  const char* tmp = std::getenv("TMPDIR");
  std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  while (base.size() > 1 && base.back() == '/') base.pop_back();
  return fs::path(base);
#endif
}

std::string MakeTemporaryFolder(const std::string& prefix) {
#ifdef _WIN32
  const fs::path base = SystemTemporaryFolder();
  if (base.empty()) return std::string();
  std::error_code ec;
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
  std::string pattern = SystemTemporaryFolder().string() + "/" + AnsiToUtf8Name(prefix) + "XXXXXX";
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

namespace {

// A new file of that name, made by us: whatever had the name before (a file
// left by a crash, a link someone put there) is removed, not written through.
std::FILE* CreateNewFile(const std::string& path, FileReaders readers) {
  std::error_code ignored;
  RemoveWithoutFollowingLinks(SystemPath(path), ignored);
#ifdef _WIN32
  (void)readers;  // a file in the user's profile is the user's by its folder
  const int fd = ::_wopen(AnsiToWide(path).c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY,
                          _S_IREAD | _S_IWRITE);
  if (fd < 0) return nullptr;
  std::FILE* f = ::_fdopen(fd, "wb");
  if (f == nullptr) ::_close(fd);
#else
  const mode_t mode = readers == FileReaders::kOwnerOnly ? 0600 : 0666;
  const int fd = ::open(AnsiToUtf8Name(path).c_str(),
                        O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return nullptr;
  std::FILE* f = ::fdopen(fd, "wb");
  if (f == nullptr) ::close(fd);
#endif
  return f;
}

}  // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes, FileReaders readers) {
  AtomicFileWriter writer(path, readers);
  writer.Append(bytes);
  writer.Commit();
}

AtomicFileWriter::AtomicFileWriter(std::string path, FileReaders readers)
    : path_(std::move(path)), temp_(path_ + ".tmp" + std::to_string(CurrentProcessId())) {
  file_ = CreateNewFile(temp_, readers);
  if (file_ == nullptr) {
    throw EInOutError("Datei kann nicht geschrieben werden: " + path_ + " (" +
                      std::strerror(errno) + ")");
  }
}

AtomicFileWriter::~AtomicFileWriter() { Abandon(); }

void AtomicFileWriter::Append(const char* bytes, std::size_t size) {
  // The first failure is kept and told at Commit; what follows it is moot.
  if (file_ == nullptr || failed_ || size == 0) return;
  if (std::fwrite(bytes, 1, size, file_) != size) {
    failed_ = true;
    error_ = errno;
  }
}

void AtomicFileWriter::Commit() {
  if (file_ == nullptr) return;
  const bool written = !failed_;
  const bool flushed = written && std::fflush(file_) == 0 && FlushToDisk(file_);
  const int flushError = errno;
  const bool closed = std::fclose(file_) == 0;
  file_ = nullptr;
  const int writeError = !written ? error_ : !flushed ? flushError : errno;
  // rename replaces the target in one step (on Windows too, where the C
  // library's rename would refuse an existing target).
  std::error_code renamed;
  if (written && flushed && closed) std::filesystem::rename(SystemPath(temp_), SystemPath(path_), renamed);
  if (!written || !flushed || !closed || renamed) {
    const std::string reason = renamed ? renamed.message() : std::strerror(writeError);
    std::error_code ignored;
    std::filesystem::remove(SystemPath(temp_), ignored);
    throw EInOutError("Datei kann nicht geschrieben werden: " + path_ + " (" + reason + ")");
  }
}

void AtomicFileWriter::Abandon() {
  if (file_ == nullptr) return;
  std::fclose(file_);
  file_ = nullptr;
  std::error_code ignored;
  std::filesystem::remove(SystemPath(temp_), ignored);
}

std::string ExtractFilePath(const std::string& path) {
  std::size_t pos = path.find_last_of(kPathSeparators);
  return pos == std::string::npos ? std::string() : path.substr(0, pos + 1);
}

}  // namespace kelvanor
