#include <gtest/gtest.h>
#include <wx/display.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/collpane.h>
#include <wx/gauge.h>
#include <wx/hyperlink.h>
#include <wx/listctrl.h>
#include <wx/log.h>
#include <wx/modalhook.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>
#include <wx/treectrl.h>
#include <wx/uiaction.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <thread>

#include "gui/account_dialog.h"
#include "gui/progress_bar.h"
#include "gui/history_dialog.h"
#include "gui_fixture.h"
#include "net/http_get.h"
#include "platform/environment.h"
#include "platform/ini_file.h"
#include "util/w1252.h"
#include "support/scoped_env.h"
#include "util/text.h"
#include "util/w1252.h"

extern char** environ;

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

bool AnyStartsWith(const std::vector<std::string>& lines, const std::string& start) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(start, 0) == 0; });
}

// A window manager announces itself on the root window.
bool WindowManagerRuns() {
  return std::system("xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'") == 0;
}

// Answers the program's real modal boxes as a user would: once the window
// manager has shown a box, the Return key goes to it through the X server.
// Records what each box said and how its buttons read; the first box of a
// name given in `photograph` is saved as a screenshot while it is up. The
// account dialog is handed to `onAccountDialog`, which must end it.
class RealBoxAnswerer : public wxModalDialogHook {
 public:
  struct Box {
    std::string message;
    std::string ok, yes, no;
    long style = 0;
  };
  std::vector<Box> boxes;
  std::vector<std::string> photograph;  // screenshot names, one per box in order
  std::function<void(Tfrm_account&)> onAccountDialog;

  RealBoxAnswerer() { Register(); }

 protected:
  int Enter(wxDialog* dialog) override {
    auto timer = std::make_unique<wxTimer>();
    if (auto* box = dynamic_cast<wxMessageDialog*>(dialog)) {
      boxes.push_back({FromWx(box->GetMessage()), FromWx(box->GetOKLabel()),
                       FromWx(box->GetYesLabel()), FromWx(box->GetNoLabel()),
                       box->GetMessageDialogStyle()});
      const std::string shot =
          boxes.size() <= photograph.size() ? photograph[boxes.size() - 1] : std::string();
      timer->Bind(wxEVT_TIMER, [shot](wxTimerEvent&) {
        if (!shot.empty()) GuiTest::ScreenshotAsIs(shot);
        wxUIActionSimulator().Char(WXK_RETURN);
      });
    } else if (auto* account = dynamic_cast<Tfrm_account*>(dialog)) {
      timer->Bind(wxEVT_TIMER, [this, account](wxTimerEvent&) {
        if (onAccountDialog) onAccountDialog(*account);
        if (account->IsModal()) account->EndModal(wxID_CANCEL);
      });
    }
    timer->StartOnce(800);
    timers_.push_back(std::move(timer));
    return wxID_NONE;
  }

 private:
  std::vector<std::unique_ptr<wxTimer>> timers_;
};

// A program of its own on the same display: its window takes the focus when
// it appears. Closed, it gives the focus back to the window that had it.
class OtherProgram {
 public:
  explicit OtherProgram(std::vector<std::string> argv,
                        const std::vector<std::string>& environment = {}) {
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    std::vector<std::string> env = environment;
    for (char** e = environ; *e != nullptr; ++e) {
      const std::string entry = *e;
      const std::string name = entry.substr(0, entry.find('=') + 1);
      const bool replaced = std::any_of(env.begin(), env.end(), [&](const std::string& mine) {
        return mine.rfind(name, 0) == 0;
      });
      if (!replaced) env.push_back(entry);
    }
    std::vector<char*> envp;
    for (std::string& entry : env) envp.push_back(entry.data());
    envp.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], nullptr, nullptr, args.data(), envp.data()) != 0) pid_ = 0;
  }
  OtherProgram()
      : OtherProgram({"xmessage", "-geometry", "+30+30", "Ein anderes Programm"}, {"LC_ALL=C"}) {}
  ~OtherProgram() { Close(); }
  bool Started() const { return pid_ > 0; }
  void Close() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    pid_ = 0;
  }

 private:
  pid_t pid_ = 0;
};

size_t Count(const std::string& text, const std::string& what) {
  size_t count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

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

// The box names the file looked for and what to do, also on a PC where
// dasTessavor never ran and its tessavor.ini is missing.
TEST_F(GuiTest, DatabaseErrorAtStartIsShownAndTheWindowStillOpens) {
  WriteHostIni(tmp->Path() + "/", "fehlt.db");
  Tfrm_main& w = OpenWindow();
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_EQ(boxes.errors[0].rfind("Datenbank-Datei nicht gefunden! (", 0), 0u) << boxes.errors[0];
  EXPECT_NE(boxes.errors[0].find(")\r\rGesucht wurde die Datei " + tmp->Path() +
                                 "/fehlt.db. Bitte dasTessavor installieren und einmal starten "
                                 "oder in " + folders.HostIni() + " db_pfad und db_name pr\xFC"
                                 "fen, dann Kelvanor neu starten."),
            std::string::npos)
      << boxes.errors[0];
  EXPECT_EQ(w.Database(), nullptr);
  EXPECT_TRUE(w.IsShown());
  // The log keeps saying it, and the sync button says why it cannot run
  // instead of fetching changes nothing could import.
  EXPECT_NE(FromWx(w.DisplayMemo()->GetValue()).find("Gesucht wurde die Datei"), std::string::npos);
  server->RequestLog(true);
  w.btnSyncClick();
  ASSERT_EQ(boxes.errors.size(), 2u);
  EXPECT_EQ(boxes.errors[1].rfind("Ohne die Praxis-Datenbank von dasTessavor kann Kelvanor nicht "
                                  "synchronisieren: ", 0),
            0u);
  EXPECT_EQ(server->RequestLog().find("zip.php"), std::string::npos);
  w.Close(true);
  Pump();

  std::filesystem::remove(folders.HostIni());
  boxes.errors.clear();
  OpenWindow();
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_NE(boxes.errors[0].find("(" + folders.HostIni() + "); diese Datei fehlt. Bitte "
                                 "dasTessavor auf diesem PC installieren und einmal starten, dann "
                                 "Kelvanor neu starten."),
            std::string::npos)
      << boxes.errors[0];
}

TEST_F(GuiTest, HelpBoxNamesDatabaseAndLocalFolder) {
  Tfrm_main& w = OpenWindow();
  w.btn_helpClick();
  ASSERT_EQ(boxes.infos.size(), 1u);
  EXPECT_EQ(boxes.infos[0].rfind("Kelvanor gleicht die Praxisdaten", 0), 0u) << boxes.infos[0];
  EXPECT_NE(boxes.infos[0].find("\rPraxis-Datenbank: " + tmp->Path() + "/praxis.db\rDateien f\xFCr "
                                "das Mobilger\xE4t und Sicherungen: " + folders.AppDataFolder +
                                "mobil/\rEinstellungen: " + folders.AppDataFolder + "Kelvanor.ini"),
            std::string::npos)
      << boxes.infos[0];
}

TEST_F(GuiTest, EmptyNameOpensTheAccountDialogAtActivation) {
  WriteToolIni("", 3);
  boxes.onAccountDialog = [](wxWindow*, const Folders& f, Settings&) {
    IniWriteString(f.ToolIni(), "general", "name", "Berger & Hof");
  };
  Tfrm_main& w = OpenWindow();
  EXPECT_EQ(boxes.accountDialogOpened, 1);
  // The dialog's values count once it has written them into the settings.
  EXPECT_EQ(FromWx(w.LblSvrName()->GetLabelText()), " (3 Synchronisationen)");
  EXPECT_TRUE(w.BtnExit()->IsEnabled());
  // Once a name is set, a further activation does not open it.
  w.FormActivate();
  EXPECT_EQ(boxes.accountDialogOpened, 1);
  // An "&" in the name is shown as written, not taken for a shortcut marker.
  w.ReadAccountSettings();
  EXPECT_EQ(FromWx(w.LblSvrName()->GetLabelText()), "Berger & Hof (3 Synchronisationen)");
}

// The first start: nothing is set up, so nothing is asked of a server until
// the account is; once it is, the log says what to do next.
TEST_F(GuiTest, FirstStartChecksNoVersionWithoutAnAccountAndSaysWhatComesNext) {
  WriteToolIni("", 0);
  server->RequestLog(true);
  Tfrm_main& w = OpenWindow();
  EXPECT_EQ(boxes.accountDialogOpened, 1);
  EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front();
  EXPECT_EQ(server->RequestLog().find("version.txt"), std::string::npos);
  w.Close(true);
  Pump();
  frame = nullptr;

  // As the dialog's OK does: written, and counting at once.
  boxes.onAccountDialog = [](wxWindow*, const Folders& f, Settings& settings) {
    IniWriteString(f.ToolIni(), "general", "name", "hof1");
    settings.name = "hof1";
  };
  OpenWindow();
  ASSERT_FALSE(MemoLines().empty());
  EXPECT_EQ(FromWx(frame->LblSvrName()->GetLabelText()), "hof1 (0 Synchronisationen)");
  EXPECT_EQ(MemoLines().back(),
            "Jetzt auf Sync klicken: die erste Synchronisation \xFC" "bertr\xE4gt die "
            "Praxisdaten zum Mobilger\xE4t.");
  Screenshot("first_start");
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
    // What the support needs stays folded until asked for, and no button is
    // cut when it opens.
    EXPECT_TRUE(dlg.paneAdvanced->IsCollapsed());
    Screenshot("account_dialog", &dlg);
    dlg.paneAdvanced->Expand();
    wxCollapsiblePaneEvent unfolded(dlg.paneAdvanced, dlg.paneAdvanced->GetId(), false);
    dlg.paneAdvanced->GetEventHandler()->ProcessEvent(unfolded);
    for (wxWindow* control : {static_cast<wxWindow*>(dlg.Button1), static_cast<wxWindow*>(dlg.btn_ok)}) {
      EXPECT_TRUE(dlg.GetClientRect().Contains(
          dlg.ScreenToClient(control->GetScreenRect().GetBottomRight())));
    }
    Screenshot("account_dialog_advanced", &dlg);
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

// A new office sets the server up in the dialog: its name gives the
// addresses unless [sync_server] has its own, and the dialog shows which.
TEST_F(GuiTest, TheAccountDialogsServerNameSetsTheServerAndTheDialogSaysWhich) {
  Tfrm_main& w = OpenWindow();
  Settings& settings = w.CurrentSettings();
  auto addresses = [](Tfrm_account& dlg) {
    wxString text = dlg.lblAddresses->GetLabel();
    text.Replace("\n", "|");
    return FromWx(text);
  };
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, settings, boxes);
    DialogCloser closer(&dlg, this);
    dlg.edit_server->SetValue("sync.praxis-nord.de");
    const std::string section = "  (Kelvanor.ini, [sync_server])";
    EXPECT_EQ(addresses(dlg), "In Verwendung:|Skripte: " + server->BaseUrl() + section +
                                  "|Updates: " + server->BaseUrl() + section + "|Upload: " +
                                  server->FtpUrl() + section);
    // A protected folder's password stays in Kelvanor.ini.
    IniWriteString(folders.ToolIni(), "sync_server", "base",
                   "http://kelvanor:geheim@" + server->BaseUrl().substr(7));
    dlg.edit_server->SetValue("sync.praxis-nord.com");
    EXPECT_EQ(addresses(dlg).find("geheim"), std::string::npos) << addresses(dlg);
    EXPECT_NE(addresses(dlg).find("Skripte: " + server->BaseUrl() + section), std::string::npos);
  }
  for (const char* key : {"base", "web", "ftp"}) IniWriteString(folders.ToolIni(), "sync_server", key, "");
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, settings, boxes);
    DialogCloser closer(&dlg, this);
    dlg.edit_server->SetValue("sync.praxis-nord.de:8021");
    // The port typed is the web server's; the FTP server keeps its own.
    EXPECT_EQ(addresses(dlg), "In Verwendung:|Skripte: http://sync.praxis-nord.de:8021|Updates: "
                              "http://sync.praxis-nord.de:8021|Upload: ftp://sync.praxis-nord.de");
    dlg.Show();
    Screenshot("account_dialog_server", &dlg);
    dlg.edit_server->SetValue("sync praxis");
    EXPECT_EQ(addresses(dlg), "Kein g\xFCltiger Servername");
    dlg.btn_okClick();
    ASSERT_EQ(boxes.errors.size(), 1u);
    EXPECT_EQ(boxes.errors[0].rfind("Der Server \"sync praxis\" ist kein Rechnername.", 0), 0u);
    // A new server is tried before it is stored, and what failed is said
    // (a name under .invalid is found nowhere).
    dlg.edit_server->SetValue("sync.praxis-nord.invalid");
    boxes.yesNoAnswer = false;
    dlg.btn_okClick();
    ASSERT_EQ(boxes.questions.size(), 1u);
    EXPECT_NE(boxes.questions[0].find("Skripte: http://sync.praxis-nord.invalid (Port 80): nicht "
                                      "erreichbar: Name nicht gefunden"),
              std::string::npos) << boxes.questions[0];
    EXPECT_EQ(boxes.preselected[0], IMessageBoxes::Preselected::kNo);
    EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "server", ""), "");
    EXPECT_NE(FromWx(dlg.memoCheck->GetValue()).find("Upload: ftp://sync.praxis-nord.invalid (Port 21)"),
              std::string::npos);
    boxes.yesNoAnswer = true;
    dlg.btn_okClick();
  }
  // The next transfer goes there at once.
  EXPECT_EQ(settings.servers.base, "http://sync.praxis-nord.invalid");
  EXPECT_EQ(settings.servers.ftp, "ftp://sync.praxis-nord.invalid");
  EXPECT_EQ(IniReadString(folders.ToolIni(), "general", "server", ""), "sync.praxis-nord.invalid");
  // The window's log has the check's lines too.
  EXPECT_TRUE(AnyStartsWith(MemoLines(), "Skripte: http://sync.praxis-nord.invalid (Port 80)"));
}

// "Verbindung prüfen" against a server that offers encryption (http leads to
// https, FTP takes TLS): the dialog says so and offers the switch; after it
// the window says "verschlüsselt" and the next sync goes over https and FTP
// with TLS, as the server's log shows.
TEST_F(GuiTest, TheConnectionCheckOffersEncryptionAndTheNextSyncUsesIt) {
  TestCertificates tls;
  if (!MakeTestCertificates(tmp->Path(), "", tls)) GTEST_SKIP() << "openssl is not available";
  ScopedEnv trust("CURL_CA_BUNDLE", tls.caCert.c_str());
  server = std::make_unique<SyncServer>(SyncServer::Https{tls.serverCert, tls.serverKey, "optional"});
  WriteToolIni("demo", 0);
  Tfrm_main& w = OpenWindow();
  EXPECT_EQ(FromWx(w.LblEncryption()->GetLabel()), W1252("unverschlüsselt"));
  w.btnSyncClick();
  ASSERT_GE(MemoLines().size(), 2u);
  EXPECT_EQ(MemoLines()[1], W1252("Verbindung zum Sync-Server: unverschlüsselt (HTTP, FTP)"));
  ASSERT_EQ(MemoLines().back(), "fertig!");

  server->SetRedirectEverywhere("https");
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    dlg.Show();
    EXPECT_FALSE(dlg.btnEncrypt->IsShown());
    // A server name typed and not stored yet: the switch would write its
    // addresses beside the old name, so it waits for OK.
    dlg.edit_server->SetValue("127.0.0.1");
    dlg.btnCheckClick();
    EXPECT_NE(FromWx(dlg.memoCheck->GetValue()).find("Mit OK wird er gespeichert"), std::string::npos)
        << FromWx(dlg.memoCheck->GetValue());
    EXPECT_FALSE(dlg.btnEncrypt->IsShown());
    dlg.edit_server->SetValue("");
    dlg.btnCheckClick();
    const std::string shown = FromWx(dlg.memoCheck->GetValue());
    EXPECT_NE(shown.find("Skripte: " + server->BaseUrl() + " (Port " +
                         std::to_string(server->HttpPort()) + "): erreichbar, leitet nach " +
                         server->HttpsUrl() + W1252(" weiter, verschlüsselt.")),
              std::string::npos) << shown;
    EXPECT_NE(shown.find("): angeboten."), std::string::npos) << shown;
    EXPECT_TRUE(dlg.btnEncrypt->IsShown());
    EXPECT_TRUE(dlg.btnEncrypt->IsEnabled());
    // Every line in view, the last one too, without scrolling.
    Pump();
    const wxPoint end = dlg.memoCheck->PositionToCoords(dlg.memoCheck->GetLastPosition());
    EXPECT_LE(end.y + dlg.memoCheck->GetCharHeight(), dlg.memoCheck->GetClientSize().GetHeight())
        << end.y;
    Screenshot("account_dialog_check", &dlg);
    server->ClearFailures();
    dlg.btnEncryptClick();
    EXPECT_NE(FromWx(dlg.memoCheck->GetValue()).find("Umgestellt: Kelvanor.ini"), std::string::npos)
        << FromWx(dlg.memoCheck->GetValue());
    EXPECT_FALSE(dlg.btnEncrypt->IsShown());
    Screenshot("account_dialog_switched", &dlg);
    dlg.btn_abbrechenClick();
  }
  EXPECT_EQ(IniReadString(folders.ToolIni(), "sync_server", "base", ""), server->HttpsUrl());
  EXPECT_EQ(IniReadString(folders.ToolIni(), "sync_server", "ftp_tls", ""), "1");
  w.ReadAccountSettings();
  EXPECT_EQ(FromWx(w.LblEncryption()->GetLabel()), W1252("verschlüsselt"));
  EXPECT_NE(FromWx(w.LblEncryption()->GetToolTipText()).find("FTP mit TLS"), std::string::npos);
  Screenshot("window_encrypted");

  // The next sync: every request over TLS, the upload after AUTH TLS.
  server->RequestLog(true);
  w.btnSyncClick();
  const std::vector<std::string> memo = MemoLines();
  EXPECT_TRUE(Contains(memo, W1252("Verbindung zum Sync-Server: verschlüsselt (HTTPS, FTP mit TLS)")));
  EXPECT_EQ(memo.back(), "fertig!");
  // Only each FTP session's AUTH TLS comes before its encryption.
  const std::string requests = server->RequestLog();
  EXPECT_EQ(Count(requests, "\"tls\": false"), Count(requests, "\"path\": \"AUTH\""))
      << requests;
  EXPECT_NE(requests.find("\"path\": \"/mob/zip.php\""), std::string::npos) << requests;
  EXPECT_NE(requests.find("\"path\": \"STOR\""), std::string::npos) << requests;
}

TEST_F(GuiTest, DeleteMobileDataAsksUsesTheNameHeldInTheSettingsAndReports) {
  Tfrm_main& w = OpenWindow();
  std::filesystem::create_directories(folders.AppDataFolder + "mobil");
  PutChangeFile("mob_kunde_x.txt", "h\r\n");
  const std::string question =
      "Alle noch nicht importierten Mobildaten von Konto demo auf dem Server l\xF6schen?";
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    boxes.yesNoAnswer = false;  // "Nein": nothing happens
    dlg.Button1Click();
    ASSERT_EQ(boxes.questions.size(), 1u);
    EXPECT_EQ(boxes.questions[0], question);
    EXPECT_EQ(boxes.preselected[0], IMessageBoxes::Preselected::kNo);
    EXPECT_TRUE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
    EXPECT_TRUE(boxes.infos.empty());

    boxes.yesNoAnswer = true;
    dlg.edit_name->SetValue("anderer");  // not yet confirmed: the request goes for "demo"
    dlg.Button1Click();
  }
  EXPECT_TRUE(boxes.errors.empty());
  EXPECT_FALSE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
  ASSERT_EQ(boxes.infos.size(), 1u);
  EXPECT_EQ(boxes.infos[0],
            "Die noch nicht importierten Mobildaten von Konto demo wurden auf dem Server "
            "gel\xF6scht.");
  server->SetFailure("/mob/delmob.php", 500);
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    dlg.Button1Click();
  }
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_NE(boxes.errors[0].find("nicht gel\xF6scht"), std::string::npos) << boxes.errors[0];
  EXPECT_EQ(boxes.infos.size(), 1u);
  // Answered 200 with PHP's warning: not deleted either, and the server's
  // words say why.
  server->ClearFailures();
  server->SetBody("/mob/delmob.php", "<b>Warning</b>: unlink(): Permission denied");
  {
    Tfrm_account& dlg = *new Tfrm_account(&w, folders, w.CurrentSettings(), boxes);
    DialogCloser closer(&dlg, this);
    dlg.Button1Click();
  }
  ASSERT_EQ(boxes.errors.size(), 2u);
  EXPECT_NE(boxes.errors[1].find("Antwort des Servers: \"Warning: unlink(): Permission denied\""),
            std::string::npos) << boxes.errors[1];
  EXPECT_EQ(boxes.infos.size(), 1u);
}

// Under a window manager every box of ours takes the focus and gives it back
// when it closes. That must not count as the user activating the window: the
// memo (with the FEHLER lines of a failed sync) stays, and the version check
// does not run again (with the server unreachable it would bring its error
// box anew, each time a box closes).
TEST_F(GuiTest, RealBoxesUnderAWindowManagerNeverRunTheActivationStepsAgain) {
  if (!WindowManagerRuns()) {
    GTEST_SKIP() << "no window manager on this display (scripts/test.sh starts openbox)";
  }
  IniWriteString(folders.ToolIni(), "sync_server", "web", "http://127.0.0.1:1");
  server->SetFailure("/mob/unzip.php", 500);
  std::filesystem::create_directories(folders.AppDataFolder + "mobil");
  PutChangeFile("mob_kunde_x.txt", "h\r\n");
  RealBoxAnswerer answerer;
  answerer.photograph = {"box_error_version", "box_error_sync", "box_help", "box_delete_question"};
  Tfrm_main& w = OpenWindow(/*realBoxes=*/true);
  PumpFor(1500);
  // The version file could not be fetched: one box, not one more per closing.
  ASSERT_EQ(answerer.boxes.size(), 1u);
  EXPECT_NE(answerer.boxes[0].message.find("Versionsdatei"), std::string::npos);
  EXPECT_EQ(answerer.boxes[0].ok, "OK");
  EXPECT_EQ(w.ActivationStepsRun(), 1);

  // A first sync whose server unzip fails: FEHLER lines, then the error box.
  const int reported = w.ActivationsReported();
  w.btnSyncClick();
  PumpFor(1500);
  ASSERT_EQ(answerer.boxes.size(), 2u);
  EXPECT_NE(answerer.boxes[1].message.find("(unzip.php)"), std::string::npos);
  EXPECT_GT(w.ActivationsReported(), reported) << "the focus never came back to the window";
  EXPECT_TRUE(AnyStartsWith(MemoLines(), "FEHLER: Server-Unzip.php fehlgeschlagen"));
  // The export before the upload said "fertig!"; the run did not finish.
  EXPECT_EQ(FromWx(w.Label1()->GetLabel()), "abgebrochen!");
  EXPECT_EQ(w.ActivationStepsRun(), 1);

  // The help box, then the account dialog with the delete question, which
  // Return answers "Nein": nothing is deleted, and still no activation step.
  w.btn_helpClick();
  PumpFor(1000);
  answerer.onAccountDialog = [](Tfrm_account& dialog) { dialog.Button1Click(); };
  w.btn_settingsClick();
  PumpFor(1500);
  ASSERT_EQ(answerer.boxes.size(), 4u);
  EXPECT_EQ(answerer.boxes[2].message.rfind("Kelvanor gleicht", 0), 0u);
  const RealBoxAnswerer::Box& question = answerer.boxes[3];
  EXPECT_EQ(question.message,
            "Alle noch nicht importierten Mobildaten von Konto demo auf dem Server l\xF6schen?");
  EXPECT_EQ(question.yes, "Ja");
  EXPECT_EQ(question.no, "Nein");
  EXPECT_NE(question.style & wxNO_DEFAULT, 0);
  EXPECT_TRUE(std::filesystem::exists(server->AccountDir("demo") + "/mob_kunde_x.txt"));
  EXPECT_TRUE(AnyStartsWith(MemoLines(), "FEHLER: Server-Unzip.php fehlgeschlagen"));
  EXPECT_EQ(w.ActivationStepsRun(), 1);
}

// Every button stays on the screen however small the window is made, the
// log gets its height back when the window grows again, and the bottom panel
// closes the window off.
TEST_F(GuiTest, TheWindowKeepsEveryButtonInSightAndTheLogItsHeight) {
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  Tfrm_main& w = OpenWindow();
  ASSERT_TRUE(w.PnlUpdate()->IsShown());
  auto client = [&] { return wxRect(w.GetClientAreaOrigin(), w.GetClientSize()); };
  auto expectInSight = [&](const char* size, std::initializer_list<wxWindow*> controls) {
    for (wxWindow* control : controls) {
      const wxRect rect(w.ScreenToClient(control->GetScreenPosition()), control->GetSize());
      EXPECT_TRUE(control->IsShownOnScreen()) << size << " " << FromWx(control->GetLabel());
      EXPECT_TRUE(client().Contains(rect)) << size << " " << FromWx(control->GetLabel());
    }
    wxPanel* bottom = w.PnlUpdate()->IsShown() ? w.PnlUpdate() : w.PnlBottom();
    EXPECT_EQ(bottom->GetRect().GetBottom(), bottom->GetParent()->GetClientSize().GetHeight() - 1)
        << size;
  };
  auto logHeight = [&] { return w.DisplayMemo()->GetSize().GetHeight(); };
  const int designedLog = logHeight();
  EXPECT_GE(designedLog, 140);
  expectInSight("default", {w.BtnUpdate(), w.BtnLater()});
  Screenshot("window_default_update_offer");
  w.btnLaterClick();
  Pump();
  expectInSight("default", {w.BtnSync(), w.BtnSettings(), w.BtnHelp(), w.BtnExit()});
  Screenshot("window_default");

  // The window manager takes its time under load: wait for the size to
  // arrive, then for the layout that follows it.
  w.SetClientSize(200, 120);
  PumpUntil([&] { return w.GetClientSize().GetWidth() < 613; }, 5000);
  PumpFor(500);
  // The window manager may tell the frame's size only now, and the window
  // then grows to its least client size; the splitter's panes follow.
  PumpUntil([&] { return w.Tv()->GetSize().GetHeight() >= 20; }, 3000);
  EXPECT_GE(w.GetClientSize().GetWidth(), w.GetMinClientSize().GetWidth());
  EXPECT_GE(w.GetClientSize().GetHeight(), w.GetMinClientSize().GetHeight());
  EXPECT_LT(w.GetClientSize().GetWidth(), 613);
  expectInSight("minimum", {w.BtnSync(), w.BtnSettings(), w.BtnHelp(), w.BtnExit()});
  EXPECT_GE(w.Tv()->GetSize().GetHeight(), 20);
  Screenshot("window_minimum");

  w.SetClientSize(1000, 760);
  w.Centre();
  PumpUntil([&] { return w.GetClientSize().GetWidth() >= 1000 && logHeight() == designedLog; },
            5000);
  PumpFor(300);
  EXPECT_EQ(logHeight(), designedLog);
  expectInSight("large", {w.BtnSync(), w.BtnSettings(), w.BtnHelp(), w.BtnExit()});
  Screenshot("window_large");
}

// The window comes back where the user left it, and whole onto the screen
// when that is smaller now.
TEST_F(GuiTest, TheWindowKeepsItsPlaceAndSizeAndStaysOnTheScreen) {
  const wxRect screen = wxDisplay(0u).GetClientArea();
  IniWriteInteger(folders.ToolIni(), "window", "left", screen.GetRight() - 100);
  IniWriteInteger(folders.ToolIni(), "window", "top", 40);
  IniWriteInteger(folders.ToolIni(), "window", "width", screen.GetWidth() + 500);
  IniWriteInteger(folders.ToolIni(), "window", "height", 500);
  {
    Tfrm_main& w = OpenWindow();
    PumpFor(300);
    const wxRect rect = w.GetRect();
    EXPECT_TRUE(screen.Contains(rect)) << rect.GetX() << "," << rect.GetY() << " "
                                       << rect.GetWidth() << "x" << rect.GetHeight();
    w.SetSize(wxRect(30, 50, 700, 520));
    PumpUntil([&] { return w.GetSize() == wxSize(700, 520); }, 5000);
    w.Close(true);
    Pump();
    frame = nullptr;
  }
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "window", "width", 0), 700);
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "window", "height", 0), 520);
  Tfrm_main& again = OpenWindow();
  PumpFor(300);
  EXPECT_EQ(again.GetSize(), wxSize(700, 520));
}

// Switching to another program and back is no start: the memo stays, the
// version check does not run again (offline it would bring its error box
// each time), and no box is opened from within the activation.
TEST_F(GuiTest, ComingBackFromAnotherProgramRunsNoActivationStepAgain) {
  if (!WindowManagerRuns()) {
    GTEST_SKIP() << "no window manager on this display (scripts/test.sh starts openbox)";
  }
  WriteFile(server->WwwFile("sync/version.txt"), ExeVersionString());
  server->RequestLog(true);
  for (const bool reachable : {true, false}) {
    SCOPED_TRACE(reachable ? "server reachable" : "server unreachable");
    if (!reachable) IniWriteString(folders.ToolIni(), "sync_server", "web", "http://127.0.0.1:1");
    boxes.errors.clear();
    Tfrm_main& w = OpenWindow();
    ASSERT_TRUE(PumpUntil([&] { return w.IsActive(); }, 5000));
    w.Log("bleibt stehen");
    for (int round = 1; round <= 3; ++round) {
      const int reported = w.ActivationsReported();
      OtherProgram other;
      ASSERT_TRUE(other.Started()) << "xmessage (x11-utils) is missing";
      ASSERT_TRUE(PumpUntil([&] { return !w.IsActive(); }, 5000)) << "round " << round;
      other.Close();
      ASSERT_TRUE(PumpUntil([&] { return w.ActivationsReported() > reported; }, 5000))
          << "round " << round << ": the focus never came back";
      PumpFor(300);
    }
    EXPECT_EQ(w.ActivationStepsRun(), 1);
    EXPECT_EQ(MemoLines().back(), "bleibt stehen");
    if (reachable) {
      EXPECT_EQ(Count(server->RequestLog(true), "\"/sync/version.txt\""), 1u);
      EXPECT_TRUE(boxes.errors.empty());
    } else {
      ASSERT_EQ(boxes.errors.size(), 1u);
      EXPECT_NE(boxes.errors[0].find("Versionsdatei"), std::string::npos);
    }
    w.Close(true);
    Pump();
    frame = nullptr;
  }
}

// A second start shows the user the window he already has, then says so.
TEST_F(GuiTest, ASecondStartBringsTheRunningWindowToTheFrontAndSaysItRuns) {
  if (!WindowManagerRuns()) {
    GTEST_SKIP() << "no window manager on this display (scripts/test.sh starts openbox)";
  }
  Tfrm_main& w = OpenWindow();
  // What the program entry does for its window.
  const std::unique_ptr<InstanceLock> lock = LockApplicationDataFolder(folders);
  ASSERT_NE(lock, nullptr);
  lock->NoteHolder();
  OtherProgram other;
  ASSERT_TRUE(PumpUntil([&] { return !w.IsActive(); }, 5000));
  const int reported = w.ActivationsReported();

  OtherProgram second({std::string(KELVANOR_BINARY_DIR) + "/Kelvanor"},
                      {"APPDATA=" + tmp->Path() + "/appdata"});
  ASSERT_TRUE(second.Started());
  EXPECT_TRUE(PumpUntil([&] { return w.ActivationsReported() > reported; }, 10000))
      << "the running window did not come to the front";
  const bool boxShown = PumpUntil(
      [] { return std::system("xwininfo -root -tree | grep -q '\"Kelvanor\": '") == 0; }, 10000);
  EXPECT_TRUE(boxShown) << "no box \"Kelvanor l\xE4uft bereits.\"";
  PumpFor(500);
  ScreenshotAsIs("second_start");
  second.Close();
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
  // The label shows the counter the run left in the file.
  EXPECT_EQ(FromWx(w.LblSvrName()->GetLabelText()), "demo (1 Synchronisation)");
}

// The dialog's own example name with its counter, and a download of all ten
// change files: every text shows in full, at any window width.
TEST_F(GuiTest, LongAccountNameAndTenReceivedFilesShowInFull) {
  const std::string name = "hufschmied-mueller-und-soehne";
  WriteToolIni(name, 12);
  for (const char* file : {"mob_kunde_x.txt", "mob_stall_x.txt", "mob_pferd_x.txt",
                           "mob_kunde_pferd_x.txt", "mob_rech_x.txt", "mob_termin_x.txt",
                           "mob_kasse_x.txt", "mob_report_x.txt", "mob_artikel_x.txt",
                           "mob_leistung_x.txt"}) {
    WriteFile(server->AccountDir(name) + "/" + file, "kopf\r\nN/1;eins\r\nN/2;zwei\r\n");
  }
  Tfrm_main& w = OpenWindow();
  wxStaticText* account = w.LblSvrName();
  EXPECT_EQ(FromWx(account->GetLabelText()), name + " (12 Synchronisationen)");
  EXPECT_GE(account->GetSize().GetWidth(), account->GetBestSize().GetWidth());
  EXPECT_EQ(w.BtnHelp()->GetSize().GetHeight(), w.BtnSettings()->GetSize().GetHeight());

  w.btnSyncClick();
  ASSERT_TRUE(w.PnlImport()->IsShown());
  wxStaticText* question = w.Label5();
  auto expectQuestionInFull = [&](const char* when) {
    const wxRect label = question->GetRect();
    EXPECT_LE(label.GetRight(), w.BtnYes()->GetRect().GetLeft()) << when;
    EXPECT_LE(question->GetBestSize().GetWidth(), label.GetWidth()) << when;
    EXPECT_LE(label.GetBottom(), w.PnlImport()->GetClientSize().GetHeight()) << when;
    wxString text = question->GetLabel();
    text.Replace("\n", " ");
    EXPECT_NE(FromWx(text).find("mob_leistung_x.txt (2 S\xE4tze)"), std::string::npos) << when;
  };
  expectQuestionInFull("as opened");
  Screenshot("import_panel_ten_files");
  const int linesAtFirst = question->GetLabel().Freq('\n');

  w.SetClientSize(w.FromDIP(wxSize(480, 427)));
  PumpFor(800);
  expectQuestionInFull("narrow");
  EXPECT_GT(question->GetLabel().Freq('\n'), linesAtFirst);
  // The longer question made the window grow down: log and tree still show.
  EXPECT_GE(w.DisplayMemo()->GetSize().GetHeight(), 20);
  EXPECT_GE(w.Tv()->GetSize().GetHeight(), 20);
  Screenshot("import_panel_ten_files_narrow");
  w.SetClientSize(w.FromDIP(wxSize(1200, 560)));
  PumpFor(800);
  expectQuestionInFull("wide");
  EXPECT_LT(question->GetLabel().Freq('\n'), linesAtFirst);
  Screenshot("import_panel_ten_files_wide");

  w.btn_noClick();
  EXPECT_EQ(FromWx(account->GetLabelText()), name + " (12 Synchronisationen)");
  Screenshot("main_window_long_name");
}

TEST_F(GuiTest, SecondSyncShowsTheQuestionAndImportsOnJa) {
  WriteToolIni("demo", 1);
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) +
                                       "N/5;Herr;M\xFCller;Hans;K5;;Hauptstr. 1;12345;Au;;1;\r\n");
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  EXPECT_TRUE(w.PnlImport()->IsShown());
  EXPECT_FALSE(w.PnlBottom()->IsShown());
  EXPECT_EQ(FromWx(w.Label5()->GetLabel()).find("mob_kunde_x.txt (1 Satz)") != std::string::npos,
            true);
  // The words first, the line as received below them; no line for the header.
  // At the size the window opens with, the question leaves the tree room
  // for a dozen lines.
  EXPECT_GE(w.Tv()->GetSize().GetHeight(), 12 * w.Tv()->GetCharHeight());
  const auto tree = TreeLines();
  ASSERT_EQ(tree.size(), 4u);
  EXPECT_EQ(tree[1], "  mob_kunde_x.txt");
  EXPECT_EQ(tree[2], "    Neuer Kunde M\xFCller, Hans (Au)");
  EXPECT_EQ(tree[3], "      N/5;Herr;M\xFCller;Hans;K5;;Hauptstr. 1;12345;Au;;1;");
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

// The history: every run listed, the last import undone from it (only while
// the practice is unchanged), its backup imported again through the window's
// own question, and the files each run names opened with a button.
TEST_F(GuiTest, TheHistoryUndoesTheLastImportAndImportsItsBackupAgain) {
  WriteToolIni("demo", 1);
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) +
                                       W1252("N/5;Herr;Müller;Hans;K5;;Hauptstr. 1;12345;Au;;1;\r\n"
                                             "A/zwei;Herr;Meier;;;;;;;;1;\r\n"));
  Tfrm_main& w = OpenWindow();
  const std::string count = W1252("SELECT COUNT(*) FROM besitzer WHERE name='Müller'");
  w.btnSyncClick();
  // The report of the line not imported opens its list on "Öffnen".
  boxes.openOffered = true;
  w.btn_yesClick();
  ASSERT_EQ(QueryOne(dbPath, count), "1");
  EXPECT_EQ(boxes.offersToOpen, 1);
  ASSERT_EQ(boxes.openedPaths.size(), 1u);
  EXPECT_NE(boxes.openedPaths[0].find("nicht_importierte_Zeilen.txt"), std::string::npos);
  boxes.openedPaths.clear();
  boxes.errors.clear();
  w.btn_historyClick();
  EXPECT_EQ(boxes.historyDialogOpened, 1);
  {
    Tfrm_history dialog(&w, w.Database(), w.CurrentFolders(), w.CurrentSettings(), boxes, w);
    dialog.Show();
    ASSERT_EQ(dialog.Runs().size(), 1u);
    EXPECT_EQ(FromWx(dialog.lstRuns->GetItemText(0, 1)), "Synchronisation");
    EXPECT_EQ(FromWx(dialog.lstRuns->GetItemText(0, 2)), "fertig");
    EXPECT_TRUE(dialog.btnUndo->IsEnabled()) << FromWx(dialog.lblUndo->GetLabel());
    EXPECT_NE(FromWx(dialog.memoDetails->GetValue()).find("Importiert: 1 neuer Kunde"),
              std::string::npos)
        << FromWx(dialog.memoDetails->GetValue());
    Screenshot("history_dialog", &dialog);
    EXPECT_TRUE(dialog.btnOpenNotImported->IsEnabled());
    dialog.btnOpenBackupClick();
    dialog.btnShowRestorePointClick();
    dialog.btnMobileFolderClick();
    ASSERT_EQ(boxes.openedPaths.size(), 3u);
    EXPECT_EQ(boxes.openedPaths[0], dialog.Runs()[0].backup);
    EXPECT_NE(boxes.openedPaths[1].find("praxis.db.Kelvanor-Wiederherstellung_demo"),
              std::string::npos);

    // Changed in the office since: refused, said why, nothing undone.
    ExecOnFile(dbPath, W1252("UPDATE besitzer SET ort='Bern' WHERE name='Müller'"));
    dialog.Reload();
    EXPECT_FALSE(dialog.btnUndo->IsEnabled());
    EXPECT_NE(FromWx(dialog.lblUndo->GetLabel()).find(W1252("geändert")), std::string::npos);
    Screenshot("history_dialog_undo_refused", &dialog);
    ExecOnFile(dbPath, W1252("UPDATE besitzer SET ort='Au' WHERE name='Müller'"));
    dialog.Reload();
    ASSERT_TRUE(dialog.btnUndo->IsEnabled());
    boxes.questions.clear();
    dialog.btnUndoClick();
    ASSERT_EQ(boxes.questions.size(), 1u);
    EXPECT_EQ(boxes.preselected.back(), IMessageBoxes::Preselected::kNo);
    EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front();
    EXPECT_EQ(QueryOne(dbPath, count), "0");
    EXPECT_EQ(FromWx(dialog.lstRuns->GetItemText(0, 1)), W1252("Import rückgängig gemacht"));
    EXPECT_FALSE(dialog.btnUndo->IsEnabled());
    Screenshot("history_dialog_after_undo", &dialog);
    dialog.ImportBackupFile(dialog.Runs()[1].backup);
  }
  // The backup's import waits for the same question as a sync's.
  ASSERT_TRUE(w.PnlImport()->IsShown());
  Screenshot("history_backup_question");
  boxes.errors.clear();
  w.btn_yesClick();
  // The line refused before is refused again, and said so; nothing else.
  ASSERT_EQ(boxes.errors.size(), 1u);
  EXPECT_NE(boxes.errors[0].find("zwei"), std::string::npos) << boxes.errors[0];
  EXPECT_EQ(QueryOne(dbPath, count), "1");
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
  EXPECT_EQ(MemoLines().back(), "fertig!");
}

// Every received line shows under it, in words, what it does to which record
// of the practice; a changed record also what it changes.
TEST_F(GuiTest, TheTreeSaysInWordsWhatEveryLineDoes) {
  ExecOnFile(dbPath, "INSERT INTO pferd (id,name) VALUES (40,'Fury');"
                     "INSERT INTO termine (id,beginn,beginnzeit,ende,endezeit,thema,ort) VALUES "
                     "(88,46363,0.4375,46363,0.46875,'Beschlag, vorne','Musterstadt');"
                     "INSERT INTO artikel (id,bezeichnung,mwst,vkpreis1euro) VALUES (3,'Hufeisen',19,50);");
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();  // the first sync keeps what it uploaded as the mobile's view
  std::string anna;
  for (const std::string& line : SplitLines(ReadFile(server->AccountDir("demo") + "/mob_kunde.txt"))) {
    if (line.rfind("A/1;", 0) == 0) anna = line;
  }
  ASSERT_FALSE(anna.empty());
  std::vector<std::string> fields;
  std::stringstream split(anna);
  for (std::string field; std::getline(split, field, ';');) fields.push_back(field);
  fields.resize(12);
  fields[6] = "Am Hof 2";
  std::string changed;
  for (const std::string& field : fields) changed += (changed.empty() ? "" : ";") + field;
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) +
                                       "N/5;Herr;M\xFCller;J\xF6rg;;;;;L\xFCneburg;;1;\r\n" +
                                       changed + "\r\n");
  PutChangeFile("mob_pferd_x.txt", "h\r\nN/7;Blitz;;;;46400;;;;;\r\nD/A/40\r\n");
  PutChangeFile("mob_termin_x.txt", "h\r\nN/3;46400.5;46400.75;kd/N/5;Hof\r\nD/A/88\r\n");
  PutChangeFile("mob_rech_x.txt", "h\r\nR1;R-7;A/1;N/7;46400;0;Art/3;1;Typ01;JA\r\n");
  PutChangeFile("mob_kasse_x.txt", "h\r\nN/1;46400.5;K;Barzahlung;B-1;59.5;19;A/1;;;\r\n");

  w.btnSyncClick();
  ASSERT_TRUE(w.PnlImport()->IsShown());
  const auto tree = TreeLines();
  // The words of a received line: the line it stands below, in the tree.
  auto below = [&](const std::string& line) {
    for (std::size_t i = 1; i < tree.size(); ++i) {
      if (tree[i] != "      " + line) continue;
      for (std::size_t k = i; k-- > 0;) {
        if (tree[k].rfind("    ", 0) == 0 && tree[k][4] != ' ') return "  " + tree[k];
      }
    }
    return std::string("(no line ") + line + ")";
  };
  for (const std::string& line : tree) {
    EXPECT_EQ(line.find("Kopfzeile"), std::string::npos) << line;
  }
  EXPECT_EQ(below(changed), "      Ge\xE4nderter Kunde Huber, Anna");
  EXPECT_EQ(below("N/5;Herr;M\xFCller;J\xF6rg;;;;;L\xFCneburg;;1;"),
            "      Neuer Kunde M\xFCller, J\xF6rg (L\xFCneburg)");
  EXPECT_EQ(below("N/7;Blitz;;;;46400;;;;;"), "      Neues Pferd Blitz");
  EXPECT_EQ(below("D/A/40"), "      Gel\xF6schtes Pferd Fury");
  EXPECT_EQ(below("N/3;46400.5;46400.75;kd/N/5;Hof"),
            "      Neuer Termin 13.01.2027 12:00\x96" "18:00 Kunde M\xFCller, J\xF6rg, Hof");
  EXPECT_EQ(below("D/A/88"),
            "      Gel\xF6schter Termin 07.12.2026 10:30\x96" "11:15 Beschlag, vorne, Musterstadt");
  EXPECT_EQ(below("R1;R-7;A/1;N/7;46400;0;Art/3;1;Typ01;JA"),
            "      Neuer Auftrag Nr. R-7 f\xFCr Huber, Anna vom 13.01.2027, Summe 59,50 \x80 (bezahlt)");
  EXPECT_EQ(below("N/1;46400.5;K;Barzahlung;B-1;59.5;19;A/1;;;"),
            "      Neue Kassenbuchung vom 13.01.2027: 59,50 \x80 Barzahlung, Einnahme von Kunde "
            "Huber, Anna");
  // Windows-1252 has no arrow: the tree draws one where the core wrote "->".
  wxTreeItemIdValue cookie;
  const wxTreeItemId customers = frame->Tv()->GetFirstChild(frame->Tv()->GetRootItem(), cookie);
  const wxTreeItemId line = frame->Tv()->GetLastChild(customers);
  const wxTreeItemId change = frame->Tv()->GetFirstChild(line, cookie);
  ASSERT_TRUE(change.IsOk());
  EXPECT_EQ(frame->Tv()->GetItemText(change), wxString::FromUTF8("Stra\xC3\x9F" "e: (leer) \xE2\x86\x92 Am Hof 2"));
  // The question sums it up.
  wxString question = w.Label5()->GetLabel();
  question.Replace("\n", " ");
  EXPECT_NE(FromWx(question).find("1 neuer Kunde, 1 ge\xE4nderter Kunde, 1 neues Pferd, "
                                  "1 gel\xF6schtes Pferd, 1 neuer Auftrag, 1 neuer Termin, "
                                  "1 gel\xF6schter Termin, 1 neue Kassenbuchung"),
            std::string::npos)
      << FromWx(question);
  // The words have room in a window of the size an office gives it.
  w.Move(0, 0);
  w.SetClientSize(w.FromDIP(wxSize(1000, 760)));
  PumpFor(500);
  Screenshot("import_panel_preview");
  frame->Tv()->EnsureVisible(frame->Tv()->GetLastChild(frame->Tv()->GetLastChild(
      frame->Tv()->GetLastChild(frame->Tv()->GetRootItem()))));
  PumpFor(300);
  Screenshot("import_panel_preview_end");
  w.btn_noClick();
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
  // What was declined is no longer on offer: the tree empties, and the
  // status does not read as the last run's.
  EXPECT_TRUE(TreeLines().empty());
  EXPECT_EQ(FromWx(w.Label1()->GetLabel()), "");
}

// The status above the bars says how the run really ended, and a new run
// starts without the last one's.
TEST_F(GuiTest, StatusSaysWhatWasNotTakenAndWhatIsLeftToDo) {
  WriteToolIni("demo", 1);
  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) +
                                       "N/5;Herr;Gut;;;;;;;;1;\r\nN/x;Herr;Kaputt;;;;;;;;1;\r\n");
  Tfrm_main& w = OpenWindow();
  w.btnSyncClick();
  ASSERT_TRUE(w.PnlImport()->IsShown());
  w.btn_yesClick();
  EXPECT_EQ(FromWx(w.Label1()->GetLabelText()), "fertig, 1 Zeile nicht \xFC" "bernommen");
  EXPECT_EQ(w.PbGet()->GetValue(), w.PbGet()->GetRange());
  EXPECT_GE(w.PbGet()->GetSize().GetHeight(), 12);
  const auto lines = MemoLines();
  EXPECT_EQ(lines.front().rfind("===== Synchronisation am ", 0), 0u) << lines.front();
  bool summed = false;
  for (const std::string& line : lines) {
    summed = summed || (line.rfind("Importiert am ", 0) == 0 &&
                        line.find(": 1 neuer Kunde") != std::string::npos &&
                        line.find("_mob_from_server.txt") != std::string::npos);
  }
  EXPECT_TRUE(summed) << "no summary line";
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Gut'"), "1");
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
  Screenshot("status_not_imported");

  PutChangeFile("mob_kunde_x.txt", std::string(kCustomerHeader) + "N/6;Frau;Neu;;;;;;;;1;\r\n");
  server->SetFailure("/mob/delmob.php", 500);
  boxes.errors.clear();
  w.btnSyncClick();
  EXPECT_EQ(FromWx(w.Label1()->GetLabelText()), "");
  ASSERT_TRUE(w.PnlImport()->IsShown());
  w.btn_yesClick();
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Neu'"), "1");
  EXPECT_EQ(FromWx(w.Label1()->GetLabelText()),
            "importiert; L\xF6schen auf dem Server nachholen");
  EXPECT_EQ(boxes.errors.size(), 1u);
  Screenshot("status_delete_failed");
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

void Click(wxButton* button) {
  wxCommandEvent click(wxEVT_BUTTON, button->GetId());
  click.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(click);
}

// The offer never stands between the user and the sync: "Später" brings the
// sync back, and the next start offers the update again.
TEST_F(GuiTest, UpdatePanelOnlyWhenTheServerOffersANewerVersionAndSpaeterPutsItOff) {
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  Tfrm_main& w = OpenWindow();
  EXPECT_TRUE(w.PnlUpdate()->IsShown());
  EXPECT_FALSE(w.PnlBottom()->IsShown());
  EXPECT_EQ(FromWx(w.Label3()->GetLabel()),
            "Update auf die neue Version 9.0.0.1 verf\xFC" "gbar. Jetzt laden?");
  EXPECT_EQ(FromWx(w.BtnLater()->GetLabel()), "Sp\xE4ter");
  Screenshot("update_panel");

  Click(w.BtnLater());
  Pump();
  EXPECT_FALSE(w.PnlUpdate()->IsShown());
  ASSERT_TRUE(w.BtnSync()->IsShownOnScreen());
  w.btnSyncClick();
  EXPECT_EQ(MemoLines().back(), "fertig!");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 1);
  w.Close(true);
  Pump();

  Tfrm_main& again = OpenWindow();
  EXPECT_TRUE(again.PnlUpdate()->IsShown());
}

// The version file comes slowly; the user closes the window meanwhile (the
// title bar's X, Alt+F4): the check stops and the window ends, no box, no
// crash of the activation steps still waiting on the stack.
TEST_F(GuiTest, ClosingTheWindowDuringTheVersionCheckStopsItAndEndsCleanly) {
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  server->SetSlow("/sync/version.txt", 30);
  frame = new Tfrm_main(folders, &boxes);
  Tfrm_main* window = frame;
  bool destroyed = false;
  window->Bind(wxEVT_DESTROY, [&](wxWindowDestroyEvent& event) {
    if (event.GetEventObject() == window) destroyed = true;
    event.Skip();
  });
  wxTimer meanwhile;
  bool closedDuringCheck = false;
  meanwhile.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    closedDuringCheck = window->HttpGet().Running();
    window->Close();
  });
  meanwhile.StartOnce(500);
  window->Show();
  window->EnsureActivated();
  frame = nullptr;
  PumpUntil([&] { return destroyed; }, 5000);
  EXPECT_TRUE(closedDuringCheck);
  EXPECT_TRUE(destroyed);
  EXPECT_TRUE(boxes.errors.empty()) << boxes.errors.front();
  EXPECT_TRUE(boxes.infos.empty()) << boxes.infos.front();
}

TEST_F(GuiTest, NoUpdatePanelForTheSameVersion) {
  WriteFile(server->WwwFile("sync/version.txt"), ExeVersionString());
  Tfrm_main& w = OpenWindow();
  EXPECT_FALSE(w.PnlUpdate()->IsShown());
  EXPECT_TRUE(w.PnlBottom()->IsShown());
  EXPECT_TRUE(boxes.errors.empty());
}

// The stand-in for an update: it leaves a mark when it runs.
std::string StandInUpdate(const std::string& marker) {
  return "#!/bin/sh\necho started > '" + marker + "'\n";
}

bool MarkAppears(const std::string& marker, int seconds) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!std::filesystem::exists(marker) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return std::filesystem::exists(marker);
}

TEST_F(GuiTest, AnUpdateFetchedInTheClearIsNotStartedAndTheDownloadPageOpens) {
  const std::string marker = tmp->File("started.txt");
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  WriteFile(server->WwwFile("sync/mob.exe"), StandInUpdate(marker));
  Tfrm_main& w = OpenWindow();
  ASSERT_TRUE(w.PnlUpdate()->IsShown());
  Click(w.BtnUpdate());
  Pump();
  const std::vector<std::string> memo = MemoLines();
  ASSERT_GE(memo.size(), 2u);
  EXPECT_EQ(memo[memo.size() - 2], "Lade Update ... B i t t e   W a r t e n ...");
  EXPECT_EQ(memo.back(), "Update nicht gestartet: mob.exe kam nicht \xFC" "ber eine gepr\xFC"
                         "fte HTTPS-Verbindung und ist nicht signiert. Die Download-Seite wird "
                         "ge\xF6" "ffnet: " + server->BaseUrl() + "/sync");
  EXPECT_EQ(boxes.openedUrls, std::vector<std::string>{server->BaseUrl() + "/sync"});
  EXPECT_FALSE(std::filesystem::exists(folders.UpdateFolder() + "mob.exe"));
  // The tool stays, and the refused offer gives the sync back.
  EXPECT_FALSE(wxPendingDelete.Member(&w));
  EXPECT_FALSE(w.PnlUpdate()->IsShown());
  EXPECT_TRUE(w.BtnSync()->IsShownOnScreen());
  EXPECT_TRUE(boxes.errors.empty());
  Screenshot("update_not_started");
  EXPECT_FALSE(MarkAppears(marker, 1));

  // Back from the page the tool opened: the memo still says why.
  const int steps = w.ActivationStepsRun();
  for (const bool active : {true, false, true}) {
    wxActivateEvent event(wxEVT_ACTIVATE, active);
    w.ProcessWindowEvent(event);
  }
  EXPECT_EQ(w.ActivationStepsRun(), steps);
  EXPECT_EQ(MemoLines().back().rfind("Update nicht gestartet: ", 0), 0u);

  // The link asks for the same page; where no browser opens, the memo gives
  // the address (and wx shows no box of its own).
  boxes.browserOpens = false;
  wxHyperlinkEvent click(w.DownloadLink(), w.DownloadLink()->GetId(), w.DownloadLink()->GetURL());
  w.DownloadLink()->GetEventHandler()->ProcessEvent(click);
  EXPECT_EQ(boxes.openedUrls.size(), 2u);
  EXPECT_EQ(boxes.openedUrls.back(), server->BaseUrl() + "/sync");
  EXPECT_EQ(MemoLines().back(), "Es \xF6" "ffnet sich kein Browser. Bitte die Download-Seite von "
                                "Hand aufrufen: " + server->BaseUrl() + "/sync");

  // The sync works on after the refused update.
  w.btnSyncClick();
  EXPECT_EQ(MemoLines().back(), "fertig!");
  EXPECT_EQ(IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1), 1);
}

// Where no browser opens, wx would show an English box of its own.
TEST_F(GuiTest, WithoutABrowserTheMemoGivesTheDownloadPageAndNoBoxShows) {
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  const std::string nothing = tmp->Path() + "/leer";
  std::filesystem::create_directories(nothing);
  ScopedEnv path("PATH", nothing.c_str());
  ScopedEnv browser("BROWSER", nullptr);
  RealBoxAnswerer answerer;
  Tfrm_main& w = OpenWindow(/*realBoxes=*/true);
  ASSERT_TRUE(w.PnlUpdate()->IsShown());
  wxHyperlinkEvent click(w.DownloadLink(), w.DownloadLink()->GetId(), w.DownloadLink()->GetURL());
  w.DownloadLink()->GetEventHandler()->ProcessEvent(click);
  wxLog::FlushActive();  // a box of wx's log shows now, not after the test
  PumpFor(1500);
  EXPECT_TRUE(answerer.boxes.empty()) << answerer.boxes.front().message;
  EXPECT_EQ(MemoLines().back(), "Es \xF6" "ffnet sich kein Browser. Bitte die Download-Seite von "
                                "Hand aufrufen: " + server->BaseUrl() + "/sync");
}

TEST_F(GuiTest, AnUpdateOverVerifiedHttpsRunsAndTheToolEnds) {
  TestCertificates certs;
  if (!MakeTestCertificates(tmp->Path(), "", certs)) GTEST_SKIP() << "openssl is not available";
  SyncServer secure(SyncServer::Https{certs.serverCert, certs.serverKey});
  const std::string marker = tmp->File("started.txt");
  WriteFile(secure.WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  WriteFile(secure.WwwFile("sync/mob.exe"), StandInUpdate(marker));
  IniWriteString(folders.ToolIni(), "sync_server", "web", secure.HttpsUrl());
  caCertFile = certs.caCert;
  Tfrm_main& w = OpenWindow();
  ASSERT_TRUE(w.PnlUpdate()->IsShown());
  w.btnUpdateClick();
  EXPECT_TRUE(boxes.openedUrls.empty());
  EXPECT_TRUE(wxPendingDelete.Member(&w));
  frame = nullptr;  // on its way out
  Pump();
  EXPECT_TRUE(MarkAppears(marker, 20));
}

TEST_F(GuiTest, TheUpdateOfferNeverRunsTwiceAtOnce) {
  const std::string marker = tmp->File("started.txt");
  WriteFile(server->WwwFile("sync/version.txt"), "9.0.0.1\r\n");
  WriteFile(server->WwwFile("sync/mob.exe"), StandInUpdate(marker));
  server->SetSlow("/sync/mob.exe", 1.5);
  Tfrm_main& w = OpenWindow();
  const int steps = w.ActivationStepsRun();
  server->RequestLog(true);
  // While the download runs, the user clicks "Ja" again, comes back to the
  // window and tries to close it.
  wxTimer meanwhile;
  bool ran = false;
  meanwhile.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    ran = true;
    EXPECT_TRUE(w.HttpGet().Running());
    w.btnUpdateClick();
    w.FormActivate();
    w.Close();
  });
  meanwhile.StartOnce(400);
  w.btnUpdateClick();
  Pump();
  EXPECT_TRUE(ran);
  const std::string log = server->RequestLog();
  size_t downloads = 0;
  for (size_t at = log.find("\"/sync/mob.exe\""); at != std::string::npos;
       at = log.find("\"/sync/mob.exe\"", at + 1)) {
    ++downloads;
  }
  EXPECT_EQ(downloads, 1u);
  EXPECT_EQ(log.find("/sync/version.txt"), std::string::npos);
  EXPECT_EQ(w.ActivationStepsRun(), steps);
  const std::vector<std::string> memo = MemoLines();
  EXPECT_EQ(std::count(memo.begin(), memo.end(), "Lade Update ... B i t t e   W a r t e n ..."), 1);
  EXPECT_EQ(boxes.infos, std::vector<std::string>{"Bitte warten, das Update wird geladen."});
  EXPECT_FALSE(wxPendingDelete.Member(&w));
  EXPECT_EQ(boxes.openedUrls.size(), 1u);
  EXPECT_FALSE(MarkAppears(marker, 1));
}

}  // namespace
}  // namespace kelvanor::testing
