// Tfrm_account: the account name and server, the detail log for this run, the
// counter reset and the request to delete the account's data on the server,
// and the connection check with the switch to encryption it may offer.
// Created fresh for every opening, so it always shows what Kelvanor.ini holds.
#pragma once

#include <wx/collpane.h>  // a class of its own under GTK, a name for the generic one elsewhere
#include <wx/dialog.h>

#include <optional>
#include <string>

#include "server_checks/connection_check.h"
#include "settings/settings.h"

class wxButton;
class wxCheckBox;
class wxStaticText;
class wxTextCtrl;

namespace kelvanor {

class IMessageBoxes;

class Tfrm_account : public wxDialog {
 public:
  Tfrm_account(wxWindow* parent, const Folders& folders, Settings& settings,
               IMessageBoxes& boxes);

  // The handlers, public so the window tests can drive them.
  void btn_okClick();
  void btn_abbrechenClick();
  void btnResetSyncCounterClick();
  void Button1Click();
  // "Verbindung prüfen": the addresses the name and server typed give, tried
  // as a sync reaches them; the lines show below and in the window's log.
  void btnCheckClick();
  // "Verschlüsselt übertragen", once a check found encryption offered.
  void btnEncryptClick();

  // One sentence on what to enter, above the fields.
  wxStaticText* lblIntro = nullptr;
  wxTextCtrl* edit_name = nullptr;
  wxTextCtrl* edit_server = nullptr;
  // The addresses of the sync server the tool uses with the server name as
  // it stands in edit_server, and where each comes from.
  wxStaticText* lblAddresses = nullptr;
  // "Erweitert", folded at first: chkDebug, btnResetSyncCounter and Button1.
  wxCollapsiblePane* paneAdvanced = nullptr;
  wxCheckBox* chkDebug = nullptr;
  wxButton* btn_ok = nullptr;
  wxButton* btn_abbrechen = nullptr;
  wxButton* btnResetSyncCounter = nullptr;
  wxButton* Button1 = nullptr;
  wxButton* btnCheck = nullptr;
  wxButton* btnEncrypt = nullptr;
  // What the check tries while it runs, then what it found.
  wxTextCtrl* memoCheck = nullptr;

 private:
  void ShowAddresses();
  // The dialog made as large as what it shows needs (never smaller), and laid
  // out anew.
  void GrowToFit();
  // Runs the check with what the edits hold, the dialog's buttons off
  // meanwhile; null when it could not run (said in a box).
  std::optional<ConnectionReport> RunCheck();
  // Switches as `change` says (a second check first); false when it did not.
  bool SwitchEncryption(const EncryptionSwitch& change);
  void ShowCheckLines(const std::vector<std::string>& lines);
  // Makes the result field tall enough for `lines`, the dialog with it.
  void FitCheckLines(const std::vector<std::string>& lines);
  // The server name Kelvanor.ini holds ([general] server).
  std::string StoredServer() const;
  void SetButtonsEnabled(bool enabled);

  const Folders& folders_;
  Settings& settings_;
  IMessageBoxes& boxes_;
  bool checking_ = false;
  // What the last check found offered, for btnEncrypt.
  std::optional<EncryptionSwitch> offered_;
};

}  // namespace kelvanor
