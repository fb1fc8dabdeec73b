// windows_probe.exe: what the Windows tests under Wine cannot see from the
// X side.
//   windows_probe.exe origin NAME   for the running process whose program
//       file is NAME (Kelvanor.exe): which program started it and whether it
//       runs elevated, "<parent program> <full|limited|default>"; nothing
//       when no such process runs. (Who started the Kelvanor of the setup's
//       finish page.)
//   windows_probe.exe size TITLE    the outer size Windows gives the visible
//       top-level window whose title starts with TITLE, "<width> <height>".
//       (Wine lets the window manager shrink the X window below the size
//       Windows keeps; this is the size the program laid itself out for.)
//   windows_probe.exe redraw TITLE  has that window and all its children
//       drawn anew: what shows then is what the program holds, to compare
//       with what it showed before.
//   windows_probe.exe maximize TITLE  maximises it, as its title bar's
//       button does.
//   windows_probe.exe screen        the screen size Windows knows,
//       "<width> <height>". (Wine draws no window beyond it.)
//   windows_probe.exe shell         exit 0 when the desktop's shell answers
//       for its window list, the way the setup's finish page asks it.
//   windows_probe.exe click TITLE CAPTION  clicks the button CAPTION in that
//       window as a user would, without waiting for what the click starts
//       (a dialog's button may run for a while). Only a visible button.
//   windows_probe.exe shown TITLE CAPTION  exit 0 when that window shows
//       the button CAPTION, enabled (a question has come up).
//   windows_probe.exe text TITLE    what the window's multi-line edit field
//       shows (a dialog's result lines), UTF-8.
#include <windows.h>
#include <exdisp.h>
#include <shlguid.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

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

int Origin(const wchar_t* name) {
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return 1;
  std::vector<PROCESSENTRY32W> all;
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more;
       more = ::Process32NextW(snapshot, &entry)) {
    all.push_back(entry);
  }
  ::CloseHandle(snapshot);
  for (const PROCESSENTRY32W& process : all) {
    if (_wcsicmp(process.szExeFile, name) != 0) continue;
    std::wstring parent = L"?";
    for (const PROCESSENTRY32W& other : all) {
      if (other.th32ProcessID == process.th32ParentProcessID) parent = other.szExeFile;
    }
    std::wprintf(L"%ls %hs\n", parent.c_str(), Elevation(process.th32ProcessID));
    return 0;
  }
  return 0;
}

HWND TopLevel(const wchar_t* title) {
  struct Search {
    std::wstring title;
    HWND found;
  } search{title, nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        wchar_t text[512] = {};
        ::GetWindowTextW(window, text, 512);
        if (!::IsWindowVisible(window) || std::wstring(text).rfind(s->title, 0) != 0) return TRUE;
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

int Size(const wchar_t* title) {
  const HWND window = TopLevel(title);
  RECT rect{};
  if (window == nullptr || !::GetWindowRect(window, &rect)) return 1;
  std::printf("%ld %ld\n", rect.right - rect.left, rect.bottom - rect.top);
  return 0;
}

int Redraw(const wchar_t* title) {
  const HWND window = TopLevel(title);
  if (window == nullptr) return 1;
  return ::RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN) ? 0 : 1;
}

int Maximize(const wchar_t* title) {
  const HWND window = TopLevel(title);
  // Asynchronous: the window belongs to another program's thread.
  return window != nullptr && ::ShowWindowAsync(window, SW_MAXIMIZE) ? 0 : 1;
}

// The first child of `window` (at any depth) that `match` accepts.
template <typename Match>
HWND Child(HWND window, Match match) {
  struct Search {
    Match* match;
    HWND found;
  } search{&match, nullptr};
  ::EnumChildWindows(
      window,
      [](HWND child, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        if (!(*s->match)(child)) return TRUE;
        s->found = child;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[128] = {};
  ::GetClassNameW(window, name, 128);
  return name;
}

// The visible button labelled `caption` in the window titled `title`: a
// panel that is hidden may hold a button of the same label ("Ja").
HWND ShownButton(const wchar_t* title, const wchar_t* caption) {
  const HWND window = TopLevel(title);
  if (window == nullptr) return nullptr;
  return Child(window, [caption](HWND child) {
    wchar_t text[256] = {};
    ::GetWindowTextW(child, text, 256);
    return _wcsicmp(ClassOf(child).c_str(), L"Button") == 0 && std::wstring(text) == caption &&
           ::IsWindowVisible(child);
  });
}

int Click(const wchar_t* title, const wchar_t* caption) {
  const HWND button = ShownButton(title, caption);
  // Posted: the click's work runs in the program's own time.
  return button != nullptr && ::PostMessageW(button, BM_CLICK, 0, 0) ? 0 : 1;
}

// 0 when the button is in view and can be clicked.
int Shown(const wchar_t* title, const wchar_t* caption) {
  const HWND button = ShownButton(title, caption);
  return button != nullptr && ::IsWindowEnabled(button) ? 0 : 1;
}

int Text(const wchar_t* title) {
  const HWND window = TopLevel(title);
  if (window == nullptr) return 1;
  const HWND edit = Child(window, [](HWND child) {
    const std::wstring name = ClassOf(child);
    const bool edit = _wcsicmp(name.c_str(), L"Edit") == 0 || name.find(L"RICHEDIT") == 0 ||
                      name.find(L"RichEdit") == 0;
    return edit && (::GetWindowLongW(child, GWL_STYLE) & ES_MULTILINE) != 0 &&
           ::IsWindowVisible(child);
  });
  if (edit == nullptr) return 1;
  const LRESULT length = ::SendMessageW(edit, WM_GETTEXTLENGTH, 0, 0);
  std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
  ::SendMessageW(edit, WM_GETTEXT, static_cast<WPARAM>(text.size()),
                 reinterpret_cast<LPARAM>(text.data()));
  text.resize(static_cast<std::size_t>(length));
  const int bytes = ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()),
                                          nullptr, 0, nullptr, nullptr);
  std::string utf8(static_cast<std::size_t>(bytes), '\0');
  ::WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), utf8.data(), bytes,
                        nullptr, nullptr);
  std::fwrite(utf8.data(), 1, utf8.size(), stdout);
  std::fputs("\n", stdout);
  return 0;
}

int ShellAnswers() {
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  IShellWindows* windows = nullptr;
  const HRESULT asked = ::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                           IID_IShellWindows, reinterpret_cast<void**>(&windows));
  if (windows != nullptr) windows->Release();
  ::CoUninitialize();
  return SUCCEEDED(asked) ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"origin") return Origin(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"size") return Size(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"redraw") return Redraw(argv[2]);
  if (argc == 3 && std::wstring(argv[1]) == L"maximize") return Maximize(argv[2]);
  if (argc == 2 && std::wstring(argv[1]) == L"shell") return ShellAnswers();
  if (argc == 4 && std::wstring(argv[1]) == L"click") return Click(argv[2], argv[3]);
  if (argc == 4 && std::wstring(argv[1]) == L"shown") return Shown(argv[2], argv[3]);
  if (argc == 3 && std::wstring(argv[1]) == L"text") return Text(argv[2]);
  if (argc == 2 && std::wstring(argv[1]) == L"screen") {
    std::printf("%d %d\n", ::GetSystemMetrics(SM_CXSCREEN), ::GetSystemMetrics(SM_CYSCREEN));
    return 0;
  }
  return 1;
}
