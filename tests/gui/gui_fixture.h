// A practice, its settings and the reference sync server, ready for a window.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "settings/settings.h"
#include "gui/main_window.h"
#include "support/sync_server.h"
#include "support/test_db.h"

namespace kelvanor::testing {

extern bool g_haveDisplay;

// Records the message boxes instead of showing them, and answers Yes/No and
// the account dialog as the test says.
class RecordingBoxes : public IMessageBoxes {
 public:
  std::vector<std::string> errors, infos, questions;
  bool yesNoAnswer = true;
  int accountDialogOpened = 0;
  std::function<void(wxWindow*, const Folders&, Settings&)> onAccountDialog;

  void Error(wxWindow*, const std::string& text) override { errors.push_back(text); }
  void Info(wxWindow*, const std::string& text) override { infos.push_back(text); }
  std::vector<Preselected> preselected;
  bool YesNo(wxWindow*, const std::string& text, Preselected answer) override {
    questions.push_back(text);
    preselected.push_back(answer);
    return yesNoAnswer;
  }
  void AccountDialog(wxWindow* parent, const Folders& folders, Settings& settings) override {
    ++accountDialogOpened;
    if (onAccountDialog) onAccountDialog(parent, folders, settings);
  }
  // Pages the window asked the browser for; no browser starts, and
  // `browserOpens` says whether the window is told one did.
  std::vector<std::string> openedUrls;
  bool browserOpens = true;
  bool OpenInBrowser(const std::string& url) override {
    openedUrls.push_back(url);
    return browserOpens;
  }
  // Reports that offered to open the file they name (kept with the errors or
  // infos), and whether "Öffnen" is clicked.
  int offersToOpen = 0;
  bool openOffered = false;
  bool OfferToOpen(wxWindow*, const std::string& text, bool error) override {
    ++offersToOpen;
    (error ? errors : infos).push_back(text);
    return openOffered;
  }
  // Files and folders the window asked the desktop to open.
  std::vector<std::string> openedPaths;
  bool OpenPath(const std::string& path) override {
    openedPaths.push_back(path);
    return true;
  }
  int historyDialogOpened = 0;
  void HistoryDialog(wxWindow*, TDBase*, const Folders&, const Settings&,
                     HistoryActions&) override {
    ++historyDialogOpened;
  }
};

class GuiTest : public ::testing::Test {
 public:
  // The screen as it is, nothing raised or pumped (a modal box is up).
  static void ScreenshotAsIs(const std::string& name);

 protected:
  void SetUp() override;
  void TearDown() override;

  // Writes Kelvanor.ini for the account `name` against the test server.
  void WriteToolIni(const std::string& name, int numSyncs, bool debug = true);
  void WriteHostIni(const std::string& dbFolder, const std::string& dbName);
  // Creates the window (FormCreate runs in the constructor), with the
  // recording boxes or with the program's real ones.
  Tfrm_main& OpenWindow(bool realBoxes = false);
  std::vector<std::string> MemoLines() const;
  // Node texts of the tree view in flat order, indented two blanks per level.
  std::vector<std::string> TreeLines() const;
  void Pump();
  // Lets events run for a while (a window manager answers in its own time).
  void PumpFor(int milliseconds);
  // Lets events run until `done` holds, at most `milliseconds`; false when
  // it never did.
  bool PumpUntil(const std::function<bool()>& done, int milliseconds);
  // Saves a picture of the screen under the build folder (for the issue note).
  void Screenshot(const std::string& name, wxWindow* top = nullptr);
  // A change file where the mobile app leaves it on the server.
  void PutChangeFile(const std::string& file, const std::string& content);

  std::unique_ptr<TempDir> tmp;
  std::unique_ptr<SyncServer> server;
  // Certificates the window's download component trusts for https (PEM).
  std::string caCertFile;
  Folders folders;
  std::string dbPath;
  RecordingBoxes boxes;
  Tfrm_main* frame = nullptr;
};

}  // namespace kelvanor::testing
