#include "gui/history_dialog.h"

#include <wx/button.h>
#include <wx/filedlg.h>
#include <wx/listctrl.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include "gui/main_window.h"
#include "kept/account_files.h"
#include "kept/office_lists.h"
#include "platform/file_system.h"
#include "sync/undo_import.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// What the list says of a run in one column: what it imported or undid,
// else why it failed, else what arrived.
std::string SummaryOf(const RunRecord& run) {
  if (!run.imported.empty()) return run.imported;
  if (!run.message.empty()) return run.message;
  return run.received;
}

}  // namespace

Tfrm_history::Tfrm_history(wxWindow* parent, TDBase* db, const Folders& folders,
                           const Settings& settings, IMessageBoxes& boxes,
                           HistoryActions& actions)
    : wxDialog(parent, wxID_ANY, "Verlauf", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER),
      db_(db),
      folders_(folders),
      settings_(settings),
      boxes_(boxes),
      actions_(actions) {
  auto* root = new wxBoxSizer(wxVERTICAL);
  lstRuns = new wxListCtrl(this, wxID_ANY, wxDefaultPosition, wxSize(720, 190),
                           wxLC_REPORT | wxLC_SINGLE_SEL);
  lstRuns->AppendColumn("Datum", wxLIST_FORMAT_LEFT, 130);
  lstRuns->AppendColumn("Art", wxLIST_FORMAT_LEFT, 190);
  lstRuns->AppendColumn("Ergebnis", wxLIST_FORMAT_LEFT, 90);
  lstRuns->AppendColumn("Zusammenfassung", wxLIST_FORMAT_LEFT, 300);
  root->Add(lstRuns, 3, wxEXPAND | wxALL, 8);

  memoDetails = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition, wxSize(720, 150),
                               wxTE_MULTILINE | wxTE_READONLY | wxTE_DONTWRAP);
  root->Add(memoDetails, 2, wxEXPAND | wxLEFT | wxRIGHT, 8);

  auto* files = new wxBoxSizer(wxHORIZONTAL);
  btnOpenBackup = new wxButton(this, wxID_ANY, ToWx(W1252("Sicherung öffnen")));
  btnOpenConflicts = new wxButton(this, wxID_ANY, ToWx(W1252("Konflikte öffnen")));
  btnOpenNotImported =
      new wxButton(this, wxID_ANY, ToWx(W1252("Nicht importierte Zeilen öffnen")));
  btnShowRestorePoint = new wxButton(this, wxID_ANY, "Wiederherstellungspunkt zeigen");
  for (wxButton* button : {btnOpenBackup, btnOpenConflicts, btnOpenNotImported,
                           btnShowRestorePoint}) {
    files->Add(button, 0, wxRIGHT, 6);
  }
  root->Add(files, 0, wxALL, 8);

  lblUndo = new wxStaticText(this, wxID_ANY, "");
  root->Add(lblUndo, 0, wxEXPAND | wxLEFT | wxRIGHT, 8);

  auto* actionsRow = new wxBoxSizer(wxHORIZONTAL);
  btnUndo = new wxButton(this, wxID_ANY, ToWx(W1252("Letzten Import rückgängig machen ...")));
  btnBackup = new wxButton(this, wxID_ANY, "Aus Sicherung importieren ...");
  btnMobileFolder = new wxButton(this, wxID_ANY, ToWx(W1252("Ordner \"mobil\" öffnen")));
  btnClose = new wxButton(this, wxID_CANCEL, ToWx(W1252("Schließen")));
  actionsRow->Add(btnUndo, 0, wxRIGHT, 6);
  actionsRow->Add(btnBackup, 0, wxRIGHT, 6);
  actionsRow->Add(btnMobileFolder, 0, wxRIGHT, 6);
  actionsRow->AddStretchSpacer();
  actionsRow->Add(btnClose, 0);
  root->Add(actionsRow, 0, wxEXPAND | wxALL, 8);
  SetSizerAndFit(root);

  lstRuns->Bind(wxEVT_LIST_ITEM_SELECTED,
                [this](wxListEvent& event) { SelectRun(event.GetIndex()); });
  btnUndo->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnUndoClick(); });
  btnBackup->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnBackupClick(); });
  btnMobileFolder->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnMobileFolderClick(); });
  btnOpenBackup->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnOpenBackupClick(); });
  btnOpenConflicts->Bind(wxEVT_BUTTON, [this](wxCommandEvent&) { btnOpenConflictsClick(); });
  btnOpenNotImported->Bind(wxEVT_BUTTON,
                           [this](wxCommandEvent&) { btnOpenNotImportedClick(); });
  btnShowRestorePoint->Bind(wxEVT_BUTTON,
                            [this](wxCommandEvent&) { btnShowRestorePointClick(); });
  Reload();
  CentreOnParent();
}

void Tfrm_history::Reload() {
  runs_.clear();
  lstRuns->DeleteAllItems();
  btnUndo->Disable();
  btnBackup->Enable(db_ != nullptr);
  std::string whyNot;
  if (db_ == nullptr) {
    whyNot = W1252("Die Praxis-Datenbank ist nicht geöffnet; ohne sie gibt es keinen Verlauf.");
  } else if (!CheckAccountName(settings_.name).IsOk()) {
    whyNot = W1252("Es ist noch kein Konto eingestellt (Konto ...).");
  } else {
    const AccountFiles files = AccountFilesOf(db_->FileName(), settings_.name);
    RunHistory history(files.history);
    runs_ = history.Newest(1000);
    const bool running = !runs_.empty() && !runs_.front().Ended() && AccountInUse(files);
    for (std::size_t i = 0; i < runs_.size(); ++i) {
      const RunRecord& run = runs_[i];
      const long row = lstRuns->InsertItem(static_cast<long>(i), ToWx(ShortMoment(run.started)));
      lstRuns->SetItem(row, 1, ToWx(run.kind));
      lstRuns->SetItem(row, 2, ToWx(OutcomeOf(run, i == 0 && running)));
      lstRuns->SetItem(row, 3, ToWx(SummaryOf(run)));
    }
    const UndoPlan plan = PlanUndo(*db_, history);
    btnUndo->Enable(plan.Allowed());
    whyNot = plan.Allowed() ? W1252("Rückgängig machen lässt sich der Import vom ") +
                                  ShortMoment(plan.run->started) + "."
                            : plan.refusal;
  }
  lblUndo->SetLabel(ToWx(whyNot));
  lblUndo->Wrap(GetClientSize().GetWidth() > 40 ? GetClientSize().GetWidth() - 16 : 620);
  selected_ = -1;
  memoDetails->Clear();
  if (!runs_.empty()) {
    lstRuns->SetItemState(0, wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED,
                          wxLIST_STATE_SELECTED | wxLIST_STATE_FOCUSED);
  }
  SelectRun(runs_.empty() ? -1 : 0);
  Layout();
}

const RunRecord* Tfrm_history::Selected() const {
  if (selected_ < 0 || static_cast<std::size_t>(selected_) >= runs_.size()) return nullptr;
  return &runs_[static_cast<std::size_t>(selected_)];
}

void Tfrm_history::SelectRun(long index) {
  selected_ = index;
  const RunRecord* run = Selected();
  std::string text;
  if (run != nullptr) {
    text = HeadlineOf(*run, false);
    for (const std::string& line : DetailsOf(*run)) text += "\n" + line;
  }
  memoDetails->SetValue(ToWx(text));
  const std::string mobile = folders_.MobileFolder + kPathSep;
  btnOpenBackup->Enable(run != nullptr && !run->backup.empty() && FileExists(run->backup));
  btnOpenConflicts->Enable(run != nullptr && !run->conflicts.empty() &&
                           FileExists(mobile + kConflictFileName));
  btnOpenNotImported->Enable(run != nullptr && !run->notImported.empty() &&
                             FileExists(mobile + kNotImportedFile));
  btnShowRestorePoint->Enable(run != nullptr && !run->restorePoint.empty() &&
                              FileExists(run->restorePoint));
}

void Tfrm_history::Open(const std::string& path) {
  if (!boxes_.OpenPath(path)) {
    boxes_.Error(this, W1252("Kein Programm konnte öffnen: ") + path);
  }
}

void Tfrm_history::btnUndoClick() {
  if (actions_.UndoLastImport()) Reload();
}

void Tfrm_history::btnBackupClick() {
  wxFileDialog choose(this, ToWx(W1252("Sicherung empfangener Daten wählen")),
                      ToWx(folders_.MobileFolder), "",
                      ToWx(W1252("Sicherungen (*_mob_from_server.txt)|*_mob_from_server.txt|"
                                 "Alle Dateien|*")),
                      wxFD_OPEN | wxFD_FILE_MUST_EXIST);
  if (choose.ShowModal() != wxID_OK) return;
  ImportBackupFile(FromWx(choose.GetPath()));
}

void Tfrm_history::ImportBackupFile(const std::string& path) {
  chosenBackup_ = path;
  if (IsModal()) EndModal(wxID_OK);
  actions_.ImportBackup(path);
}

void Tfrm_history::btnMobileFolderClick() { Open(folders_.MobileFolder); }

void Tfrm_history::btnOpenBackupClick() {
  if (const RunRecord* run = Selected()) Open(run->backup);
}

void Tfrm_history::btnOpenConflictsClick() {
  Open(folders_.MobileFolder + kPathSep + kConflictFileName);
}

void Tfrm_history::btnOpenNotImportedClick() {
  Open(folders_.MobileFolder + kPathSep + kNotImportedFile);
}

void Tfrm_history::btnShowRestorePointClick() {
  if (const RunRecord* run = Selected()) Open(ExtractFilePath(run->restorePoint));
}

}  // namespace kelvanor
