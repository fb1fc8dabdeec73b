// process_origin.exe NAME: for the running process whose program file is
// NAME (Kelvanor.exe), prints which program started it and whether it runs
// elevated: "<parent program> <full|limited|default>", or nothing when no
// such process runs. The installer test asks it who started the Kelvanor of
// the setup's finish page.
#include <windows.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

std::wstring ProgramOf(DWORD pid, const PROCESSENTRY32W* all, std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) {
    if (all[i].th32ProcessID == pid) return all[i].szExeFile;
  }
  return L"?";
}

const char* Elevation(DWORD pid) {
  const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (process == nullptr) return "?";
  HANDLE token = nullptr;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  const bool known = ::OpenProcessToken(process, TOKEN_QUERY, &token) &&
                     ::GetTokenInformation(token, TokenElevationType, &type, sizeof type, &size);
  if (token != nullptr) ::CloseHandle(token);
  ::CloseHandle(process);
  if (!known) return "?";
  return type == TokenElevationTypeFull ? "full" : type == TokenElevationTypeLimited ? "limited"
                                                                                      : "default";
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc != 2) return 1;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  static PROCESSENTRY32W all[4096];
  std::size_t count = 0;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more && count < 4096;
       more = ::Process32NextW(snapshot, &entry)) {
    all[count++] = entry;
  }
  ::CloseHandle(snapshot);
  for (std::size_t i = 0; i < count; ++i) {
    if (_wcsicmp(all[i].szExeFile, argv[1]) != 0) continue;
    std::wprintf(L"%ls %hs\n", ProgramOf(all[i].th32ParentProcessID, all, count).c_str(),
                 Elevation(all[i].th32ProcessID));
    return 0;
  }
  return 0;
}
