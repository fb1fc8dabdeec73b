#include "gui_fixture.h"

#include <wx/app.h>
#include <wx/textctrl.h>
#include <wx/tokenzr.h>
#include <wx/treectrl.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "net/http_get.h"
#include "platform/ini_file.h"

namespace kelvanor::testing {

void GuiTest::SetUp() {
  if (!g_haveDisplay) GTEST_SKIP() << "no X display";
  tmp = std::make_unique<TempDir>();
  server = std::make_unique<SyncServer>();
  folders.AppDataFolder = tmp->Path() + "/appdata/dasTessavor/";
  folders.ProgramFolder = tmp->Path() + "/program/";
  folders.MobileFolder = folders.AppDataFolder + "mobil";
  std::filesystem::create_directories(folders.AppDataFolder);
  std::filesystem::create_directories(folders.ProgramFolder);
  dbPath = tmp->File("praxis.db");
  CreateHostDatabase(dbPath,
                     "INSERT INTO besitzer (id,name,vorname,ort) VALUES (1,'Huber','Anna','Au');"
                     "UPDATE _tblOffsets SET idMax=1 WHERE tbl='Besitzer';"
                     "INSERT INTO settings (basiswaehrung,hauptwaehrung,MwSt,MwSt2) "
                     "VALUES ('EUR',1,19,7);");
  WriteHostIni(tmp->Path() + "/", "praxis.db");
  WriteToolIni("demo", 0);
  // The server has no version file unless a test offers one: an error page.
}

void GuiTest::TearDown() {
  if (frame != nullptr) {
    frame->Close(true);
    Pump();
    frame = nullptr;
  }
}

void GuiTest::WriteToolIni(const std::string& name, int numSyncs, bool debug) {
  const std::string ini = folders.ToolIni();
  IniWriteString(ini, "general", "name", name);
  IniWriteInteger(ini, "general", "num_syncs", numSyncs);
  IniWriteInteger(ini, "general", "debug", debug ? 1 : 0);
  IniWriteString(ini, "sync_server", "base", server->BaseUrl());
  IniWriteString(ini, "sync_server", "web", server->BaseUrl());
  IniWriteString(ini, "sync_server", "ftp", server->FtpUrl());
}

void GuiTest::WriteHostIni(const std::string& dbFolder, const std::string& dbName) {
  IniWriteString(folders.HostIni(), "Allgemein", "db_pfad", dbFolder);
  IniWriteString(folders.HostIni(), "Allgemein", "db_name", dbName);
}

Tfrm_main& GuiTest::OpenWindow(bool realBoxes) {
  frame = new Tfrm_main(folders, realBoxes ? nullptr : &boxes);
  if (!caCertFile.empty()) frame->HttpGet().CACertFile = caCertFile;
  frame->Show();
  Pump();
  // With or without a window manager, the activation steps have run once.
  frame->EnsureActivated();
  Pump();
  return *frame;
}

std::vector<std::string> GuiTest::MemoLines() const {
  std::vector<std::string> lines;
  wxStringTokenizer tok(frame->DisplayMemo()->GetValue(), "\n", wxTOKEN_RET_EMPTY_ALL);
  while (tok.HasMoreTokens()) lines.push_back(FromWx(tok.GetNextToken()));
  return lines;
}

namespace {
void CollectTree(wxTreeCtrl* tv, const wxTreeItemId& item, int level,
                 std::vector<std::string>& out) {
  out.push_back(std::string(static_cast<size_t>(level) * 2, ' ') + FromWx(tv->GetItemText(item)));
  wxTreeItemIdValue cookie;
  for (wxTreeItemId child = tv->GetFirstChild(item, cookie); child.IsOk();
       child = tv->GetNextChild(item, cookie)) {
    CollectTree(tv, child, level + 1, out);
  }
}
}  // namespace

std::vector<std::string> GuiTest::TreeLines() const {
  std::vector<std::string> out;
  wxTreeItemId root = frame->Tv()->GetRootItem();
  if (root.IsOk()) CollectTree(frame->Tv(), root, 0, out);
  return out;
}

void GuiTest::Pump() {
  for (int i = 0; i < 5; ++i) {
    wxTheApp->ProcessPendingEvents();
    wxTheApp->Yield(true);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void GuiTest::PumpFor(int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (std::chrono::steady_clock::now() < end) Pump();
}

bool GuiTest::PumpUntil(const std::function<bool()>& done, int milliseconds) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    Pump();
  }
  return true;
}

void GuiTest::Screenshot(const std::string& name, wxWindow* top) {
  if (top == nullptr) top = frame;
  top->Raise();
  top->Update();
  Pump();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  Pump();
  ScreenshotAsIs(name);
}

void GuiTest::ScreenshotAsIs(const std::string& name) {
  const std::string folder = std::string(KELVANOR_BINARY_DIR) + "/screenshots";
  std::filesystem::create_directories(folder);
  const std::string cmd = "command -v import >/dev/null && import -window root '" + folder + "/" +
                          name + ".png' 2>/dev/null";
  (void)std::system(cmd.c_str());
}

void GuiTest::PutChangeFile(const std::string& file, const std::string& content) {
  WriteFile(server->AccountDir("demo") + "/" + file, content);
}

}  // namespace kelvanor::testing
