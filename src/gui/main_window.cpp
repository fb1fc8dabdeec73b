#include "gui/main_window.h"

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcscreen.h>
#include <wx/display.h>
#include <wx/hyperlink.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/panel.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/splitter.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/time.h>
#include <wx/treectrl.h>
#include <wx/utils.h>

#include <algorithm>
#include <memory>
#include <optional>

#include "server_checks/connection_check.h"
#include "server_checks/version_check.h"
#include "gui/account_dialog.h"
#include "gui/progress_bar.h"
#include "gui/history_dialog.h"
#include "gui/wx_dispatcher.h"
#include "kept/office_lists.h"
#include "net/http_get.h"
#include "sync/logger.h"
#include "sync/undo_import.h"
#include "platform/environment.h"
#include "platform/ini_file.h"
#include "platform/file_system.h"
#include "util/daynumber.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

wxString ToWx(const std::string& ansi) { return wxString::FromUTF8(Cp1252ToUtf8(ansi)); }

wxString ToWxMessage(const std::string& ansi) {
  // Message texts break lines with carriage returns alone; GTK wants line feeds.
  std::string text = ansi;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') {
        text.erase(i, 1);
      } else {
        text[i] = '\n';
      }
    }
  }
  return ToWx(text);
}

std::string FromWx(const wxString& text) { return Utf8ToCp1252(std::string(text.utf8_str())); }

wxMessageDialog* NewMessageBox(wxWindow* parent, const std::string& text, long style) {
  auto* box = new wxMessageDialog(parent, ToWxMessage(text), "Kelvanor", style | wxCENTRE);
  // GTK would label the buttons in the desktop's language ("No", "Yes" under
  // the C locale); the tool speaks German throughout.
  box->SetYesNoCancelLabels("Ja", "Nein", "Abbrechen");
  box->SetOKCancelLabels("OK", "Abbrechen");
  return box;
}

int ShowMessageBox(wxWindow* parent, const std::string& text, long style) {
  const std::unique_ptr<wxMessageDialog> box(NewMessageBox(parent, text, style));
  return box->ShowModal();
}

namespace {

// The import question's label: the margins around it and its two buttons,
// and the narrowest column it is ever wrapped to.
constexpr int kQuestionMargins = 2 * 8 + 4 * 6;
constexpr int kNarrowestQuestion = 80;

constexpr int kDefaultClientWidth = 800;
constexpr int kDefaultClientHeight = 600;
// Where Kelvanor.ini keeps the window's place and size, per user.
constexpr const char* kWindowSection = "window";

const wxColour kGrey(128, 128, 128);

class RealMessageBoxes : public IMessageBoxes {
 public:
  void Error(wxWindow* parent, const std::string& text) override {
    ShowMessageBox(parent, text, wxOK | wxICON_ERROR);
  }
  void Info(wxWindow* parent, const std::string& text) override {
    ShowMessageBox(parent, text, wxOK | wxICON_INFORMATION);
  }
  bool YesNo(wxWindow* parent, const std::string& text, Preselected preselected) override {
    const long answer = preselected == Preselected::kNo ? wxNO_DEFAULT : wxYES_DEFAULT;
    return ShowMessageBox(parent, text, wxYES_NO | answer | wxICON_INFORMATION) == wxID_YES;
  }
};

wxStaticText* WhiteLabel(wxWindow* parent, const wxString& text, long style = 0) {
  auto* label = new wxStaticText(parent, wxID_ANY, text, wxDefaultPosition, wxDefaultSize, style);
  label->SetForegroundColour(*wxWHITE);
  return label;
}

// Lines of at most `width` pixels in the label's font. The import question
// lists its files as "a.txt (2 Sätze), b.txt (1 Satz)": a line ends after a
// comma where one fits, at a blank only inside an entry too long for a line.
// Nothing else of the text changes: a break follows the comma or takes the
// blank's place.
wxString WrapQuestion(const wxWindow& label, const wxString& text, int width) {
  auto fits = [&](const wxString& line) {
    wxString shown = line;
    shown.Trim(true);
    return label.GetTextExtent(shown).GetWidth() <= width;
  };
  // Breaks `piece` at blanks into `lines`, the last part left in `line`.
  auto wrapAtBlanks = [&](const wxString& piece, wxString& line, wxArrayString& lines) {
    wxString word;
    for (const wxUniChar c : piece) {
      word += c;
      if (c != ' ') continue;
      if (!line.empty() && !fits(line + word)) {
        lines.Add(line.Trim(true));
        line.clear();
      }
      line += word;
      word.clear();
    }
    if (!line.empty() && !word.empty() && !fits(line + word)) {
      lines.Add(line.Trim(true));
      line.clear();
    }
    line += word;
  };
  wxArrayString out;
  for (const wxString& paragraph : wxSplit(text, '\n', '\0')) {
    wxArrayString lines;
    wxString line;
    wxString piece;
    for (std::size_t i = 0; i <= paragraph.length(); ++i) {
      if (i < paragraph.length()) {
        piece += paragraph[i];
        if (paragraph[i] != ',') continue;
      }
      if (fits(line + piece)) {
        line += piece;
      } else {
        if (!line.empty()) lines.Add(line.Trim(true));
        line.clear();
        // A new line does not start with the blank after the comma.
        if (!lines.empty()) piece.Trim(false);
        if (fits(piece)) {
          line = piece;
        } else {
          wrapAtBlanks(piece, line, lines);
        }
      }
      piece.clear();
    }
    lines.Add(line);
    for (const wxString& l : lines) out.Add(l);
  }
  return wxJoin(out, '\n', '\0');
}

// Where no browser opens, the user still learns where the update is.
std::string NoBrowserText(const std::string& page) {
  return W1252("Es öffnet sich kein Browser. Bitte die Download-Seite von Hand aufrufen: ") + page;
}

// The "?" box: what the tool does, and where the files it reads and writes are.
std::string HelpText(const std::string& database, const std::string& localFolder,
                     const std::string& settingsFile) {
  return W1252(
             "Kelvanor gleicht die Praxisdaten von dasTessavor mit dem Mobilgerät ab. "
             "Ein Klick auf \"Sync\" holt, was auf dem Mobilgerät neu ist, vom Server, "
             "zeigt es zur Übernahme an und überträgt danach den Stand der Praxis zum "
             "Mobilgerät.\r\rPraxis-Datenbank: ") +
         database + W1252("\rDateien für das Mobilgerät und Sicherungen: ") + localFolder +
         "\rEinstellungen: " + settingsFile;
}

// The window's caption: version and a credit line with the current year.
wxString Caption() {
  return ToWx("S Y N C  " + ExeVersionString() +
              W1252("  -  Kelvanor, Mobil-Abgleich für dasTessavor (c) ") +
              std::to_string(NowCivil().year));
}

}  // namespace

void IMessageBoxes::AccountDialog(wxWindow* parent, const Folders& folders, Settings& settings) {
  Tfrm_account dialog(parent, folders, settings, *this);
  dialog.ShowModal();
}

bool IMessageBoxes::OfferToOpen(wxWindow* parent, const std::string& text, bool error) {
  const std::unique_ptr<wxMessageDialog> box(NewMessageBox(
      parent, text, wxYES_NO | wxNO_DEFAULT | (error ? wxICON_ERROR : wxICON_INFORMATION)));
  box->SetYesNoLabels(ToWx(W1252("Öffnen")), "OK");
  return box->ShowModal() == wxID_YES;
}

bool IMessageBoxes::OpenPath(const std::string& path) {
  const wxLogNull quiet;
  return wxLaunchDefaultApplication(ToWx(path));
}

void IMessageBoxes::HistoryDialog(wxWindow* parent, TDBase* db, const Folders& folders,
                                  const Settings& settings, HistoryActions& actions) {
  Tfrm_history dialog(parent, db, folders, settings, *this, actions);
  dialog.ShowModal();
}

bool IMessageBoxes::OpenInBrowser(const std::string& url) {
  // wx reports a browser that does not start in an English box of its own;
  // the window says it in the memo instead, with the address.
  const wxLogNull quiet;
  return wxLaunchDefaultBrowser(ToWx(url));
}

Tfrm_main::Tfrm_main(const Folders& folders, IMessageBoxes* boxes)
    : wxFrame(nullptr, wxID_ANY, Caption()), folders_(folders) {
  if (boxes == nullptr) {
    ownBoxes_ = std::make_unique<RealMessageBoxes>();
    boxes_ = ownBoxes_.get();
  } else {
    boxes_ = boxes;
  }
  dispatcher_ = std::make_unique<WxDispatcher>(this);
  HTTPGet1 = std::make_unique<THTTPGet>(*dispatcher_);
  HTTPGet1->AcceptTypes = "*/*";
  HTTPGet1->UseCache = false;
  HTTPGet1->WaitThread = false;
  BuildControls();
  FormCreate();
  Bind(wxEVT_ACTIVATE, &Tfrm_main::OnActivate, this);
  Bind(wxEVT_CLOSE_WINDOW, &Tfrm_main::OnClose, this);
}

Tfrm_main::~Tfrm_main() {
  // The worker of a running download must not report to a window that is gone.
  HTTPGet1.reset();
  driver_.reset();
  if (db_) db_->Close();
}

wxPanel* Tfrm_main::MakeGreyPanel(wxWindow* parent) {
  auto* panel = new wxPanel(parent, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  panel->SetBackgroundColour(kGrey);
  return panel;
}

void Tfrm_main::BuildControls() {
  auto* client = new wxPanel(this, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  rootSizer_ = new wxBoxSizer(wxVERTICAL);

  // Top: progress labels and bars of the export, the account label at the right.
  pnlTop = new wxPanel(client, wxID_ANY, wxDefaultPosition, wxSize(-1, 57), wxBORDER_NONE);
  pnlTop->SetMinSize(wxSize(-1, 57));
  auto* topSizer = new wxBoxSizer(wxHORIZONTAL);
  auto* labels = new wxBoxSizer(wxVERTICAL);
  Label1_ = new wxStaticText(pnlTop, wxID_ANY, "", wxDefaultPosition, wxSize(110, -1),
                             wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
  Label2_ = new wxStaticText(pnlTop, wxID_ANY, "", wxDefaultPosition, wxSize(110, -1),
                             wxALIGN_RIGHT | wxST_NO_AUTORESIZE);
  labels->Add(Label1_, 1, wxEXPAND | wxALL, 3);
  labels->Add(Label2_, 1, wxEXPAND | wxALL, 3);
  auto* bars = new wxBoxSizer(wxVERTICAL);
  pbPut = new ProgressBar(pnlTop, 100);
  pbGet = new ProgressBar(pnlTop, 100);
  bars->Add(pbPut, 1, wxEXPAND | wxALL, 3);
  bars->Add(pbGet, 1, wxEXPAND | wxALL, 3);
  // A long account name beside them must not squeeze the bars to nothing.
  bars->SetMinSize(wxSize(120, -1));
  // As wide as its text: the account name and the counter both show.
  lbl_SvrName = new wxStaticText(pnlTop, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                 wxALIGN_CENTRE_HORIZONTAL);
  // Under the account, small: whether the practice's data travels encrypted
  // (the tooltip says over which addresses).
  lbl_Encryption = new wxStaticText(pnlTop, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                    wxALIGN_CENTRE_HORIZONTAL);
  lbl_Encryption->SetFont(lbl_Encryption->GetFont().Smaller());
  auto* account = new wxBoxSizer(wxVERTICAL);
  account->Add(lbl_SvrName, 0, wxALIGN_CENTER_HORIZONTAL);
  account->Add(lbl_Encryption, 0, wxALIGN_CENTER_HORIZONTAL | wxTOP, 2);
  topSizer->Add(labels, 0, wxEXPAND);
  topSizer->Add(bars, 1, wxEXPAND);
  topSizer->Add(account, 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  pnlTop->SetSizer(topSizer);
  rootSizer_->Add(pnlTop, 0, wxEXPAND);

  // Middle: the log above, the received-data tree below, resizable.
  Splitter1 = new wxSplitterWindow(client, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                                   wxSP_LIVE_UPDATE | wxSP_3DSASH);
  Splitter1->SetMinimumPaneSize(30);
  pnl2 = new wxPanel(Splitter1, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  auto* logSizer = new wxBoxSizer(wxHORIZONTAL);
  Panel1 = new wxPanel(pnl2, wxID_ANY, wxDefaultPosition, wxSize(113, -1), wxBORDER_NONE);
  new wxStaticText(Panel1, wxID_ANY, "", wxPoint(6, 6));
  DisplayMemo_ = new wxTextCtrl(pnl2, wxID_ANY, "", wxDefaultPosition, wxDefaultSize,
                                wxTE_MULTILINE | wxTE_READONLY | wxVSCROLL);
  logSizer->Add(Panel1, 0, wxEXPAND);
  logSizer->Add(DisplayMemo_, 1, wxEXPAND);
  pnl2->SetSizer(logSizer);

  pnl3 = new wxPanel(Splitter1, wxID_ANY, wxDefaultPosition, wxDefaultSize, wxBORDER_NONE);
  auto* treeSizer = new wxBoxSizer(wxHORIZONTAL);
  Panel2 = new wxPanel(pnl3, wxID_ANY, wxDefaultPosition, wxSize(113, -1), wxBORDER_NONE);
  new wxStaticText(Panel2, wxID_ANY, "", wxPoint(6, 6));
  tv = new wxTreeCtrl(pnl3, wxID_ANY, wxDefaultPosition, wxDefaultSize,
                      wxTR_DEFAULT_STYLE | wxTR_HAS_BUTTONS);
  treeSizer->Add(Panel2, 0, wxEXPAND);
  treeSizer->Add(tv, 1, wxEXPAND);
  pnl3->SetSizer(treeSizer);
  Splitter1->SplitHorizontally(pnl2, pnl3, 145);
  rootSizer_->Add(Splitter1, 1, wxEXPAND);

  // Bottom: the sync button and the small buttons.
  pnlBottom = MakeGreyPanel(client);
  auto* bottomSizer = new wxBoxSizer(wxHORIZONTAL);
  auto* syncCaption = WhiteLabel(pnlBottom, "S Y N C");
  wxFont bold = syncCaption->GetFont();
  bold.SetWeight(wxFONTWEIGHT_BOLD);
  bold.SetPointSize(bold.GetPointSize() + 4);
  syncCaption->SetFont(bold);
  btnSync = new wxButton(pnlBottom, wxID_ANY, "Sync", wxDefaultPosition, wxSize(220, 44));
  // In a narrow window the sync button gives up width before any small
  // button is pushed out of sight.
  btnSync->SetMinSize(wxSize(110, 44));
  btnSync->SetMaxSize(wxSize(220, 44));
  btnSync->SetToolTip("synchronize mobile data (local <-> server)");
  pnlRight = MakeGreyPanel(pnlBottom);
  auto* rightSizer = new wxBoxSizer(wxHORIZONTAL);
  btn_settings = new wxButton(pnlRight, wxID_ANY, "Konto ...");
  btn_history = new wxButton(pnlRight, wxID_ANY, "Verlauf ...");
  btn_help = new wxButton(pnlRight, wxID_ANY, "?", wxDefaultPosition, wxDefaultSize, wxBU_EXACTFIT);
  btn_exit = new wxButton(pnlRight, wxID_ANY, "Schliessen");
  // Narrow, but as high as its neighbours.
  btn_help->SetMinSize(wxSize(btn_settings->GetBestSize().GetHeight(), -1));
  rightSizer->Add(btn_settings, 0, wxALL, 3);
  rightSizer->Add(btn_history, 0, wxALL, 3);
  rightSizer->Add(btn_help, 0, wxEXPAND | wxALL, 3);
  rightSizer->Add(btn_exit, 0, wxALL, 3);
  pnlRight->SetSizer(rightSizer);
  bottomSizer->Add(syncCaption, 0, wxALIGN_CENTER_VERTICAL | wxALL, 10);
  bottomSizer->Add(btnSync, 1000, wxALIGN_CENTER_VERTICAL | wxALL, 8);
  bottomSizer->AddStretchSpacer(1);
  bottomSizer->Add(pnlRight, 0, wxALIGN_CENTER_VERTICAL | wxALL, 4);
  pnlBottom->SetSizer(bottomSizer);
  rootSizer_->Add(pnlBottom, 0, wxEXPAND);

  // The import question, shown in place of the bottom panel.
  pnlImport = MakeGreyPanel(client);
  auto* importSizer = new wxBoxSizer(wxHORIZONTAL);
  Label5_ = WhiteLabel(pnlImport, "");
  btn_yes = new wxButton(pnlImport, wxID_ANY, "Ja");
  btn_no = new wxButton(pnlImport, wxID_ANY, "Nein");
  importSizer->Add(Label5_, 1, wxEXPAND | wxALL, 8);
  importSizer->Add(btn_yes, 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  importSizer->Add(btn_no, 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  pnlImport->SetSizer(importSizer);
  rootSizer_->Add(pnlImport, 0, wxEXPAND);

  // The update offer, shown in place of the bottom panel.
  pnlUpdate = MakeGreyPanel(client);
  auto* updateSizer = new wxBoxSizer(wxHORIZONTAL);
  auto* offerSizer = new wxBoxSizer(wxVERTICAL);
  Label3_ = WhiteLabel(pnlUpdate, "");
  HTMLabel1 = new wxHyperlinkCtrl(pnlUpdate, wxID_ANY, "Download-Seite", ToWx(DownloadPage()));
  offerSizer->Add(Label3_, 0, wxBOTTOM, 4);
  offerSizer->Add(HTMLabel1, 0);
  btnUpdate = new wxButton(pnlUpdate, wxID_ANY, "Ja");
  btnLater = new wxButton(pnlUpdate, wxID_ANY, ToWx(W1252("Später")));
  updateSizer->Add(offerSizer, 1, wxALIGN_CENTER_VERTICAL | wxALL, 8);
  updateSizer->Add(btnUpdate, 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  updateSizer->Add(btnLater, 0, wxALIGN_CENTER_VERTICAL | wxALL, 6);
  pnlUpdate->SetSizer(updateSizer);
  rootSizer_->Add(pnlUpdate, 0, wxEXPAND);

  client->SetSizer(rootSizer_);

  btnSync->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnSyncClick(); });
  btn_yes->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_yesClick(); });
  btn_no->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_noClick(); });
  btn_help->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_helpClick(); });
  btn_exit->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_exitClick(); });
  btn_settings->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_settingsClick(); });
  btn_history->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btn_historyClick(); });
  btnUpdate->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnUpdateClick(); });
  btnLater->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnLaterClick(); });
  // The log keeps the height the user dragged it to; a window made smaller
  // takes it from the log only for as long as it is small.
  Splitter1->Bind(wxEVT_SPLITTER_SASH_POS_CHANGING,
                  [this](wxSplitterEvent& event) { logHeight_ = event.GetSashPosition(); });
  Splitter1->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    CallAfter([this] { RestoreLogHeight(); });
  });
  // Wine, when the window changes size, leaves parts of the panels the
  // layout moved showing what was drawn at that place before (white, or the
  // colour of the pane beside) and counts them as drawn: the bottom panel
  // shows half white, the right edge stays empty. Drawn anew once the layout
  // has settled (the log's height and the question's wrap come after it),
  // the window shows what it holds.
  Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    repaintWhenSettled_ = true;
    // The frame's size may be known only now (see GrowToMinimumSize).
    CallAfter([this] { GrowToMinimumSize(); });
  });
  Bind(wxEVT_IDLE, [this](wxIdleEvent& event) {
    event.Skip();
    if (!repaintWhenSettled_) return;
    repaintWhenSettled_ = false;
    Refresh();
  });
  HTMLabel1->Bind(wxEVT_HYPERLINK, [this](wxHyperlinkEvent&) { OpenDownloadPage(); });
  lbl_SvrName->Bind(wxEVT_LEFT_DOWN, [](wxMouseEvent&) {});
  // The question wraps at the width the label really has, anew when it changes.
  pnlImport->Bind(wxEVT_SIZE, [this](wxSizeEvent& event) {
    event.Skip();
    if (pnlImport->IsShown()) CallAfter([this] { WrapImportQuestion(); });
  });
}

void Tfrm_main::FormCreate() {
  // Client area 800 x 600 at 96 dpi, scaled by the screen's dpi: room for the
  // import question and a dozen lines of what it asks about, together.
  const int dpi = wxScreenDC().GetPPI().GetHeight() > 0 ? wxScreenDC().GetPPI().GetHeight() : 96;
  SetClientSize(kDefaultClientWidth * dpi / 96, kDefaultClientHeight * dpi / 96);
  Centre();
  RestorePlacement();

  static_cast<wxStaticText*>(Panel1->GetChildren().front())->SetLabel("Init / Transfer");
  static_cast<wxStaticText*>(Panel2->GetChildren().front())->SetLabel("Inhalte");
  pnlImport->Hide();
  pnlUpdate->Hide();
  Label1_->SetLabel("");
  Label2_->SetLabel("");

  dbLocation_ = ReadHostDatabaseLocation(folders_.HostIni(), folders_.AppDataFolder);
  try {
    db_ = std::make_unique<TDBase>(dbLocation_.Path());
  } catch (const std::exception& e) {
    db_.reset();
    // On a PC where dasTessavor never ran, the bare message helps nobody.
    noDatabase_ = e.what() + DatabaseNotFoundHint(folders_, dbLocation_);
    boxes_->Error(this, noDatabase_);
  }
  driver_ = std::make_unique<SyncDriver>(*this, folders_, settings_, db_.get());
  Layout();
  // The hidden panels give their room back only when the client panel lays
  // itself out again: its size did not change, so Windows sends it no size
  // event that would.
  GetChildren().front()->Layout();
  SetMinimumSize();
}

void Tfrm_main::RestorePlacement() {
  const std::string ini = folders_.ToolIni();
  wxRect rect(static_cast<int>(IniReadInteger(ini, kWindowSection, "left", 0)),
              static_cast<int>(IniReadInteger(ini, kWindowSection, "top", 0)),
              static_cast<int>(IniReadInteger(ini, kWindowSection, "width", 0)),
              static_cast<int>(IniReadInteger(ini, kWindowSection, "height", 0)));
  if (rect.GetWidth() <= 0 || rect.GetHeight() <= 0) return;
  // The screen may be smaller now, or the second one gone: the window comes
  // back whole onto the screen nearest to where it was.
  int display = wxDisplay::GetFromPoint(rect.GetTopLeft());
  if (display == wxNOT_FOUND) display = wxDisplay::GetFromPoint(rect.GetPosition() + wxSize(rect.GetWidth() / 2, 0));
  if (display == wxNOT_FOUND) display = 0;
  const wxRect area = wxDisplay(static_cast<unsigned>(display)).GetClientArea();
  rect.SetWidth(std::min(rect.GetWidth(), area.GetWidth()));
  rect.SetHeight(std::min(rect.GetHeight(), area.GetHeight()));
  rect.SetX(std::clamp(rect.GetX(), area.GetLeft(), area.GetRight() + 1 - rect.GetWidth()));
  rect.SetY(std::clamp(rect.GetY(), area.GetTop(), area.GetBottom() + 1 - rect.GetHeight()));
  SetSize(rect);
  if (IniReadInteger(ini, kWindowSection, "maximized", 0) != 0) Maximize();
}

void Tfrm_main::KeepPlacement() {
  const std::string ini = folders_.ToolIni();
  try {
    const bool maximized = IsMaximized();
    IniWriteInteger(ini, kWindowSection, "maximized", maximized ? 1 : 0);
    // A maximized window keeps the size it had before, to go back to.
    if (maximized || IsIconized()) return;
    const wxRect rect = GetRect();
    IniWriteInteger(ini, kWindowSection, "left", rect.GetX());
    IniWriteInteger(ini, kWindowSection, "top", rect.GetY());
    IniWriteInteger(ini, kWindowSection, "width", rect.GetWidth());
    IniWriteInteger(ini, kWindowSection, "height", rect.GetHeight());
  } catch (const std::exception&) {
    // Only the next start's place is lost; closing must not fail for it.
  }
}

void Tfrm_main::SetMinimumSize() {
  // The widest and the highest of the three bottom panels, whichever shows,
  // under the top panel and the splitter's two smallest panes.
  const wxSize top = pnlTop->GetSizer()->CalcMin();
  int width = top.GetWidth();
  int bottomHeight = 0;
  for (wxPanel* panel : {pnlBottom, pnlImport, pnlUpdate}) {
    wxSize needed = panel->GetSizer()->CalcMin();
    if (panel == pnlImport) {
      // The question wraps to the width the window has, so only the buttons
      // beside a narrow column count across; down, the question as wrapped
      // now counts while it shows, else it would cover the log and the tree.
      needed.SetWidth(kQuestionMargins + kNarrowestQuestion +
                      btn_yes->GetBestSize().GetWidth() +
                      btn_no->GetBestSize().GetWidth());
      if (!pnlImport->IsShown())
        needed.SetHeight(btn_yes->GetBestSize().GetHeight() + 2 * 6);
    }
    width = std::max(width, needed.GetWidth());
    bottomHeight = std::max(bottomHeight, needed.GetHeight());
  }
  const int splitter = 2 * Splitter1->GetMinimumPaneSize() + Splitter1->GetSashSize();
  const int topHeight = std::max(top.GetHeight(), pnlTop->GetMinSize().GetHeight());
  leastClient_ = wxSize(width, topHeight + splitter + bottomHeight);
  SetMinClientSize(leastClient_);
}

void Tfrm_main::GrowToMinimumSize() {
  if (IsMaximized() || IsFullScreen() || leastClient_.GetWidth() <= 0)
    return;
  // The least client size is kept as a least window size, reckoned with the
  // frame the window manager had said it draws; one that says so only later
  // (GTK learns the frame's size after the window is shown) leaves the
  // client that much smaller: set again, with the frame known.
  if (GetMinClientSize() != leastClient_) SetMinClientSize(leastClient_);
  const wxSize now = GetClientSize();
  if (now.GetWidth() >= leastClient_.GetWidth() && now.GetHeight() >= leastClient_.GetHeight())
    return;
  SetClientSize(std::max(now.GetWidth(), leastClient_.GetWidth()),
                std::max(now.GetHeight(), leastClient_.GetHeight()));
}

void Tfrm_main::RestoreLogHeight() {
  const int room = Splitter1->GetClientSize().GetHeight() - Splitter1->GetSashSize() -
                   Splitter1->GetMinimumPaneSize();
  const int height = std::max(Splitter1->GetMinimumPaneSize(), std::min(logHeight_, room));
  if (height != Splitter1->GetSashPosition()) Splitter1->SetSashPosition(height);
}

bool Tfrm_main::Show(bool show) {
  const bool changed = wxFrame::Show(show);
  if (show && !activatedOnce_ && !activationQueued_) {
    // Queued, so the steps (and any box they open) run once the window is up
    // and its activation has been handled, not from within it.
    activationQueued_ = true;
    CallAfter([this] {
      if (closing_ || IsBeingDeleted() || wxPendingDelete.Member(this)) return;
      EnsureActivated();
    });
  }
  return changed;
}

void Tfrm_main::OnActivate(wxActivateEvent& event) {
  event.Skip();
  if (event.GetActive()) ++activationsReported_;
}

void Tfrm_main::FormActivate() {
  // While the update loads, the check would find the download component busy.
  if (activating_ || updating_ || driver_->IsBusy()) return;
  activating_ = true;
  activatedOnce_ = true;
  ++activationStepsRun_;
  ClearMemo();
  ReadSettings();
  if (!noDatabase_.empty()) {
    // The box at the start is gone once read; the log keeps saying it.
    for (const std::string& line : SplitLines(ReplaceAll(noDatabase_, "\r", "\n"))) {
      if (!line.empty()) Log(line);
    }
  }
  if (settings_.name.empty()) {
    // The server named there counts at once, for the version check below;
    // the label names the account just set up, not the blank before it.
    boxes_->AccountDialog(this, folders_, settings_);
    ShowServerLabel();
    HTMLabel1->SetURL(ToWx(DownloadPage()));
    if (!settings_.name.empty() && ReadSyncCounter(folders_) == 0 && db_) {
      Log(W1252("Jetzt auf Sync klicken: die erste Synchronisation überträgt die Praxisdaten "
                "zum Mobilgerät."));
    }
  }
  // Without an account nothing is set up yet: no server of the practice's
  // to ask, and the built-in one would only bring a box about a file that
  // means nothing to a new user.
  if (!settings_.name.empty()) {
    btn_exit->Disable();
    CheckForUpdate();
    btn_exit->Enable();
  }
  activating_ = false;
  if (closeAfterActivation_) Close(true);
}

void Tfrm_main::ReadSettings() {
  kelvanor::ReadSettings(folders_, settings_);
  ShowServerLabel();
  HTMLabel1->SetURL(ToWx(DownloadPage()));
}

void Tfrm_main::ReadAccountSettings() {
  kelvanor::ReadAccountSettings(folders_, settings_);
  ShowServerLabel();
  HTMLabel1->SetURL(ToWx(DownloadPage()));
}

void Tfrm_main::ShowServerLabel() {
  // As written: an account "Berger & Hof" is no shortcut marker.
  lbl_SvrName->SetLabelText(ToWx(ServerLabelText(settings_)));
  ShowEncryption();
}

void Tfrm_main::ShowEncryption() {
  lbl_Encryption->SetLabel(ToWx(TransferModeWord(settings_.servers)));
  lbl_Encryption->SetForegroundColour(TransferEncryption(settings_.servers) == Encryption::kFull
                                          ? wxColour(0, 110, 40)
                                          : wxColour(150, 70, 0));
  lbl_Encryption->SetToolTip(ToWxMessage(TransferModeDetail(settings_.servers)));
  pnlTop->Layout();
  // The account's two lines may make the top panel taller than the least
  // size was reckoned with: a window at its least size would give the tree
  // the difference.
  SetMinimumSize();
  GrowToMinimumSize();
}

void Tfrm_main::CheckForUpdate() {
  std::string offered;
  const Outcome outcome = kelvanor::CheckForUpdate(*HTTPGet1, settings_.servers.web,
                                                   folders_.UpdateFolder(), ExeVersionString(), offered);
  // Stopped because the user closed the window: nothing more to tell him.
  if (closeAfterActivation_) return;
  if (!outcome.IsOk()) {
    boxes_->Error(this, outcome.Message());
  } else if (!offered.empty()) {
    Label3_->SetLabel(ToWx(UpdateOfferText(offered)));
    SetMinimumSize();
    ShowBottomPanel(pnlUpdate);
  }
}

void Tfrm_main::btnUpdateClick() {
  // The download lets the window's events run: a second click meanwhile
  // must not start a second download into the same file.
  if (updating_) return;
  updating_ = true;
  Log("Lade Update ... B i t t e   W a r t e n ...");
  ProcessPendingMessages();
  const Outcome started = DownloadAndStartUpdate(
      *HTTPGet1, settings_.servers.web, folders_.UpdateFolder(), settings_.servers.publisher);
  SetCursor(wxNullCursor);
  updating_ = false;
  if (started.IsOk()) {
    Close(true);
    return;
  }
  // Nothing was started: the offer gives way to the sync, the memo says why,
  // and the user can fetch the update from the page.
  ShowBottomPanel(pnlBottom);
  const std::string page = DownloadPage();
  if (boxes_->OpenInBrowser(page)) {
    Log(started.Message() + W1252(" Die Download-Seite wird geöffnet: ") + page);
  } else {
    Log(started.Message() + " " + NoBrowserText(page));
  }
}

void Tfrm_main::btnLaterClick() { ShowBottomPanel(pnlBottom); }

std::string Tfrm_main::DownloadPage() const { return settings_.servers.web + "/sync"; }

void Tfrm_main::OpenDownloadPage() {
  if (!boxes_->OpenInBrowser(DownloadPage())) Log(NoBrowserText(DownloadPage()));
}

void Tfrm_main::btnSyncClick() {
  if (!noDatabase_.empty()) {
    // A run could only fetch changes it cannot import, and upload nothing.
    boxes_->Error(this, W1252("Ohne die Praxis-Datenbank von dasTessavor kann Kelvanor nicht "
                              "synchronisieren: ") +
                            noDatabase_);
    return;
  }
  driver_->StartSync();
}

void Tfrm_main::btn_yesClick() { driver_->AnswerImport(true); }

void Tfrm_main::btn_noClick() { driver_->AnswerImport(false); }

void Tfrm_main::btn_helpClick() {
  boxes_->Info(this, HelpText(dbLocation_.Path(), settings_.local_dir, folders_.ToolIni()));
}

void Tfrm_main::btn_exitClick() {
  ProcessPendingMessages();
  Close();
}

void Tfrm_main::btn_settingsClick() {
  if (driver_->IsBusy()) return;
  boxes_->AccountDialog(this, folders_, settings_);
  ReadAccountSettings();
}

void Tfrm_main::btn_historyClick() {
  if (driver_->IsBusy()) return;
  // The history belongs to the database as it is now, not as last opened.
  if (db_) {
    try {
      db_->Reopen();
    } catch (const std::exception& e) {
      boxes_->Error(this, e.what());
    }
  }
  boxes_->HistoryDialog(this, db_ && !db_->IsClosed() ? db_.get() : nullptr, folders_, settings_,
                        *this);
}

bool Tfrm_main::UndoLastImport() {
  if (driver_->IsBusy() || !db_ || db_->IsClosed()) return false;
  Logger log(*this, settings_.DebugLog);
  const UndoRun run =
      RunUndo(*db_, folders_, settings_.name, log, [&](const std::string& question) {
        return std::optional<bool>(
            boxes_->YesNo(this, question, IMessageBoxes::Preselected::kNo));
      });
  if (run.end == UndoRun::End::kUndone) return true;
  if (run.end == UndoRun::End::kRefused || run.end == UndoRun::End::kFailed) {
    boxes_->Error(this, run.message);
  }
  return false;
}

void Tfrm_main::ImportBackup(const std::string& backup) {
  if (driver_->IsBusy()) return;
  driver_->StartBackupImport(backup);
}

void Tfrm_main::OnClose(wxCloseEvent& event) {
  if (driver_ && driver_->GetState() == SyncDriver::State::kRunning && event.CanVeto()) {
    // Closing in the middle of a step would leave a half-done transfer behind.
    boxes_->Info(this, W1252("Bitte warten, die Synchronisation läuft noch."));
    event.Veto();
    return;
  }
  if (updating_ && event.CanVeto()) {
    // btnUpdateClick is still on the stack, waiting for the download.
    boxes_->Info(this, "Bitte warten, das Update wird geladen.");
    event.Veto();
    return;
  }
  if (activating_) {
    // The activation steps are on the stack, waiting for the version file
    // while the window's events run: the window must outlive them. The
    // check stops now, and FormActivate closes the window when it returns.
    closeAfterActivation_ = true;
    HTTPGet1->Abort();
    if (event.CanVeto()) event.Veto();
    return;
  }
  closing_ = true;
  KeepPlacement();
  if (db_) db_->Close();  // FormClose
  event.Skip();
}

void Tfrm_main::ShowBottomPanel(wxPanel* panel) {
  for (wxPanel* p : {pnlBottom, pnlImport, pnlUpdate}) p->Show(p == panel);
  GetChildren().front()->Layout();
}

// ---- the view of the sync ----

void Tfrm_main::ProcessPendingMessages() {
  // The export reports every horse row; a yield per row would cost more than
  // the export itself, and 30 ms keeps the window just as responsive.
  const wxLongLong now = wxGetLocalTimeMillis();
  if (yielding_ || now - lastYieldMs_ < 30) return;
  yielding_ = true;
  wxTheApp->Yield(true);
  yielding_ = false;
  lastYieldMs_ = wxGetLocalTimeMillis();
}

void Tfrm_main::ShowExportStep(const std::string& text, int stepPosition, int totalPosition) {
  Label1_->SetLabelText(ToWx(text));
  pbPut->SetValue(std::min(stepPosition, pbPut->GetRange()));
  Label2_->SetLabel("Gesamt");
  pbGet->SetValue(std::min(totalPosition, pbGet->GetRange()));
  ProcessPendingMessages();
}

void Tfrm_main::SetStepMaximum(int maximum) { pbPut->SetRange(std::max(maximum, 1)); }

void Tfrm_main::SetTotalMaximum(int maximum) { pbGet->SetRange(std::max(maximum, 1)); }

void Tfrm_main::SetTotalBold(bool bold) {
  wxFont font = Label2_->GetFont();
  font.SetWeight(bold ? wxFONTWEIGHT_BOLD : wxFONTWEIGHT_NORMAL);
  Label2_->SetFont(font);
}

void Tfrm_main::Log(const std::string& line) {
  DisplayMemo_->AppendText((DisplayMemo_->IsEmpty() ? wxString() : wxString("\n")) + ToWx(line));
}

void Tfrm_main::ClearMemo() { DisplayMemo_->Clear(); }

void Tfrm_main::OfferImport(const std::string& question) {
  ShowBottomPanel(pnlImport);
  SetImportLabel(question);
  SetImportButtonsEnabled(true);
}

void Tfrm_main::ImportUnderWay() {
  SetImportLabel("Bitte warten ...");
  SetImportButtonsEnabled(false);
  ProcessPendingMessages();
}

void Tfrm_main::CloseImportQuestion() {
  SetImportButtonsEnabled(true);
  ShowBottomPanel(pnlBottom);
  SetMinimumSize();
}

void Tfrm_main::SetImportLabel(const std::string& text) {
  importQuestion_ = text;
  importWrapWidth_ = 0;
  WrapImportQuestion();
}

void Tfrm_main::WrapImportQuestion() {
  // Label5 has what the two buttons and the margins leave of the panel.
  const int width = GetChildren().front()->GetClientSize().GetWidth() -
                    btn_yes->GetSize().GetWidth() -
                    btn_no->GetSize().GetWidth() - kQuestionMargins;
  const int wrapAt = std::max(kNarrowestQuestion, width);
  if (wrapAt == importWrapWidth_) return;
  importWrapWidth_ = wrapAt;
  Label5_->SetLabelText(WrapQuestion(*Label5_, ToWxMessage(importQuestion_), wrapAt));
  GetChildren().front()->Layout();
  // A narrower window wraps the question into more lines: the window grows
  // down so the log and the tree keep their least room beside it.
  SetMinimumSize();
  GrowToMinimumSize();
}

void Tfrm_main::SetImportButtonsEnabled(bool enabled) {
  btn_yes->Enable(enabled);
  btn_no->Enable(enabled);
}

bool Tfrm_main::Ask(const std::string& question) { return boxes_->YesNo(this, question); }

namespace {

// The office's file a report names (the conflicts, the lines not imported),
// when it is there to be opened; "" otherwise.
std::string OfficeFileNamedIn(const Folders& folders, const std::string& message) {
  for (const char* name : {kConflictFileName, kNotImportedFile}) {
    const std::string path = folders.MobileFolder + kPathSep + name;
    if (message.find(name) != std::string::npos && FileExists(path)) return path;
  }
  return std::string();
}

}  // namespace

void Tfrm_main::ReportError(const std::string& message) {
  const std::string file = OfficeFileNamedIn(folders_, message);
  if (file.empty()) {
    boxes_->Error(this, message);
  } else if (boxes_->OfferToOpen(this, message, true)) {
    boxes_->OpenPath(file);
  }
}

void Tfrm_main::ReportInfo(const std::string& message) {
  const std::string file = OfficeFileNamedIn(folders_, message);
  if (file.empty()) {
    boxes_->Info(this, message);
  } else if (boxes_->OfferToOpen(this, message, false)) {
    boxes_->OpenPath(file);
  }
}

void Tfrm_main::ShowReceived(const TreeModel& tree, const ChangeDetails& changes) {
  // Drawn once when all is in: a long download has many lines.
  tv->Freeze();
  ShowTree(tree, changes);
  tv->Thaw();
}

void Tfrm_main::ClearReceived() {
  tv->DeleteAllItems();
  treeItems_.clear();
}

void Tfrm_main::ShowTree(const TreeModel& tree, const ChangeDetails& details) {
  tv->DeleteAllItems();
  treeItems_.assign(tree.Count(), wxTreeItemId());
  if (tree.Count() == 0) return;
  // The office reads the words; the line as received stays below them, in
  // grey, for whoever wants it. The header line of each file says nothing
  // to the office and gets no line of its own.
  const wxColour rawGrey(110, 110, 110);
  const auto shown = [](const std::string& change) {
    // Windows-1252 has no arrow; the core writes "->" and the tree draws one.
    wxString text = ToWx(change);
    text.Replace(" -> ", wxString::FromUTF8(" → "));
    return text;
  };
  wxTreeItemId root;
  wxTreeItemId file;
  bool headerPassed = false;
  std::vector<wxTreeItemId> withChanges;
  for (std::size_t position = 0; position < tree.Count(); ++position) {
    const TreeNode& node = tree.Nodes()[position];
    if (node.level == 0) {
      root = tv->AddRoot(ToWx(node.text));
      treeItems_[position] = root;
    } else if (node.level == 1 && root.IsOk()) {
      file = tv->AppendItem(root, ToWx(node.text));
      treeItems_[position] = file;
      headerPassed = false;
    } else if (node.level == 2 && file.IsOk()) {
      if (!headerPassed) {
        headerPassed = true;
        continue;
      }
      const auto found = details.find(position);
      if (found == details.end() || found->second.empty()) {
        treeItems_[position] = tv->AppendItem(file, ToWx(node.text));
        continue;
      }
      const std::vector<std::string>& words = found->second;
      const wxTreeItemId line = tv->AppendItem(file, shown(words.front()));
      treeItems_[position] = line;
      for (std::size_t i = 1; i < words.size(); ++i) tv->AppendItem(line, shown(words[i]));
      tv->SetItemTextColour(tv->AppendItem(line, ToWx(node.text)), rawGrey);
      if (words.size() > 1) withChanges.push_back(line);
    }
  }
  if (!root.IsOk()) return;
  tv->Expand(root);
  // Open the files too, unless one is so long that the view would crawl;
  // a record's changed fields show at once.
  wxTreeItemIdValue cookie;
  for (wxTreeItemId item = tv->GetFirstChild(root, cookie); item.IsOk();
       item = tv->GetNextChild(root, cookie)) {
    if (tv->GetChildrenCount(item, false) <= 2000) tv->Expand(item);
  }
  for (const wxTreeItemId& line : withChanges) {
    if (tv->IsExpanded(tv->GetItemParent(line))) tv->Expand(line);
  }
}

void Tfrm_main::Busy(bool busy) {
  // A second run while one is going would share tmp.bat and tmp_dl.
  btnSync->Enable(!busy);
  btn_settings->Enable(!busy);
  btn_history->Enable(!busy);
  // A run may have counted: the label shows the counter the file now holds.
  if (!busy) ReadAccountSettings();
}

void Tfrm_main::ShowStatus(const std::string& status) {
  if (status.empty()) {
    // A new run: nothing of the last one's end may read as this one's.
    Label2_->SetLabel("");
    SetTotalBold(false);
    pbPut->SetValue(0);
    pbGet->SetValue(0);
  } else if (StartsWith(status, "fertig")) {
    pbPut->SetValue(pbPut->GetRange());
    pbGet->SetValue(pbGet->GetRange());
  }
  // The status is longer than the export's steps: the label column widens
  // for it rather than cut it.
  Label1_->SetLabelText(ToWx(status));
  const int width = std::max(FromDIP(110), Label1_->GetTextExtent(Label1_->GetLabel()).GetWidth() + 4);
  Label1_->SetMinSize(wxSize(width, -1));
  Label2_->SetMinSize(wxSize(width, -1));
  pnlTop->Layout();
}

}  // namespace kelvanor
