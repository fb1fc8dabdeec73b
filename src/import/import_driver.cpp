// The import driver: walks the received-data tree in five passes and hands
// each change file to its importer, so every file sees the records created
// by the files imported before it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/import.h"

namespace kelvanor {

namespace {

using Importer = void (*)(ImportContext&, std::size_t&);
using Dispatch = std::vector<std::pair<std::string, Importer>>;

void RunPass(ImportContext& ctx, const Dispatch& dispatch) {
  const TreeModel& tree = ctx.tree;
  std::size_t position = 0;
  while (position < tree.Count()) {
    Importer importer = nullptr;
    if (tree.Level(position) == 1) {
      for (const auto& [file, candidate] : dispatch) {
        if (tree.Text(position) == file) {
          importer = candidate;
          break;
        }
      }
    }
    if (importer == nullptr) {
      ++position;
      continue;
    }
    const std::size_t fileNode = position;
    importer(ctx, position);
    // A file node without lines leaves the position where it was.
    if (position <= fileNode) position = fileNode + 1;
  }
}

}  // namespace

ImportSummary ImportMobileChanges(TDBase& db, const TreeModel& tree,
                                  const std::string& journalFile) {
  // Attached before the transaction begins (SQLite allows it only outside one).
  std::unique_ptr<ImportJournal> journal;
  if (!journalFile.empty()) journal = std::make_unique<ImportJournal>(db, journalFile);
  ImportSummary summary;
  db.RunInTransaction([&] {
    ImportContext ctx(db, tree);
    ctx.currency = ReadCurrencySettings(db);
    ctx.journal = journal.get();
    // Records an earlier run created can still be named by this run's lines.
    if (journal) {
      for (const IdMapEntry& entry : journal->IdMapEntries()) {
        ctx.journaledIdMap.AddIdMapEntry(entry.tableKey, entry.mobileId, entry.dbId);
      }
    }
    RunPass(ctx, {{"mob_kunde_x.txt", &ImportCustomers},
                  {"mob_stall_x.txt", &ImportStables},
                  {"mob_pferd_x.txt", &ImportHorses},
                  {"mob_termin_x.txt", &ImportAppointments},
                  {"mob_artikel_x.txt", &ImportArticles},
                  {"mob_leistung_x.txt", &ImportServices}});
    RunPass(ctx, {{"mob_kunde_pferd_x.txt", &ImportOwnerHorseLinks}});
    RunPass(ctx, {{"mob_rech_x.txt", &ImportOrders}});
    RunPass(ctx, {{"mob_kasse_x.txt", &ImportCashBook}});
    RunPass(ctx, {{"mob_report_x.txt", &ImportHoofReports}});
    if (journal) {
      for (std::size_t i = 0; i < ctx.idMap.Size(); ++i) {
        journal->RecordIdMapEntry(ctx.idMap.Entry(i));
      }
    }
    summary = std::move(ctx.summary);
  });
  return summary;
}

}  // namespace kelvanor
