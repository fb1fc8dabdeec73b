// start_as_user.exe FILE: opens FILE (Kelvanor.exe, LIESMICH.txt) through the
// desktop's own shell, so it runs as the user at the desktop and without the
// administrator rights of the setup that calls it. The setup runs elevated;
// whatever it started itself would run as the administrator too, with the
// administrator's %APPDATA%, where a standard user typed an administrator's
// password. The desktop's shell (Explorer) runs as the user, unelevated:
// asked through its automation interface, it starts FILE the way a double
// click would, in FILE's folder.
//
// Exit code 0 when the shell took the request; 1 for a wrong call; 2 when
// the shell could not be asked (no desktop shell, or it refused): the setup
// then starts nothing rather than starting it elevated.
#include <windows.h>
#include <exdisp.h>
#include <shldisp.h>
#include <shlguid.h>
#include <shlobj.h>

#include <string>

namespace {

// Releases a COM interface when it goes out of scope.
template <typename T>
struct Held {
  T* p = nullptr;
  ~Held() {
    if (p != nullptr) p->Release();
  }
  T** operator&() { return &p; }
  T* operator->() const { return p; }
};

enum class Opened { kYes, kNoShellYet, kRefused };

Opened OpenThroughDesktopShell(const std::wstring& file, const std::wstring& folder) {
  Held<IShellWindows> windows;
  if (FAILED(::CoCreateInstance(CLSID_ShellWindows, nullptr, CLSCTX_LOCAL_SERVER,
                                IID_IShellWindows, reinterpret_cast<void**>(&windows)))) {
    return Opened::kNoShellYet;
  }
  VARIANT desktop;
  ::VariantInit(&desktop);
  desktop.vt = VT_I4;
  desktop.lVal = CSIDL_DESKTOP;
  VARIANT none;
  ::VariantInit(&none);
  long window = 0;
  Held<IDispatch> found;
  if (windows->FindWindowSW(&desktop, &none, SWC_DESKTOP, &window, SWFO_NEEDDISPATCH, &found) !=
          S_OK ||
      found.p == nullptr) {
    return Opened::kNoShellYet;
  }
  Held<IServiceProvider> services;
  Held<IShellBrowser> browser;
  Held<IShellView> view;
  Held<IDispatch> background;
  Held<IShellFolderViewDual> folderView;
  Held<IDispatch> application;
  Held<IShellDispatch2> shell;
  if (FAILED(found->QueryInterface(IID_IServiceProvider, reinterpret_cast<void**>(&services))) ||
      FAILED(services->QueryService(SID_STopLevelBrowser, IID_IShellBrowser,
                                    reinterpret_cast<void**>(&browser))) ||
      FAILED(browser->QueryActiveShellView(&view)) ||
      FAILED(view->GetItemObject(SVGIO_BACKGROUND, IID_IDispatch,
                                 reinterpret_cast<void**>(&background))) ||
      FAILED(background->QueryInterface(IID_IShellFolderViewDual,
                                        reinterpret_cast<void**>(&folderView))) ||
      FAILED(folderView->get_Application(&application)) ||
      FAILED(application->QueryInterface(IID_IShellDispatch2, reinterpret_cast<void**>(&shell)))) {
    return Opened::kNoShellYet;
  }
  VARIANT arguments;
  ::VariantInit(&arguments);
  VARIANT directory;
  ::VariantInit(&directory);
  directory.vt = VT_BSTR;
  directory.bstrVal = ::SysAllocString(folder.c_str());
  VARIANT operation;
  ::VariantInit(&operation);
  operation.vt = VT_BSTR;
  operation.bstrVal = ::SysAllocString(L"open");
  VARIANT show;
  ::VariantInit(&show);
  show.vt = VT_I4;
  show.lVal = SW_SHOWNORMAL;
  BSTR name = ::SysAllocString(file.c_str());
  const HRESULT started = shell->ShellExecute(name, arguments, directory, operation, show);
  ::SysFreeString(name);
  ::VariantClear(&directory);
  ::VariantClear(&operation);
  return SUCCEEDED(started) ? Opened::kYes : Opened::kRefused;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  int argc = 0;
  wchar_t** argv = ::CommandLineToArgvW(::GetCommandLineW(), &argc);
  if (argv == nullptr || argc != 2) return 1;
  const std::wstring file = argv[1];
  ::LocalFree(argv);
  const std::size_t slash = file.find_last_of(L"\\/");
  const std::wstring folder = slash == std::wstring::npos ? L"" : file.substr(0, slash);
  if (FAILED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  // A desktop that has only just come up (right after logon; under Wine the
  // first program of a session starts it) has not yet registered its window
  // with the shell: asked again for a few seconds, it answers. A request the
  // shell refused is not repeated, so nothing starts twice.
  Opened opened = Opened::kNoShellYet;
  for (int attempt = 0; attempt < 40; ++attempt) {
    opened = OpenThroughDesktopShell(file, folder);
    if (opened != Opened::kNoShellYet) break;
    ::Sleep(250);
  }
  ::CoUninitialize();
  return opened == Opened::kYes ? 0 : 2;
}
