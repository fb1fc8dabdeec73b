#include "platform/environment.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include "platform/text_convert.h"
#else
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>
#endif

#include "util/encoding.h"
#include "util/numbers.h"

namespace kelvanor {

#ifdef _WIN32

std::string GetEnvVar(const std::string& name) {
  const std::wstring wideName = AnsiToWide(name);
  const DWORD size = ::GetEnvironmentVariableW(wideName.c_str(), nullptr, 0);
  if (size == 0) return std::string();
  std::wstring value(size, L'\0');
  const DWORD n = ::GetEnvironmentVariableW(wideName.c_str(), value.data(), size);
  value.resize(n < size ? n : 0);
  return WideToAnsi(value);
}

std::wstring OwnExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n == 0) return std::wstring();
    if (n < path.size()) {
      path.resize(n);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

// The file version of the VERSIONINFO resource CMake put into the program.
std::string ExeVersionString() {
  const std::wstring self = OwnExecutablePath();
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeW(self.c_str(), &ignored);
  if (size == 0) return std::string();
  std::vector<char> block(size);
  if (!::GetFileVersionInfoW(self.c_str(), 0, size, block.data())) return std::string();
  VS_FIXEDFILEINFO* info = nullptr;
  UINT length = 0;
  if (!::VerQueryValueW(block.data(), L"\\", reinterpret_cast<void**>(&info), &length) ||
      info == nullptr || length < sizeof(VS_FIXEDFILEINFO)) {
    return std::string();
  }
  char text[64];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", HIWORD(info->dwFileVersionMS),
                LOWORD(info->dwFileVersionMS), HIWORD(info->dwFileVersionLS),
                LOWORD(info->dwFileVersionLS));
  return text;
}

std::string ExecutableFolder() {
  const std::wstring path = OwnExecutablePath();
  const std::size_t slash = path.find_last_of(L"\\/");
  if (slash != std::wstring::npos) return WideToAnsi(path.substr(0, slash + 1));
  return std::string(1, '.') + kPathSep;
}

std::string ApplicationDataBase() {
  std::string base = GetEnvVar("APPDATA");
  while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
  return base;
}

std::string WorkstationName() { return GetEnvVar("COMPUTERNAME"); }

std::string LoginName() { return GetEnvVar("USERNAME"); }

std::string ApplicationDataBaseCharacterLost() {
  const DWORD size = ::GetEnvironmentVariableW(L"APPDATA", nullptr, 0);
  if (size == 0) return std::string();
  std::wstring value(size, L'\0');
  value.resize(::GetEnvironmentVariableW(L"APPDATA", value.data(), size));
  for (std::size_t i = 0; i < value.size(); ++i) {
    const wchar_t c = value[i];
    // Without WC_NO_BEST_FIT_CHARS, Windows writes L for Ł: another folder.
    BOOL usedDefault = FALSE;
    char bytes[4];
    const bool surrogate = c >= 0xD800 && c <= 0xDFFF;
    if (surrogate || ::WideCharToMultiByte(1252, WC_NO_BEST_FIT_CHARS, &c, 1, bytes,
                                           sizeof bytes, nullptr, &usedDefault) != 1 ||
        usedDefault) {
      unsigned long codePoint = c;
      if (surrogate && c <= 0xDBFF && i + 1 < value.size()) {
        codePoint = 0x10000 + ((c - 0xD800) << 10) + (value[i + 1] - 0xDC00);
      }
      return CodePointName(codePoint);
    }
  }
  return std::string();
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  ::localtime_s(&local, &moment);
  return local;
}

char UserDecimalSeparator() {
  wchar_t text[8] = {};
  if (::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, LOCALE_SDECIMAL, text, 8) == 0) return '\0';
  const std::string separator = WideToAnsi(text);
  return separator.size() == 1 ? separator[0] : '\0';
}

#else

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

namespace {

// The folder as the environment names it, in UTF-8.
std::string ApplicationDataBaseUtf8() {
  const auto variable = [](const char* name) {
    const char* value = std::getenv(name);
    return std::string(value == nullptr ? "" : value);
  };
  std::string base = variable("APPDATA");
  if (base.empty()) base = variable("XDG_CONFIG_HOME");
  if (base.empty()) {
    const std::string home = variable("HOME");
    // Without any of them the folder lands in the root, as on Windows
    // without APPDATA.
    if (!home.empty()) base = home + kPathSep + ".config";
  }
  while (!base.empty() && base.back() == kPathSep) base.pop_back();
  return base;
}

}  // namespace

std::string ApplicationDataBase() { return Utf8ToCp1252(ApplicationDataBaseUtf8()); }

std::string WorkstationName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return std::string();
  return Utf8ToCp1252(name);
}

std::string LoginName() {
  const std::string user = GetEnvVar("USER");
  return user.empty() ? GetEnvVar("LOGNAME") : user;
}

std::string ApplicationDataBaseCharacterLost() {
  return FirstCharacterCp1252Lacks(ApplicationDataBaseUtf8());
}

std::tm LocalTime(std::time_t moment) {
  std::tm local{};
  ::localtime_r(&moment, &local);
  return local;
}

// LC_NUMERIC as the environment sets it (LC_ALL, LC_NUMERIC, LANG), read
// without touching the process's own C locale.
char UserDecimalSeparator() {
  locale_t loc = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
  if (loc == static_cast<locale_t>(0)) return '\0';
  const char* radix = nl_langinfo_l(RADIXCHAR, loc);
  const char separator =
      radix != nullptr && radix[0] != '\0' && radix[1] == '\0' ? radix[0] : '\0';
  freelocale(loc);
  return separator;
}

#endif

CivilTime NowCivil() {
  using namespace std::chrono;
  const milliseconds sinceEpoch =
      duration_cast<milliseconds>(system_clock::now().time_since_epoch());
  const seconds wholeSeconds = duration_cast<seconds>(sinceEpoch);
  const std::tm local = LocalTime(static_cast<std::time_t>(wholeSeconds.count()));
  CivilTime t;
  t.year = local.tm_year + 1900;
  t.month = local.tm_mon + 1;
  t.day = local.tm_mday;
  t.hour = local.tm_hour;
  t.minute = local.tm_min;
  t.second = local.tm_sec;
  t.millisecond = static_cast<int>((sinceEpoch - wholeSeconds).count());
  return t;
}

double NowDayNumber() { return CivilToDayNumber(NowCivil()); }

void InitDecimalSeparatorFromLocale() {
  // Read without changing the C library's global locale: it stays "C", so
  // no printf anywhere starts writing commas behind our back.
  const char separator = UserDecimalSeparator();
  if (separator != '\0') SetDecimalSeparator(separator);
}

}  // namespace kelvanor
