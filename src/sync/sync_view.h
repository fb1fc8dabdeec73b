// What the sync workflow needs from a front end, in the workflow's own terms:
// log a line, ask, report an error or something to know, show or clear what
// the download brought, put the import question, say a run is under way.
// Every method does nothing (a question is answered no) unless a front end
// overrides it: the CLI and the tests override what they use; the window
// maps them onto its memo, panels, tree and boxes. Texts are Windows-1252.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "export/export_progress.h"
#include "import/node_list.h"
#include "platform/message_pump.h"

namespace kelvanor {

// For the lines of the received-data tree (by node position): what each does,
// in words ("Neuer Kunde Müller, Jörg"), and for a changed record what it
// changes ("Telefon: 0711 -> 0301234"). See DescribeReceived.
using ChangeDetails = std::map<std::size_t, std::vector<std::string>>;

class SyncView : public IMessagePump {
 public:
  ~SyncView() override = default;

  // A line of the log.
  virtual void Log(const std::string& line) { (void)line; }
  // A question with yes and no; true for yes.
  virtual bool Ask(const std::string& question) {
    (void)question;
    return false;
  }
  // Something went wrong; something the user should know. Told once, when
  // the work that found it is over.
  virtual void ReportError(const std::string& message) { (void)message; }
  virtual void ReportInfo(const std::string& message) { (void)message; }

  // What the download brought, with what each line does; and that the run
  // is done with it.
  virtual void ShowReceived(const TreeModel& tree, const ChangeDetails& changes) {
    (void)tree;
    (void)changes;
  }
  virtual void ClearReceived() {}

  // The import question, put until the answer comes (SyncDriver::
  // AnswerImport); while the import runs it takes no answer; then it closes.
  virtual void OfferImport(const std::string& question) { (void)question; }
  virtual void ImportUnderWay() {}
  virtual void CloseImportQuestion() {}

  // A run is under way (nothing may start another), or over.
  virtual void Busy(bool busy) { (void)busy; }
  // What the run came to, in a few words, where the user looks first (above
  // the progress bars): "fertig!", "fertig, 2 Zeilen nicht übernommen",
  // "importiert; Löschen auf dem Server nachholen", "abgebrochen!". Empty
  // when a run starts: nothing of the last one may still read as this one's.
  virtual void ShowStatus(const std::string& status) { (void)status; }

  // Where the export shows its steps; by default nowhere.
  virtual IExportProgress& ExportProgress();

  void ProcessPendingMessages() override {}
};

}  // namespace kelvanor
