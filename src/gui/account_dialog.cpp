#include "gui/account_dialog.h"

#include <wx/app.h>
#include <wx/arrstr.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/collpane.h>
#include <wx/dcclient.h>
#include <wx/gdicmn.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/statline.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <algorithm>

#include "server/transfer.h"
#include "gui/main_window.h"
#include "platform/ini_file.h"
#include "server/server_address.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
class YieldPump : public SyncView {
 public:
  void ProcessPendingMessages() override { wxTheApp->Yield(true); }
};

// The check's progress in the dialog: each attempt as it starts, the window
// alive while curl waits.
class CheckProgress : public TransferLog, public IMessagePump {
 public:
  explicit CheckProgress(wxTextCtrl& memo) : memo_(memo) {}
  void LogLine(const std::string& text) override {
    memo_.AppendText((memo_.IsEmpty() ? wxString() : wxString("\n")) + ToWx(text));
    ProcessPendingMessages();
  }
  void Step(const std::string& text) override { LogLine(text); }
  IMessagePump& Pump() const override { return const_cast<CheckProgress&>(*this); }
  void ProcessPendingMessages() override { wxTheApp->Yield(true); }

 private:
  wxTextCtrl& memo_;
};

std::string Joined(const std::vector<std::string>& lines, const std::string& between = "\r") {
  std::string text;
  for (const std::string& line : lines) text += (text.empty() ? "" : between) + line;
  return text;
}

// The rows `line` takes in a field `width` pixels wide that wraps at blanks
// (the controls may also wrap inside an address, which takes no more rows).
int WrappedRows(const wxDC& dc, const wxString& line, int width) {
  const int blank = dc.GetTextExtent(" ").GetWidth();
  int rows = 1;
  int used = 0;
  for (const wxString& word : wxSplit(line, ' ', '\0')) {
    const int w = dc.GetTextExtent(word).GetWidth();
    if (used > 0 && used + blank + w <= width) {
      used += blank + w;
      continue;
    }
    if (used > 0) ++rows;
    used = w;
    // A word wider than the field is broken where it reaches the edge.
    for (; used > width; used -= width) ++rows;
  }
  return rows;
}
}  // namespace

Tfrm_account::Tfrm_account(wxWindow* parent, const Folders& folders, Settings& settings,
                           IMessageBoxes& boxes)
    : wxDialog(parent, wxID_ANY, "Konto-Einstellungen", wxDefaultPosition, wxDefaultSize,
               wxCAPTION | wxFRAME_TOOL_WINDOW),
      folders_(folders),
      settings_(settings),
      boxes_(boxes) {
  // A new office is told in one sentence what goes where; the rest of the
  // dialog explains itself from there.
  lblIntro = new wxStaticText(
      this, wxID_ANY,
      ToWx(W1252("Tragen Sie den Kontonamen und den Server ein, die Sie mit dem Zugang zur "
                 "Synchronisation erhalten haben; \"Verbindung prüfen\" zeigt, ob beides "
                 "stimmt.")));
  lblIntro->Wrap(360);
  auto* grid = new wxFlexGridSizer(2, wxSize(8, 2));
  grid->AddGrowableCol(1);
  auto addRow = [&](const wxString& caption, wxTextCtrl*& edit, const wxString& example) {
    grid->Add(new wxStaticText(this, wxID_ANY, caption, wxDefaultPosition, wxSize(60, -1),
                               wxALIGN_RIGHT | wxST_NO_AUTORESIZE),
              0, wxALIGN_CENTER_VERTICAL);
    edit = new wxTextCtrl(this, wxID_ANY);
    grid->Add(edit, 1, wxEXPAND);
    grid->AddSpacer(0);
    auto* hint = new wxStaticText(this, wxID_ANY, "Bsp.: " + example);
    hint->SetForegroundColour(wxColour(128, 128, 128));
    grid->Add(hint, 0, wxBOTTOM, 4);
  };
  addRow("Name", edit_name, "hufschmied-mueller");
  addRow("Server", edit_server, "sync.kelvanor.de");
  grid->AddSpacer(0);
  lblAddresses = new wxStaticText(this, wxID_ANY, "");
  lblAddresses->SetForegroundColour(wxColour(128, 128, 128));
  grid->Add(lblAddresses, 0, wxBOTTOM, 4);

  // What an office needs only with the support on the phone stays folded
  // away: the detail log, the counter reset and deleting the server's data.
  paneAdvanced = new wxCollapsiblePane(this, wxID_ANY, "Erweitert");
  wxWindow* advanced = paneAdvanced->GetPane();
  chkDebug = new wxCheckBox(advanced, wxID_ANY, "Debug");
  chkDebug->SetValue(false);

  btnCheck = new wxButton(this, wxID_ANY, wxString::FromUTF8("Verbindung prüfen"));
  btnEncrypt = new wxButton(this, wxID_ANY, wxString::FromUTF8("Verschlüsselt übertragen"));
  btnEncrypt->Hide();
  memoCheck = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(560, 180),
                             wxTE_MULTILINE | wxTE_READONLY);
  memoCheck->Hide();
  auto* checkButtons = new wxBoxSizer(wxHORIZONTAL);
  checkButtons->Add(btnCheck, 0, wxRIGHT, 8);
  checkButtons->Add(btnEncrypt, 0);

  btn_ok = new wxButton(this, wxID_OK, "OK");
  btn_ok->SetDefault();
  btn_abbrechen = new wxButton(this, wxID_CANCEL, "Abbrechen");
  btnResetSyncCounter =
      new wxButton(advanced, wxID_ANY, wxString::FromUTF8("Sync-Z\u00e4hler = 0"));
  btnResetSyncCounter->DisableFocusFromKeyboard();
  Button1 = new wxButton(advanced, wxID_ANY, wxString::FromUTF8("Mobildaten l\u00f6schen"));
  auto* advancedRows = new wxBoxSizer(wxVERTICAL);
  advancedRows->Add(chkDebug, 0, wxBOTTOM, 6);
  auto* serverButtons = new wxBoxSizer(wxHORIZONTAL);
  serverButtons->Add(btnResetSyncCounter, 0, wxRIGHT, 8);
  serverButtons->Add(Button1, 0);
  advancedRows->Add(serverButtons, 0);
  advanced->SetSizer(advancedRows);

  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->AddStretchSpacer();
  buttons->Add(btn_ok, 0, wxRIGHT, 8);
  buttons->Add(btn_abbrechen, 0);

  auto* root = new wxBoxSizer(wxVERTICAL);
  root->Add(lblIntro, 0, wxLEFT | wxRIGHT | wxTOP, 8);
  root->Add(grid, 0, wxEXPAND | wxALL, 8);
  root->Add(checkButtons, 0, wxLEFT | wxRIGHT | wxBOTTOM, 8);
  root->Add(memoCheck, 1, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  root->Add(paneAdvanced, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, 8);
  root->Add(new wxStaticLine(this), 0, wxEXPAND | wxLEFT | wxRIGHT, 8);
  root->Add(buttons, 0, wxEXPAND | wxALL, 8);
  SetSizer(root);
  // Unfolded, the dialog grows so no button is cut; folded again it keeps
  // its size, as a dialog the user may have widened should.
  paneAdvanced->Bind(wxEVT_COLLAPSIBLEPANE_CHANGED,
                     [this](wxCollapsiblePaneEvent&) { GrowToFit(); });

  edit_name->SetValue(ToWx(IniReadString(folders_.ToolIni(), "general", "name", "")));
  edit_server->SetValue(ToWx(IniReadString(folders_.ToolIni(), "general", "server", "")));
  ShowAddresses();
  // 359 x 207 as designed; larger fonts and the address lines get what they
  // need, no button is cut.
  const wxSize needed = root->GetMinSize();
  SetClientSize(std::max(359, needed.GetWidth()), std::max(207, needed.GetHeight()));
  Centre(wxBOTH);
  edit_server->Bind(wxEVT_TEXT, [this](wxCommandEvent&) {
    // What a check found offered belongs to the server it checked.
    if (offered_) {
      offered_.reset();
      btnEncrypt->Hide();
    }
    ShowAddresses();
  });

  btn_ok->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_okClick(); });
  btn_abbrechen->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_abbrechenClick(); });
  btnResetSyncCounter->Bind(wxEVT_BUTTON,
                            [this](wxCommandEvent&) { btnResetSyncCounterClick(); });
  Button1->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { Button1Click(); });
  btnCheck->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnCheckClick(); });
  btnEncrypt->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnEncryptClick(); });
  // The check lets the window's events run: closing meanwhile would end
  // the dialog under it.
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent& event) {
    if (checking_ && event.CanVeto()) {
      event.Veto();
      return;
    }
    event.Skip();
  });
}

void Tfrm_account::ShowAddresses() {
  const std::string server = FromWx(edit_server->GetValue());
  if (!CheckServerName(server).IsOk()) {
    lblAddresses->SetLabel(ToWx(W1252("Kein gültiger Servername")));
    return;
  }
  const ResolvedServerAddresses resolved = ResolveServerAddresses(folders_.ToolIni(), server);
  auto line = [](const char* what, const std::string& address, AddressSource source) {
    // A protected folder's password stays in Kelvanor.ini.
    std::string text = std::string(what) + AddressWithoutLogin(address);
    if (source == AddressSource::kSyncServerSection) text += "  (Kelvanor.ini, [sync_server])";
    if (source == AddressSource::kBuiltIn) text += "  (Voreinstellung)";
    return text;
  };
  lblAddresses->SetLabel(ToWxMessage(
      "In Verwendung:\r" + line("Skripte: ", resolved.addresses.base, resolved.base) + "\r" +
      line("Updates: ", resolved.addresses.web, resolved.web) + "\r" +
      line("Upload: ", resolved.addresses.ftp, resolved.ftp)));
  // A longer name typed in grows the dialog, so every address shows in full.
  GrowToFit();
}

void Tfrm_account::GrowToFit() {
  const wxSize needed = GetSizer()->GetMinSize();
  const wxSize now = GetClientSize();
  if (needed.GetWidth() > now.GetWidth() || needed.GetHeight() > now.GetHeight()) {
    SetClientSize(std::max(needed.GetWidth(), now.GetWidth()),
                  std::max(needed.GetHeight(), now.GetHeight()));
  }
  Layout();
}

void Tfrm_account::FitCheckLines(const std::vector<std::string>& lines) {
  // Every result line in view without scrolling: the field grows to the rows
  // its lines wrap to, the dialog with it, up to half the screen's height.
  wxClientDC dc(memoCheck);
  dc.SetFont(memoCheck->GetFont());
  const int width = memoCheck->GetClientSize().GetWidth() -
                    wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, memoCheck) - 12;
  if (width <= 0) return;
  int rows = 1;  // one to spare: the controls' own margins and line spacing
  for (const std::string& line : lines) rows += WrappedRows(dc, ToWx(line), width);
  const int lineHeight = dc.GetTextExtent("Ag").GetHeight() + 1;
  const int wanted = std::min(rows * lineHeight + 12, wxGetClientDisplayRect().GetHeight() / 2);
  const wxSize least = memoCheck->GetMinSize();
  if (wanted <= least.GetHeight()) return;
  memoCheck->SetMinSize(wxSize(least.GetWidth(), wanted));
  GrowToFit();
  // Grown past the screen's edge: back into view.
  if (!wxGetClientDisplayRect().Contains(GetScreenRect())) CentreOnScreen();
}

std::string Tfrm_account::StoredServer() const {
  return IniReadString(folders_.ToolIni(), "general", "server", "");
}

void Tfrm_account::SetButtonsEnabled(bool enabled) {
  for (wxButton* button : {btn_ok, btn_abbrechen, btnResetSyncCounter, Button1, btnCheck, btnEncrypt}) {
    button->Enable(enabled);
  }
}

void Tfrm_account::ShowCheckLines(const std::vector<std::string>& lines) {
  memoCheck->SetValue(ToWxMessage(Joined(lines)));
  FitCheckLines(lines);
  memoCheck->ShowPosition(0);
  // The window's log keeps them too, under the lines of the syncs.
  if (auto* view = dynamic_cast<SyncView*>(GetParent())) {
    for (const std::string& line : lines) view->Log(line);
  }
}

std::optional<ConnectionReport> Tfrm_account::RunCheck() {
  const std::string name = FromWx(edit_name->GetValue());
  const std::string server = FromWx(edit_server->GetValue());
  const Outcome badServer = CheckServerName(server);
  if (!badServer.IsOk()) {
    boxes_.Error(this, badServer.Message());
    return std::nullopt;
  }
  const ServerAddresses servers = ResolveServerAddresses(folders_.ToolIni(), server).addresses;
  offered_.reset();
  btnEncrypt->Hide();
  memoCheck->Clear();
  if (!memoCheck->IsShown()) {
    memoCheck->Show();
  }
  GrowToFit();
  SetButtonsEnabled(false);
  checking_ = true;
  std::optional<ConnectionReport> report;
  CheckProgress progress(*memoCheck);
  try {
    report = CheckConnection(servers, name, progress);
  } catch (const std::exception& e) {
    checking_ = false;
    SetButtonsEnabled(true);
    boxes_.Error(this, e.what());
    return std::nullopt;
  }
  checking_ = false;
  SetButtonsEnabled(true);
  std::vector<std::string> lines = report->Lines();
  offered_ = OfferedEncryption(*report, servers);
  if (offered_ && Trim(server) != Trim(StoredServer())) {
    // The switch writes addresses of this server into [sync_server]; while
    // [general] still names another one, a Cancel would leave the two apart.
    // OK stores the name and offers the switch with it.
    lines.push_back(W1252("Der Server bietet Verschlüsselung an. Mit OK wird er gespeichert; "
                          "dabei wird gefragt, ob verschlüsselt übertragen werden soll."));
  } else if (offered_) {
    lines.push_back(W1252("\"Verschlüsselt übertragen\" trägt in Kelvanor.ini ein: ") +
                    Joined(SwitchSettingLines(*offered_), ", "));
    btnEncrypt->Show();
    Layout();
  }
  ShowCheckLines(lines);
  return report;
}

bool Tfrm_account::SwitchEncryption(const EncryptionSwitch& change) {
  SetButtonsEnabled(false);
  checking_ = true;
  memoCheck->Clear();
  CheckProgress progress(*memoCheck);
  SwitchOutcome outcome;
  try {
    outcome = SwitchToEncryption(folders_, change, FromWx(edit_name->GetValue()), progress);
  } catch (const std::exception& e) {
    checking_ = false;
    SetButtonsEnabled(true);
    boxes_.Error(this, e.what());
    return false;
  }
  checking_ = false;
  SetButtonsEnabled(true);
  ShowCheckLines(outcome.lines);
  if (outcome.switched) {
    // The next sync goes encrypted at once; the lines above say what the
    // dialog now takes from [sync_server].
    settings_.servers = ResolveServerAddresses(folders_.ToolIni(), settings_.server).addresses;
    offered_.reset();
    btnEncrypt->Hide();
    ShowAddresses();
  }
  return outcome.switched;
}

void Tfrm_account::btnCheckClick() {
  if (!checking_) RunCheck();
}

void Tfrm_account::btnEncryptClick() {
  if (checking_ || !offered_ || !btnEncrypt->IsShown()) return;
  const EncryptionSwitch change = *offered_;
  SwitchEncryption(change);
}

void Tfrm_account::btn_okClick() {
  // FromWx writes "?" for what Windows-1252 lacks; the user is told what he typed.
  const std::string lost = FirstCharacterCp1252Lacks(std::string(edit_name->GetValue().utf8_str()));
  if (!lost.empty()) {
    boxes_.Error(this,
                 "Der Kontoname darf das Zeichen " + lost +
                     W1252(" nicht enthalten: Kelvanor kennt nur die Zeichen des westeuropäischen "
                           "Zeichensatzes Windows-1252."));
    return;
  }
  const std::string name = FromWx(edit_name->GetValue());
  const std::string server = FromWx(edit_server->GetValue());
  const Outcome problem = CheckAccountName(name);
  if (!problem.IsOk()) {
    boxes_.Error(this, problem.Message());
    return;
  }
  const Outcome badServer = CheckServerName(server);
  if (!badServer.IsOk()) {
    boxes_.Error(this, badServer.Message());
    return;
  }
  // A new server is tried before it is stored: a typo shows now, not as a
  // failed first sync halfway through.
  if (!Trim(server).empty() && Trim(server) != Trim(StoredServer())) {
    if (checking_) return;
    const std::optional<ConnectionReport> report = RunCheck();
    if (!report) return;
    if (!report->AllReached()) {
      std::vector<std::string> failed;
      for (const AddressCheck& check : report->checks) {
        if (!check.reached) failed.push_back(check.Line());
      }
      if (!boxes_.YesNo(this,
                        "Unter dem Server \"" + Trim(server) +
                            W1252("\" antwortet nicht alles, was eine Synchronisation braucht:\r") +
                            Joined(failed) + "\r\rDen Server trotzdem speichern?",
                        IMessageBoxes::Preselected::kNo)) {
        return;
      }
    } else if (offered_) {
      const EncryptionSwitch change = *offered_;
      if (boxes_.YesNo(this,
                       W1252("Der Server bietet eine verschlüsselte Übertragung an; bisher gehen "
                             "die Daten der Praxis unverschlüsselt zu ihm.\r\rVerschlüsselt "
                             "übertragen? (In Kelvanor.ini wird eingetragen: ") +
                           Joined(SwitchSettingLines(change), ", ") + ")") &&
          !SwitchEncryption(change)) {
        // Said in the dialog; the user decides again with the lines in view.
        return;
      }
    }
  }
  try {
    WriteAccountSettings(folders_, name, server);
  } catch (const std::exception& e) {
    boxes_.Error(this, e.what());
    return;
  }
  settings_.name = name;
  settings_.server = server;
  // The next transfer goes to the server just named.
  settings_.servers = ResolveServerAddresses(folders_.ToolIni(), server).addresses;
  settings_.DebugLog = chkDebug->GetValue();
  if (IsModal()) {
    EndModal(wxID_OK);
  } else {
    Hide();
  }
}

void Tfrm_account::btn_abbrechenClick() {
  if (IsModal()) {
    EndModal(wxID_CANCEL);
  } else {
    Hide();
  }
}

void Tfrm_account::btnResetSyncCounterClick() {
  settings_.SyncCount = 0;
  try {
    WriteSyncCounter(folders_, 0);
  } catch (const std::exception& e) {
    boxes_.Error(this, e.what());
  }
}

void Tfrm_account::Button1Click() {
  // The name held in the settings, not what the edit shows right now. What
  // goes is what the mobile sent and nobody imported yet: one click must not
  // do that, and Return alone must not either.
  const std::string& name = settings_.name;
  if (!boxes_.YesNo(this,
                    "Alle noch nicht importierten Mobildaten von Konto " + name +
                        W1252(" auf dem Server löschen?"),
                    IMessageBoxes::Preselected::kNo)) {
    return;
  }
  YieldPump pump;
  try {
    // Deleted only when delmob.php itself answered, and not with an error.
    const bool noDetailLog = false;
    Logger log(pump, noDetailLog);
    const Outcome deleted = DeleteMobileChanges(settings_, log);
    if (!deleted.IsOk()) {
      boxes_.Error(this, deleted.Message());
      return;
    }
  } catch (const std::exception& e) {
    boxes_.Error(this, e.what());
    return;
  }
  // The import journal stays: a server that only says it deleted would send
  // the lines again, and the next download tells which are gone.
  boxes_.Info(this, "Die noch nicht importierten Mobildaten von Konto " + name +
                        W1252(" wurden auf dem Server gelöscht."));
}

}  // namespace kelvanor
