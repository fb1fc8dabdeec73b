// The window tests run inside a real wx application on a real X server
// (scripts/test.sh starts Xvfb). Without a display they are skipped.
#include <gtest/gtest.h>
#include <wx/app.h>
#include <wx/init.h>

#include <cstdlib>
#include <cstring>

#include "gui_fixture.h"

namespace kelvanor::testing {
bool g_haveDisplay = false;
}

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  bool listing = false;
  for (int i = 1; i < argc; ++i) {
    if (std::strstr(argv[i], "list_tests") != nullptr) listing = true;
  }
  const char* display = std::getenv("DISPLAY");
  if (!listing && display != nullptr && *display != '\0') {
    wxApp::SetInstance(new wxApp());
    int wxArgc = 1;
    kelvanor::testing::g_haveDisplay = wxEntryStart(wxArgc, argv) && wxTheApp->CallOnInit();
  }
  const int rc = RUN_ALL_TESTS();
  if (kelvanor::testing::g_haveDisplay) {
    wxTheApp->OnExit();
    wxEntryCleanup();
  }
  return rc;
}
