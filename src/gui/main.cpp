// Program entry: the application object creates the main window and runs the
// message loop until the window closes.
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <exception>
#include <memory>

#include "app/settings.h"
#include "gui/main_window.h"
#include "platform/environment.h"
#include "util/numbers.h"

namespace {

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
      kelvanor::ShowMessageBox(nullptr, kelvanor::kAlreadyRunningMessage, wxOK | wxICON_ERROR);
      return false;
    }
    auto* frame = new kelvanor::Tfrm_main(folders);
    frame->Show();
    // Without a window manager no activation arrives; run the steps once anyway.
    frame->CallAfter([frame] { frame->EnsureActivated(); });
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
