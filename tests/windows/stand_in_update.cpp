// The stand-in for a downloaded update in the Windows tests: it leaves
// "started.txt" beside itself, so a test sees that it was started. A window
// program, so that starting it opens no console.
#include <windows.h>

#include <string>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  std::wstring path(MAX_PATH, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 1;
  path.resize(length);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"started.txt";
  const HANDLE file = ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  DWORD written = 0;
  ::WriteFile(file, "started\r\n", 9, &written, nullptr);
  ::CloseHandle(file);
  return 0;
}
