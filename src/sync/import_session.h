// One import of received data, whatever brought it: a sync's download, a
// folder named to the CLI, a backup imported again. The same steps in the
// same order, told in the same words:
//
//   ShowPreview   what each line will do, and what earlier runs imported of
//                 it (the journal), shown beside the tree;
//   Question      the import question, and how many records there are;
//   Import        on "Ja": a restore point of the practice database (the
//                 way back; without it nothing is imported), the import (the
//                 office's values a conflict overwrites kept, and the
//                 practice's content fingerprint taken, before it commits),
//                 the dated backup of what was received, the lines not
//                 imported listed for the office, and the user told of each.
//
// The caller holds the lock of the database and account (LockAccountFiles)
// for as long as the session lives: the journal must not change between the
// preview and the import.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <cstddef>
#include <set>
#include <string>

#include "db/dbase.h"
#include "import/import_context.h"
#include "import/import_summary.h"
#include "import/node_list.h"
#include "import/import_journal.h"
#include "kept/account_files.h"
#include "kept/run_history.h"
#include "settings/settings.h"
#include "sync/logger.h"
#include "sync/sync_view.h"
#include "util/outcome.h"

namespace kelvanor {

class ImportSession {
 public:
  // `db` may be null (the database could not be opened): the preview then
  // names records from the lines alone, and the import fails saying so.
  // `tree` must stay as it is while the session lives.
  // `scope` says which earlier runs count as imported (see JournalScope): a
  // backup imported again also knows runs the server dropped long since.
  ImportSession(SyncView& view, Logger& log, const Folders& folders, TDBase* db,
                const AccountFiles& files, const TreeModel& tree,
                JournalScope scope = JournalScope::kServer);

  // Describes every received line for the view (SyncView::ShowReceived).
  void ShowPreview();
  // The question (see BuildImportQuestion); `records` (when given) receives
  // the number of record lines, 0 when there is nothing to import.
  std::string Question(int* records) const;

  struct Result {
    Outcome outcome;          // failed: said why; the user was told of the rest
    bool committed = false;   // the practice holds what was imported
    ImportSummary summary;
    std::string backup;       // the dated backup of the received data ("" none)
    std::string restorePoint;  // the practice as it was before ("" none)
    // The practice's content when the import committed (ContentFingerprint);
    // "" when it was not taken.
    std::string fingerprint;
  };
  // Imports the tree. `backUp` false leaves out the dated backup (the data
  // came from one).
  Result Import(bool backUp = true);
  // What the received lines do, in words, as the question sums it up.
  std::string Summary() const;

 private:
  SyncView& view_;
  Logger& log_;
  const Folders& folders_;
  TDBase* db_;
  const AccountFiles& files_;
  const TreeModel& tree_;
  JournalScope scope_;
  // What the journal says of the lines, as the preview found it; the
  // question counts by it, and the merge knows from it which lines change
  // records an earlier run created.
  EarlierImports earlier_;
  // The lines the preview found the import will refuse, by position.
  std::set<std::size_t> refused_;
};

// What an import did, in the words its run keeps in the history: the
// restore point, fingerprint and backup, the conflicts and the lines not
// imported with their reasons, and (when it committed) `received` as what
// was imported.
void NoteImport(const ImportSession::Result& imported, const std::string& received,
                RunRecord& run);

// What the user reads for an error: a failure of the database says in German
// what is wrong with it.
std::string UserText(const std::exception& error);

}  // namespace kelvanor
