#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/gauge.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/treectrl.h>

#include <algorithm>
#include <filesystem>

#include "gui/account_dialog.h"
#include "gui_fixture.h"
#include "platform/environment.h"
#include "platform/ini_file.h"

namespace kelvanor::testing {
namespace {

bool Contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Destroys a dialog the wx way (pending events are dropped with it) when the
// scope ends.
struct DialogCloser {
  wxWindow* dialog;
  GuiTest* test;
  DialogCloser(wxWindow* d, GuiTest* t) : dialog(d), test(t) {}
  ~DialogCloser() { dialog->Destroy(); }
};

const char kCustomerHeader[] =
    "op;anrede;name;vorname;kundennr;telefon;strasse;plz;ort;email;preisstufe;handy\r\n";

TEST_F(GuiTest, StartsWithItsPanelsLabelsAndCaption) {
  Tfrm_main& w = OpenWindow();
  EXPECT_TRUE(boxes.errors.empty());
  ASSERT_NE(w.Database(), nullptr);
  EXPECT_TRUE(w.PnlBottom()->IsShown());
  EXPECT_FALSE(w.PnlImport()->IsShown());
  EXPECT_FALSE(w.PnlUpdate()->IsShown());
  EXPECT_EQ(w.Label1()->GetLabel(), "");
  EXPECT_EQ(w.PbPut()->GetRange(), 100);
  const std::string caption = FromWx(w.GetTitle());
  EXPECT_EQ(caption.rfind("S Y N C  " + ExeVersionString(), 0), 0u) << caption;
  EXPECT_EQ(FromWx(w.BtnSync()->GetToolTipText()), "synchronize mobile data (local <-> server)");
  EXPECT_EQ(FromWx(w.BtnExit()->GetLabel()), "Schliessen");
}

TEST_F(GuiTest, DatabaseErrorAtStartIsShownAndTheWindowStillOpens) {
  WriteHostIni(tmp->Path() + "/", "fehlt.db");
  Tfrm_main& w = OpenWindow();
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_EQ(boxes.errors[0].rfind("Datenbank-Datei nicht gefunden! (", 0), 0u) << boxes.errors[0];
  EXPECT_EQ(w.Database(), nullptr);
  EXPECT_TRUE(w.IsShown());
}

TEST_F(GuiTest, HelpBoxNamesDatabaseAndLocalFolder) {
  Tfrm_main& w = OpenWindow();
  w.btn_helpClick();
  ASSERT_EQ(boxes.infos.size(), 1u);
  EXPECT_EQ(boxes.infos[0], "Database = praxis.db\r\rDatabase-Path = " + tmp->Path() +
                                "/\r\rLocal-Mobile-Path = " + folders.AppDataFolder +
                                "mobil/\r\r");
}

TEST_F(GuiTest, EmptyNameOpensTheAccountDialogAtActivation) {
  WriteToolIni("", 3);
  boxes.onAccountDialog = [](wxWindow*, const Folders& f, Settings&) {
    IniWriteString(f.ToolIni(), "general", "name", "neu");
  };
  Tfrm_main& w = OpenWindow();
  EXPECT_EQ(boxes.accountDialogOpened, 1);
  // The label keeps what was read before the dialog.
  EXPECT_EQ(FromWx(w.LblSvrName()->GetLabel()), " (3 syncs)");
  EXPECT_TRUE(w.BtnExit()->IsEnabled());
  // Once a name is set, a further activation does not open it.
  w.FormActivate();
  EXPECT_EQ(boxes.accountDialogOpened, 1);
}

TEST_F(GuiTest, AccountDialogWritesOnOkOnlyAndResetsTheCounterAtOnce) {
  WriteToolIni("alt", 7);
  IniWriteString(folders.ToolIni(), "general", "server", "s1");
  Tfrm_main& w = OpenWindow();
  Settings& settings = w.CurrentSettings();
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, settings, boxes);
    DialogCloser closer(&dlg, this);
    EXPECT_EQ(FromWx(dlg.edit_name->GetValue()), "alt");
    EXPECT_EQ(FromWx(dlg.edit_server->GetValue()), "s1");
    EXPECT_FALSE(dlg.chkDebug->GetValue());
    dlg.edit_name->SetValue("verworfen");
    dlg.btnResetSyncCounterClick();
    dlg.btn_abbrechenClick();
  }
  EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "name", ""), "alt");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 0);
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, settings, boxes);
    DialogCloser closer(&dlg, this);
    dlg.edit_name->SetValue(wxString::FromUTF8("m\u00fcller"));
    dlg.edit_server->SetValue("s2");
    dlg.Show();
    Screenshot("account_dialog", &dlg);
    dlg.btn_okClick();
  }
  EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "name", ""), "m\xFCller");
  EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "server", ""), "s2");
  EXPECT_FALSE(settings.DebugLog);  // OK with the box unticked switches the log off
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "debug", -1), 1);
  {
    // A name that cannot go into a file name or command line is refused.
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, settings, boxes);
    DialogCloser closer(&dlg, this);
    dlg.edit_name->SetValue("a/b");
    dlg.btn_okClick();
    EXPECT_EQ(boxes.errors.size(), 1u);
  }
  EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "name", ""), "m\xFCller");
}

TEST_F(GuiTest, DeleteMobileDataUsesTheNameHeldInTheSettingsAndReportsAFailure) {
  Tfrm_main& w = OpenWindow();
  std::filesystem::create_directories(folders.AppDataFolder + "mobil");
  PutChangeFile("mob_kunde_x.txt", "h\r\n");
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    dlg.edit_name->SetValue("anderer");  // not yet confirmed: the request goes for "demo"
    dlg.Button1Click();
  }
  EXPECT_TRUE(boxes.errors.empty());
  EXPECT_FALSE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
  server->SetFailure("/mob/delmob.php", 500);
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    dlg.Button1Click();
  }
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_NE(boxes.errors[0].find("nicht gel\xF6scht"), std::string::npos) << boxes.errors[0];
}

TEST_F(GuiTest, FirstSyncExportsAndUploads) {
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  const auto lines = MemoLines();
  EXPECT_TRUE(Contains(lines, "1) Datens\xE4tze aus dasTessavor exportieren."));
  EXPECT_TRUE(Contains(lines, "2) Datens\xE4tze auf den Server HOCH-laden."));
  EXPECT_EQ(lines.back(), "fertig!");
  EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front();
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 1);
  EXPECT_TRUE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde.txt"));
  EXPECT_EQ(FromWx(w.Label1()->GetLabel()), "fertig!");
  EXPECT_TRUE(w.BtnSync()->IsEnabled());
}

TEST_F(GuiTest, SecondSyncShowsTheQuestionAndImportsOnJa) {
  WriteToolIni("demo", 1);
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) +
                                       "N/5;Herr;M\xFCller;Hans;K5;;Hauptstr. 1;12345;Au;;1;\r\n");
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  EXPECT_TRUE(w.PnlImport()->IsShown());
  EXPECT_FALSE(w.PnlBottom()->IsShown());
  EXPECT_EQ(FromWx(w.Label5()->GetLabel()).find("mob_kunde_x.txt (1 S\xE4tze)") != std::string::npos,
            true);
  const auto tree = TreeLines();
  ASSERT_EQ(tree.size(), 4u);
  EXPECT_EQ(tree[1], "  mob_kunde_x.txt");
  EXPECT_EQ(tree[3], "    N/5;Herr;M\xFCller;Hans;K5;;Hauptstr. 1;12345;Au;;1;");
  Screenshot("import_panel");

  w.btn_yesClick();
  EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front();
  EXPECT_TRUE(w.PnlBottom()->IsShown());
  EXPECT_FALSE(w.PnlImport()->IsShown());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='M\xFCller'"), "1");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 2);
  EXPECT_FALSE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
  EXPECT_EQ(frame->Tv()->GetCount(), 0u);
  EXPECT_EQ(MemoLines().back(), "fertig!");
}

TEST_F(GuiTest, SecondSyncAnsweredNeinImportsNothing) {
  WriteToolIni("demo", 1);
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) + "N/5;Herr;Neu;;;;;;;;1;\r\n");
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  ASSERT_TRUE(w.PnlImport()->IsShown());
  w.btn_noClick();
  EXPECT_TRUE(w.PnlBottom()->IsShown());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Neu'"), "0");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 1);
  EXPECT_TRUE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
  EXPECT_FALSE(std::filesystem::exists(folders.AppDataFolder + "mobil/tmp_dl"));
  EXPECT_EQ(TreeLines().size(), 4u);  // the tree keeps its content
}

TEST_F(GuiTest, NoChangesAsksWhetherToUpload) {
  WriteToolIni("demo", 4);
  boxes.yesNoAnswer = true;
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  ASSERT_EQ(boxes.questions.size(), 1u);
  EXPECT_EQ(boxes.questions[0],
            "Keine \xC4nderungen auf dem Server.\r\r\xC4nderungen vom PC/Laptop zum Server "
            "\xFC" "bertragen?");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 5);
  EXPECT_TRUE(w.PnlBottom()->IsShown());
}

TEST_F(GuiTest, UpdatePanelOnlyWhenTheServerOffersANewerVersion) {
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  Tfrm_main& w = OpenWindow();
  EXPECT_TRUE(w.PnlUpdate()->IsShown());
  EXPECT_FALSE(w.PnlBottom()->IsShown());
  EXPECT_EQ(FromWx(w.Label3()->GetLabel()),
            "Update auf neue Version  9.0.0.1  verf\xFC" "gbar. Jetzt laden?");
  Screenshot("update_panel");
}

TEST_F(GuiTest, NoUpdatePanelForTheSameVersion) {
  WriteFile(server->WwwFile("sync/version.txt"), ExeVersionString());
  Tfrm_main& w = OpenWindow();
  EXPECT_FALSE(w.PnlUpdate()->IsShown());
  EXPECT_TRUE(w.PnlBottom()->IsShown());
  EXPECT_TRUE(boxes.errors.empty());
}

}  // namespace
}  // namespace kelvanor::testing
