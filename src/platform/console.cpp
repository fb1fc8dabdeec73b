#include "platform/console.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
// windows.h first: shellapi.h builds on it.
#include <shellapi.h>

#include <cstdio>

#include "platform/text_convert.h"
#else
#include <unistd.h>

#include <iostream>
#endif

namespace kelvanor {

#ifdef _WIN32

std::vector<std::string> CommandLineArguments(int /*argc*/, char** /*argv*/) {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 1; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  ::LocalFree(wide);
  return args;
}

bool StdinIsTerminal() { return ::_isatty(::_fileno(stdin)) != 0; }

namespace {
void WriteTo(DWORD which, std::FILE* stream, const std::string& utf8) {
  const HANDLE handle = ::GetStdHandle(which);
  DWORD mode = 0;
  if (handle != INVALID_HANDLE_VALUE && handle != nullptr && ::GetConsoleMode(handle, &mode)) {
    std::fflush(stream);
    const std::wstring wide = Utf8ToWide(utf8);
    DWORD written = 0;
    ::WriteConsoleW(handle, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
    return;
  }
  std::fwrite(utf8.data(), 1, utf8.size(), stream);
  std::fflush(stream);
}
}  // namespace

void WriteStdout(const std::string& utf8) { WriteTo(STD_OUTPUT_HANDLE, stdout, utf8); }
void WriteStderr(const std::string& utf8) { WriteTo(STD_ERROR_HANDLE, stderr, utf8); }

#else

std::vector<std::string> CommandLineArguments(int argc, char** argv) {
  return std::vector<std::string>(argv + 1, argv + argc);
}

bool StdinIsTerminal() { return ::isatty(STDIN_FILENO) == 1; }

void WriteStdout(const std::string& utf8) {
  std::cout << utf8;
  std::cout.flush();
}

void WriteStderr(const std::string& utf8) {
  std::cerr << utf8;
  std::cerr.flush();
}

#endif

}  // namespace kelvanor
