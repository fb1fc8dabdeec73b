#include <windows.h>

#include <cstdlib>
#include <string>

#include "platform/instance_lock.h"
#include "platform/text_convert.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
std::string LastErrorText() {
  wchar_t* text = nullptr;
  const DWORD n = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, ::GetLastError(), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message = n > 0 && text != nullptr ? std::wstring(text, n) : std::wstring();
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\r' || message.back() == L'\n')) message.pop_back();
  return WideToAnsi(message);
}
}  // namespace

// A byte-range lock on the open file, for either reach: Windows drops it with
// the handle, and the handle with the process, however it ends; a file server
// keeps it for every client, and a second handle of this process is refused
// like any other. The locked byte lies far beyond the holder's note, so a
// second start can still read the note.
std::unique_ptr<InstanceLock> InstanceLock::TryAcquire(const std::string& path, Reach reach) {
  (void)reach;
  // Not inheritable: a started curl or zip must not keep the lock alive.
  // A reparse point in the file's place (a symbolic link, dangling or not, a
  // junction) is opened itself, never what it points to, and then refused.
  const HANDLE file = ::CreateFileW(
      AnsiToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE,
      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    throw EInOutError("Die Sperrdatei " + path + W1252(" kann nicht geöffnet werden (") +
                      LastErrorText() + ").");
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info)) {
    const std::string why = LastErrorText();
    ::CloseHandle(file);
    throw EInOutError("Die Sperrdatei " + path + W1252(" kann nicht geöffnet werden (") + why +
                      ").");
  }
  if ((info.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) != 0) {
    ::CloseHandle(file);
    throw EInOutError(LockIsALink(path));
  }
  OVERLAPPED at{};
  at.OffsetHigh = 1;  // the byte at 4 GiB
  if (!::LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
    ::CloseHandle(file);
    return nullptr;
  }
  // A note of an earlier holder names a process that is gone.
  ::SetEndOfFile(file);
  return std::unique_ptr<InstanceLock>(
      new InstanceLock(reinterpret_cast<std::intptr_t>(file), std::string()));
}

void InstanceLock::NoteHolder() {
  const HANDLE file = reinterpret_cast<HANDLE>(handle_);
  const std::string note = std::to_string(::GetCurrentProcessId()) + "\r\n";
  LARGE_INTEGER start{};
  DWORD written = 0;
  if (!::SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) return;
  // Best effort, see the header.
  if (::WriteFile(file, note.data(), static_cast<DWORD>(note.size()), &written, nullptr)) {
    ::SetEndOfFile(file);
  }
}

unsigned long InstanceLock::HolderProcessId(const std::string& path) {
  const HANDLE file = ::CreateFileW(
      AnsiToWide(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 0;
  // A link's target is no holder's note.
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(file, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    ::CloseHandle(file);
    return 0;
  }
  char text[32] = {};
  DWORD n = 0;
  const BOOL read = ::ReadFile(file, text, sizeof text - 1, &n, nullptr);
  ::CloseHandle(file);
  if (!read || n == 0) return 0;
  return std::strtoul(text, nullptr, 10);
}

InstanceLock::~InstanceLock() { ::CloseHandle(reinterpret_cast<HANDLE>(handle_)); }

}  // namespace kelvanor
