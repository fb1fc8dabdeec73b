// The file system as the tool's paths see it. Paths are Windows-1252 texts
// like every other text of the tool; here they become what the system's file
// calls take (UTF-8 names on Linux, UTF-16 names on Windows), so a folder
// like "Büro" is the same folder for the tool, for SQLite and for the user.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace kelvanor {

// The system's path for a Windows-1252 path, and back.
std::filesystem::path SystemPath(const std::string& ansiPath);
std::string AnsiPath(const std::filesystem::path& path);

// fopen for a Windows-1252 path; null (errno set) when it cannot be opened.
std::FILE* OpenFile(const std::string& ansiPath, const char* mode);

// Pushes what was written to `file` through to the disk (fsync).
bool FlushToDisk(std::FILE* file);
// Pushes a folder's entries (a file made or renamed in it) through to the
// disk; false when that fails.
bool FlushFolderToDisk(const std::string& folder);

// Deletes a file, a read-only one too: Linux lets the folder decide, and on
// Windows the read-only flag is cleared first. False when it stays.
bool DeleteFileEvenIfReadOnly(const std::filesystem::path& file);

// What a folder entry is, told from the entry itself: a link (on Windows any
// reparse point, a junction too) is a link, whatever it points to.
enum class EntryKind { kMissing, kFile, kFolder, kLink, kOther };
EntryKind KindOfEntry(const std::filesystem::path& path);

// Removes `path`, whatever it is: a file, a link (the link alone, never what
// it points to), or a folder with everything in it, links inside taken the
// same way. A missing path is no error. False, with `error` set, when
// something stays.
bool RemoveWithoutFollowingLinks(const std::filesystem::path& path, std::error_code& error);

// Reads a plain file of at most `limit` bytes into `bytes`, never through a
// link. False when it holds more (`bytes` is then empty). Raises EInOutError
// with a German message when it is missing, is no plain file, or cannot be
// read.
bool ReadPlainFile(const std::string& path, std::uintmax_t limit, std::string& bytes);

// May this process write to the existing file? (Checked before an ini file
// is replaced, so a write-protected one stays as it is.)
bool MayWriteFile(const std::string& ansiPath);

// The current folder with a trailing separator; "" when it cannot be told.
std::string CurrentFolder();
// Makes `ansiPath` the current folder; false when it cannot.
bool SetCurrentFolder(const std::string& ansiPath);

// A number no other running process has (for names of temporary files).
unsigned long CurrentProcessId();

// The system's folder for temporary files, as the system names it, without
// a trailing separator ($TMPDIR, else /tmp; on Windows %TMP%, %TEMP% ...);
// empty when it cannot be told.
std::filesystem::path SystemTemporaryFolder();

// Makes a new private folder in the system's folder for temporary files,
// named `prefix` plus a unique tail. Returns its path without a trailing
// separator, or "" when none could be made. (A folder a later start should
// be able to tell from one a killed process left: HeldTemporaryFolder in
// platform/temporary_folder.h.)
std::string MakeTemporaryFolder(const std::string& prefix);

// True when the path exists and is a folder; a file.
bool DirectoryExists(const std::string& path);
bool FileExists(const std::string& path);

// Reads a whole file; raises EInOutError with a German message when it cannot.
std::string ReadWholeFile(const std::string& path);

// Who may read a file the tool writes: everyone the folder lets in, or (on
// Linux) its owner alone, for a file that holds a password.
enum class FileReaders { kAsTheFolderAllows, kOwnerOnly };

// Writes a file so that readers see either the old or the new content: the
// bytes go to a temporary file beside it which then replaces the target.
// Neither file is ever written through a link of that name: the temporary
// one is made new, and the target is replaced, not written into.
// Raises EInOutError with a German message when it cannot.
void WriteFileAtomically(const std::string& path, const std::string& bytes,
                         FileReaders readers = FileReaders::kAsTheFolderAllows);

// The same, for a file written piece by piece: what is appended goes to the
// temporary file at once (a large file is never held whole), Commit puts
// it in the target's place. Destroyed without Commit (an error on the way),
// the temporary file goes and the target stays as it was.
class AtomicFileWriter {
 public:
  // Raises EInOutError when the temporary file cannot be made.
  explicit AtomicFileWriter(std::string path,
                            FileReaders readers = FileReaders::kAsTheFolderAllows);
  ~AtomicFileWriter();
  AtomicFileWriter(const AtomicFileWriter&) = delete;
  AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

  void Append(const char* bytes, std::size_t size);
  void Append(const std::string& bytes) { Append(bytes.data(), bytes.size()); }
  // Flushed to the disk, then in place. Raises EInOutError when it cannot.
  void Commit();

 private:
  void Abandon();

  std::string path_;
  std::string temp_;
  std::FILE* file_ = nullptr;
  bool failed_ = false;
  int error_ = 0;
};

// The folder of a path including its trailing separator ("" when none).
std::string ExtractFilePath(const std::string& path);

// A path as written by the host program or the user ("\" or "/" between
// folders) with the separators this system uses.
std::string NativeSeparators(const std::string& path);

}  // namespace kelvanor
