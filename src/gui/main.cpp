// Program entry: the application object creates the main window and runs the
// message loop until the window closes.
#include <wx/app.h>
#include <wx/msgdlg.h>

#include <exception>

#include "app/settings.h"
#include "gui/main_window.h"
#include "util/numbers.h"

namespace {

class KelvanorApp : public wxApp {
 public:
  bool OnInit() override {
    kelvanor::InitDecimalSeparatorFromLocale();
    auto* frame = new kelvanor::Tfrm_main(kelvanor::DetermineFolders());
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
      wxMessageBox(kelvanor::ToWxMessage(e.what()), "Kelvanor", wxOK | wxICON_ERROR);
    } catch (...) {
      wxMessageBox("Unbekannter Fehler", "Kelvanor", wxOK | wxICON_ERROR);
    }
    return true;
  }
};

}  // namespace

wxIMPLEMENT_APP(KelvanorApp);
