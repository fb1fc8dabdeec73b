// Tfrm_history: "Verlauf", the memory of the runs of this database and
// account (run_history.h) as a list, newest first; a selected run shows its
// details below (what arrived, what was imported, its conflicts and the
// lines not imported, where it failed). Its buttons open the files it names
// (the backup, the conflict and not-imported lists, the restore point's
// folder, the mobil folder), undo the last import when that is allowed (and
// say why not otherwise) and import a backup again. What changes the
// practice the window does, in its own log: the dialog only asks for it.
#pragma once

#include <wx/dialog.h>

#include <string>
#include <vector>

#include "db/dbase.h"
#include "kept/run_history.h"
#include "settings/settings.h"

class wxButton;
class wxListCtrl;
class wxStaticText;
class wxTextCtrl;

namespace kelvanor {

class IMessageBoxes;

// What the dialog asks the window to do.
class HistoryActions {
 public:
  virtual ~HistoryActions() = default;
  // Undoes the last import (the window asks, undoes and logs); true when
  // the practice changed.
  virtual bool UndoLastImport() = 0;
  // Starts the import of `backup` in the window, whose tree and question
  // show it as after a download; the dialog has ended before.
  virtual void ImportBackup(const std::string& backup) = 0;
};

class Tfrm_history : public wxDialog {
 public:
  // `db` may be null: the dialog then says that no practice is open.
  Tfrm_history(wxWindow* parent, TDBase* db, const Folders& folders, const Settings& settings,
               IMessageBoxes& boxes, HistoryActions& actions);

  // Reads the history again and whether the last import may be undone.
  void Reload();
  // Shows the details of the `index`-th run of the list (0: the newest).
  void SelectRun(long index);

  // The handlers, public so the window tests can drive them.
  void btnUndoClick();
  // Asks for a backup in the mobil folder, then ImportBackupFile.
  void btnBackupClick();
  void ImportBackupFile(const std::string& path);
  void btnMobileFolderClick();
  void btnOpenBackupClick();
  void btnOpenConflictsClick();
  void btnOpenNotImportedClick();
  void btnShowRestorePointClick();

  const std::vector<RunRecord>& Runs() const { return runs_; }
  // The backup the user chose to import again ("" when none); the window
  // starts its import once the dialog is closed.
  const std::string& ChosenBackup() const { return chosenBackup_; }

  wxListCtrl* lstRuns = nullptr;
  wxTextCtrl* memoDetails = nullptr;
  wxStaticText* lblUndo = nullptr;  // why the undo is not possible now
  wxButton* btnUndo = nullptr;
  wxButton* btnBackup = nullptr;
  wxButton* btnMobileFolder = nullptr;
  wxButton* btnOpenBackup = nullptr;
  wxButton* btnOpenConflicts = nullptr;
  wxButton* btnOpenNotImported = nullptr;
  wxButton* btnShowRestorePoint = nullptr;
  wxButton* btnClose = nullptr;

 private:
  void Open(const std::string& path);
  const RunRecord* Selected() const;

  TDBase* db_;
  const Folders& folders_;
  const Settings& settings_;
  IMessageBoxes& boxes_;
  HistoryActions& actions_;
  std::vector<RunRecord> runs_;
  long selected_ = -1;
  std::string chosenBackup_;
};

}  // namespace kelvanor
