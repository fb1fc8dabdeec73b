// Tfrm_main: the tool's one window. It draws and asks; everything else is the
// core's. It is the sync driver's view and the export's progress: the log goes
// to the memo, questions and reports to boxes, the import question to its
// panel, what the download brought to the tree.
#pragma once

#include <wx/frame.h>
#include <wx/longlong.h>
#include <wx/treebase.h>

#include <memory>
#include <string>

#include "settings/settings.h"
#include "sync/sync_driver.h"
#include "sync/sync_view.h"
#include "gui/history_dialog.h"
#include "db/dbase.h"

class wxBoxSizer;
class wxButton;
class wxHyperlinkCtrl;
class wxMessageDialog;
class wxPanel;
class wxSplitterWindow;
class wxStaticText;
class wxTextCtrl;
class wxTreeCtrl;

namespace kelvanor {

class ProgressBar;
class THTTPGet;
class WxDispatcher;

// How the window shows its message boxes. The window tests replace it so that
// no modal box blocks them; the program uses real boxes (ShowMessageBox).
class IMessageBoxes {
 public:
  // Which answer Return gives when the user just confirms the box.
  enum class Preselected { kYes, kNo };

  virtual ~IMessageBoxes() = default;
  virtual void Error(wxWindow* parent, const std::string& text) = 0;
  virtual void Info(wxWindow* parent, const std::string& text) = 0;
  // True for "Ja".
  virtual bool YesNo(wxWindow* parent, const std::string& text,
                     Preselected preselected = Preselected::kYes) = 0;
  // Shows the account dialog modally; the default creates Tfrm_account.
  virtual void AccountDialog(wxWindow* parent, const Folders& folders, Settings& settings);
  // Shows the history (Tfrm_history) modally; `db` may be null.
  virtual void HistoryDialog(wxWindow* parent, TDBase* db, const Folders& folders,
                             const Settings& settings, HistoryActions& actions);
  // Opens `url` (the download page) in the default browser; false when no
  // browser could be started (nothing is shown then: the window says it).
  // The tests only note it.
  virtual bool OpenInBrowser(const std::string& url);
  // A report that names a file of the office's (the conflicts, the lines not
  // imported) with a button that opens it beside "OK": true for "Öffnen".
  virtual bool OfferToOpen(wxWindow* parent, const std::string& text, bool error);
  // Opens a file or folder in the program the desktop has for it; false
  // when none started. The tests only note it.
  virtual bool OpenPath(const std::string& path);
};

// A real message box with the buttons in German ("OK", "Ja", "Nein",
// "Abbrechen") whatever language the desktop speaks. `style` as for
// wxMessageBox (wxOK, wxYES_NO, wxNO_DEFAULT, wxICON_...); returns wxID_OK,
// wxID_YES, wxID_NO or wxID_CANCEL.
int ShowMessageBox(wxWindow* parent, const std::string& text, long style);
// The same box, not yet shown: its labels, for a look in the window tests.
wxMessageDialog* NewMessageBox(wxWindow* parent, const std::string& text, long style);

class Tfrm_main : public wxFrame,
                  public SyncView,
                  public IExportProgress,
                  public HistoryActions {
 public:
  // `boxes` may be null: real message boxes. The folders are those of the
  // program (DetermineFolders) unless a test passes its own.
  Tfrm_main(const Folders& folders, IMessageBoxes* boxes = nullptr);
  ~Tfrm_main() override;

  // Showing the window the first time runs the activation steps once the
  // window is up (FormActivate, queued): never from inside an activation
  // event, and never again when the user comes back from another program,
  // a box or the browser.
  bool Show(bool show = true) override;

  // The handlers, public so the window tests can drive them.
  void FormCreate();
  void FormActivate();
  // Runs the activation steps unless they already ran.
  void EnsureActivated() {
    if (!activatedOnce_) FormActivate();
  }
  // How often the activation steps ran, and how many activations the window
  // manager reported (for the window tests).
  int ActivationStepsRun() const { return activationStepsRun_; }
  int ActivationsReported() const { return activationsReported_; }
  void btnSyncClick();
  void btn_yesClick();
  void btn_noClick();
  void btn_helpClick();
  void btn_exitClick();
  void btn_settingsClick();
  // "Verlauf ...": the history of the runs (Tfrm_history).
  void btn_historyClick();
  // HistoryActions: the undo in this window's log and boxes, and the import
  // of a backup through the sync driver.
  bool UndoLastImport() override;
  void ImportBackup(const std::string& backup) override;
  void btnUpdateClick();
  // "Später": the offer gives way to the sync until the next start.
  void btnLaterClick();
  void CheckForUpdate();
  void ReadSettings();
  void ReadAccountSettings();

  // SyncView
  void Log(const std::string& line) override;
  bool Ask(const std::string& question) override;
  void ReportError(const std::string& message) override;
  void ReportInfo(const std::string& message) override;
  void ShowReceived(const TreeModel& tree, const ChangeDetails& changes) override;
  void ClearReceived() override;
  void OfferImport(const std::string& question) override;
  void ImportUnderWay() override;
  void CloseImportQuestion() override;
  void Busy(bool busy) override;
  void ShowStatus(const std::string& status) override;
  IExportProgress& ExportProgress() override { return *this; }
  void ProcessPendingMessages() override;

  // IExportProgress
  void ShowExportStep(const std::string& text, int stepPosition, int totalPosition) override;
  void SetStepMaximum(int maximum) override;
  void SetTotalMaximum(int maximum) override;
  void SetTotalBold(bool bold) override;

  // Read access for the tests and the program entry.
  Settings& CurrentSettings() { return settings_; }
  const Folders& CurrentFolders() const { return folders_; }
  TDBase* Database() const { return db_.get(); }
  SyncDriver& Driver() { return *driver_; }
  IMessageBoxes& Boxes() { return *boxes_; }
  THTTPGet& HttpGet() { return *HTTPGet1; }
  wxHyperlinkCtrl* DownloadLink() const { return HTMLabel1; }
  wxTextCtrl* DisplayMemo() const { return DisplayMemo_; }
  wxTreeCtrl* Tv() const { return tv; }
  wxPanel* PnlBottom() const { return pnlBottom; }
  wxPanel* PnlImport() const { return pnlImport; }
  wxPanel* PnlUpdate() const { return pnlUpdate; }
  wxStaticText* LblSvrName() const { return lbl_SvrName; }
  wxStaticText* LblEncryption() const { return lbl_Encryption; }
  wxStaticText* Label5() const { return Label5_; }
  wxStaticText* Label3() const { return Label3_; }
  wxButton* BtnSync() const { return btnSync; }
  wxButton* BtnYes() const { return btn_yes; }
  wxButton* BtnNo() const { return btn_no; }
  wxButton* BtnExit() const { return btn_exit; }
  wxButton* BtnSettings() const { return btn_settings; }
  wxButton* BtnHistory() const { return btn_history; }
  wxButton* BtnHelp() const { return btn_help; }
  wxButton* BtnUpdate() const { return btnUpdate; }
  wxButton* BtnLater() const { return btnLater; }
  wxStaticText* Label1() const { return Label1_; }
  wxStaticText* Label2() const { return Label2_; }
  ProgressBar* PbPut() const { return pbPut; }
  ProgressBar* PbGet() const { return pbGet; }

 private:
  void BuildControls();
  wxPanel* MakeGreyPanel(wxWindow* parent);
  void ShowBottomPanel(wxPanel* panel);
  void ShowServerLabel();
  // Beside the account: how a sync transfers with the addresses in use.
  void ShowEncryption();
  void WrapImportQuestion();
  void ClearMemo();
  void ShowTree(const TreeModel& tree, const ChangeDetails& details);
  void SetImportLabel(const std::string& text);
  void SetImportButtonsEnabled(bool enabled);
  // Only counts: an activation runs none of the activation steps.
  void OnActivate(wxActivateEvent& event);
  // HTMLabel1's page, the download page of the update.
  std::string DownloadPage() const;
  // Opens it in the browser; where no browser opens, the memo gives the
  // address.
  void OpenDownloadPage();
  void OnClose(wxCloseEvent& event);
  // The smallest client size that keeps every button of the bottom panels
  // and both panes of the splitter on the screen.
  void SetMinimumSize();
  // The place and size of the last close (Kelvanor.ini, section window),
  // brought whole onto a screen that may be smaller now; kept at the close.
  void RestorePlacement();
  void KeepPlacement();
  void GrowToMinimumSize();
  // The log back at the height the user gave it, as far as the window allows.
  void RestoreLogHeight();

  Folders folders_;
  Settings settings_;
  HostDatabaseLocation dbLocation_;
  std::unique_ptr<TDBase> db_;
  std::unique_ptr<SyncDriver> driver_;
  std::unique_ptr<WxDispatcher> dispatcher_;
  std::unique_ptr<THTTPGet> HTTPGet1;
  std::unique_ptr<IMessageBoxes> ownBoxes_;
  IMessageBoxes* boxes_;
  bool activating_ = false;
  bool updating_ = false;  // btnUpdateClick is loading the update
  bool closing_ = false;
  bool closeAfterActivation_ = false;  // closed while the activation steps ran
  bool activatedOnce_ = false;
  bool activationQueued_ = false;
  int activationStepsRun_ = 0;
  int activationsReported_ = 0;
  std::string importQuestion_;  // Label5's text before wrapping
  // Why the practice database could not be opened at the start; "" when open.
  std::string noDatabase_;
  int importWrapWidth_ = 0;
  int logHeight_ = 145;  // the log's height as designed or as the user dragged it
  bool repaintWhenSettled_ = false;  // resized: drawn anew once the layout is done
  wxSize leastClient_;  // the least client size, as SetMinimumSize reckoned it
  bool yielding_ = false;
  wxLongLong lastYieldMs_ = 0;

  wxBoxSizer* rootSizer_ = nullptr;
  wxPanel* pnlTop = nullptr;
  wxStaticText* Label1_ = nullptr;
  wxStaticText* Label2_ = nullptr;
  ProgressBar* pbPut = nullptr;
  ProgressBar* pbGet = nullptr;
  wxStaticText* lbl_SvrName = nullptr;
  wxStaticText* lbl_Encryption = nullptr;
  wxSplitterWindow* Splitter1 = nullptr;
  wxPanel* pnl2 = nullptr;
  wxPanel* Panel1 = nullptr;
  wxTextCtrl* DisplayMemo_ = nullptr;
  wxPanel* pnl3 = nullptr;
  wxPanel* Panel2 = nullptr;
  wxTreeCtrl* tv = nullptr;
  wxPanel* pnlBottom = nullptr;
  wxButton* btnSync = nullptr;
  wxPanel* pnlRight = nullptr;
  wxButton* btn_settings = nullptr;
  wxButton* btn_history = nullptr;
  wxButton* btn_help = nullptr;
  wxButton* btn_exit = nullptr;
  wxPanel* pnlImport = nullptr;
  wxStaticText* Label5_ = nullptr;
  wxButton* btn_yes = nullptr;
  wxButton* btn_no = nullptr;
  wxPanel* pnlUpdate = nullptr;
  wxStaticText* Label3_ = nullptr;
  wxButton* btnUpdate = nullptr;
  wxButton* btnLater = nullptr;
  wxHyperlinkCtrl* HTMLabel1 = nullptr;
  // The tv item of every node of the received-data tree, by node position.
  std::vector<wxTreeItemId> treeItems_;
};

// Windows-1252 bytes to a wxString for display, and back for typed text.
wxString ToWx(const std::string& ansi);
// The same for message texts, whose lines break at carriage returns.
wxString ToWxMessage(const std::string& ansi);
std::string FromWx(const wxString& text);

}  // namespace kelvanor
