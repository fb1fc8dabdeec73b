// What the sync workflow needs from a front end. The window implements it with
// its memo, panels and message boxes; the CLI with stdout, stderr and the
// terminal; the tests with a recording fake. All texts are Windows-1252.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "export/export_progress.h"
#include "import/node_list.h"
#include "platform/message_pump.h"

namespace kelvanor {

class IMessagePump : public IPendingMessagePump {
 public:
  virtual ~IMessagePump() = default;
  // Lets pending window messages run (repaint, clicks) in the middle of long work.
  virtual void ProcessPendingMessages() = 0;
};

class ISyncView : public IMessagePump, public IExportProgress {
 public:
  // Appends one line to the log memo (DisplayMemo).
  virtual void AppendMemo(const std::string& line) = 0;
  virtual void ClearMemo() = 0;
  // Hides pnlBottom and shows pnlImport with `question` in Label5.
  virtual void ShowImportPanel(const std::string& question) = 0;
  // Label5's text while the panel is shown ("Bitte warten ...").
  virtual void SetImportLabel(const std::string& text) = 0;
  virtual void SetImportButtonsEnabled(bool enabled) = 0;
  // Hides pnlImport and shows pnlBottom again.
  virtual void HideImportPanel() = 0;
  // An information box with Yes and No; true for Yes.
  virtual bool AskYesNo(const std::string& question) = 0;
  // An error box with OK.
  virtual void ShowError(const std::string& message) = 0;
  // An information box with OK.
  virtual void ShowInfo(const std::string& message) = 0;
  // The received-data tree changed (rebuilt or cleared); the window mirrors it.
  virtual void TreeChanged(const TreeModel& tree) = 0;
  // For the lines of the tree (by node position) that change a record: which
  // fields they change, in words ("Telefon: 0711 -> 0301234"). The raw lines
  // stay as they are.
  virtual void ShowChangeDetails(const std::map<std::size_t, std::vector<std::string>>& details) {
    (void)details;
  }
  // Whether a sync run is under way (S6: the window disables what would start another).
  virtual void SetBusy(bool busy) = 0;
};

}  // namespace kelvanor
