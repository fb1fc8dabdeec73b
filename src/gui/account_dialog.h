// Tfrm_account: the account name and server, the detail log for this run, the
// counter reset and the request to delete the account's data on the server.
// Created fresh for every opening, so it always shows what Kelvanor.ini holds.
#pragma once

#include <wx/dialog.h>

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

  wxTextCtrl* edit_name = nullptr;
  wxTextCtrl* edit_server = nullptr;
  // The addresses of the sync server the tool uses with the server name as
  // it stands in edit_server, and where each comes from.
  wxStaticText* lblAddresses = nullptr;
  wxCheckBox* chkDebug = nullptr;
  wxButton* btn_ok = nullptr;
  wxButton* btn_abbrechen = nullptr;
  wxButton* btnResetSyncCounter = nullptr;
  wxButton* Button1 = nullptr;

 private:
  void ShowAddresses();

  const Folders& folders_;
  Settings& settings_;
  IMessageBoxes& boxes_;
};

}  // namespace kelvanor
