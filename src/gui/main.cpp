// Program entry: the application object creates the main window and runs the
// message loop until the window closes.
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <exception>
#include <memory>

#include "settings/settings.h"
#include "gui/main_window.h"
#include "platform/environment.h"
#include "util/numbers.h"

// Last: Xlib's macros (None, Status, True ...) would clash with names above.
#ifdef _WIN32
#include <windows.h>
#else
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#endif

namespace {

#ifdef _WIN32

// The running window of process `pid`, or the box it has open, to the front
// (a program the user just started may hand the foreground on).
void BringWindowOfProcessToFront(unsigned long pid) {
  struct Search {
    DWORD pid;
    HWND found;
  } search{static_cast<DWORD>(pid), nullptr};
  ::EnumWindows(
      [](HWND window, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        ::GetWindowThreadProcessId(window, &owner);
        if (owner != s->pid || !::IsWindowVisible(window) || ::GetWindow(window, GW_OWNER)) {
          return TRUE;
        }
        s->found = window;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  if (search.found == nullptr) return;
  if (::IsIconic(search.found)) ::ShowWindow(search.found, SW_RESTORE);
  ::SetForegroundWindow(::GetLastActivePopup(search.found));
}

#else

// Asks the window manager to activate the top-level window of process `pid`
// (raised, and brought back when minimised), as a task bar does.
void BringWindowOfProcessToFront(unsigned long pid) {
  Display* display = XOpenDisplay(nullptr);
  if (display == nullptr) return;
  const Window root = DefaultRootWindow(display);
  const Atom clientList = XInternAtom(display, "_NET_CLIENT_LIST", True);
  const Atom wmPid = XInternAtom(display, "_NET_WM_PID", True);
  const Atom activeWindow = XInternAtom(display, "_NET_ACTIVE_WINDOW", False);
  // One CARDINAL or a list of WINDOWs of `window`, read as longs.
  auto property = [&](Window window, Atom name, Atom type, unsigned long& count) {
    Atom actualType = None;
    int format = 0;
    unsigned long after = 0;
    unsigned char* data = nullptr;
    count = 0;
    if (name == None ||
        XGetWindowProperty(display, window, name, 0, 4096, False, type, &actualType, &format,
                           &count, &after, &data) != Success ||
        format != 32) {
      if (data != nullptr) XFree(data);
      count = 0;
      return static_cast<unsigned long*>(nullptr);
    }
    return reinterpret_cast<unsigned long*>(data);
  };
  unsigned long windows = 0;
  unsigned long* list = property(root, clientList, XA_WINDOW, windows);
  Window target = None;
  for (unsigned long i = 0; i < windows && target == None; ++i) {
    Window transientFor = None;
    unsigned long n = 0;
    unsigned long* owner = property(list[i], wmPid, XA_CARDINAL, n);
    if (owner != nullptr && n == 1 && owner[0] == pid &&
        !XGetTransientForHint(display, list[i], &transientFor)) {
      target = list[i];
    }
    if (owner != nullptr) XFree(owner);
  }
  if (list != nullptr) XFree(list);
  if (target != None) {
    XEvent event{};
    event.xclient.type = ClientMessage;
    event.xclient.window = target;
    event.xclient.message_type = activeWindow;
    event.xclient.format = 32;
    event.xclient.data.l[0] = 2;  // on behalf of the user, like a pager
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(display, root, False, SubstructureRedirectMask | SubstructureNotifyMask, &event);
    XFlush(display);
  }
  XCloseDisplay(display);
}

#endif

class KelvanorApp : public wxApp {
 public:
  bool OnInit() override {
    kelvanor::InitDecimalSeparatorFromLocale();
    const kelvanor::Folders folders = kelvanor::DetermineFolders();
    // A second window (or a CLI sync) on the same folder would race on
    // tmp.bat, tmp_dl, the server's files and the database.
    try {
      lock_ = kelvanor::LockApplicationDataFolder(folders);
    } catch (const std::exception& e) {
      kelvanor::ShowMessageBox(nullptr, e.what(), wxOK | wxICON_ERROR);
      return false;
    }
    if (lock_ == nullptr) {
      // The user looks for the window he already has: show it to him.
      const unsigned long holder = kelvanor::InstanceLock::HolderProcessId(folders.LockFile());
      if (holder != 0) BringWindowOfProcessToFront(holder);
      kelvanor::ShowMessageBox(nullptr, kelvanor::kAlreadyRunningMessage, wxOK | wxICON_ERROR);
      return false;
    }
    lock_->NoteHolder();
    // Showing it runs the activation steps once it is up.
    (new kelvanor::Tfrm_main(folders))->Show();
    return true;
  }

  // An error that leaves a button handler is shown in an error box and the
  // window goes on, as the user expects of a desktop program.
  bool OnExceptionInMainLoop() override {
    try {
      throw;
    } catch (const std::exception& e) {
      kelvanor::ShowMessageBox(nullptr, e.what(), wxOK | wxICON_ERROR);
    } catch (...) {
      kelvanor::ShowMessageBox(nullptr, "Unbekannter Fehler", wxOK | wxICON_ERROR);
    }
    return true;
  }

 private:
  std::unique_ptr<kelvanor::InstanceLock> lock_;
};

}  // namespace

wxIMPLEMENT_APP(KelvanorApp);
