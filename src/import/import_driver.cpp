// The import driver: walks the received-data tree in five passes and hands
// each change file to its importer, so every file sees the records created
// by the files imported before it.
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "import/import.h"
#include "util/exchange_files.h"

namespace kelvanor {

namespace {

using Importer = void (*)(ImportContext&, std::size_t&);

// The importer of each kind of change file.
Importer ImporterOf(FileKind kind) {
  switch (kind) {
    case FileKind::kCustomers: return &ImportCustomers;
    case FileKind::kStables: return &ImportStables;
    case FileKind::kHorses: return &ImportHorses;
    case FileKind::kCustomerHorses: return &ImportOwnerHorseLinks;
    case FileKind::kAppointments: return &ImportAppointments;
    case FileKind::kArticles: return &ImportArticles;
    case FileKind::kServices: return &ImportServices;
    case FileKind::kOrders: return &ImportOrders;
    case FileKind::kCashBook: return &ImportCashBook;
    case FileKind::kHoofReports: return &ImportHoofReports;
    case FileKind::kServiceGroups:
    case FileKind::kMobileSettings:
    case FileKind::kOldMobileSettings:
      break;
  }
  return nullptr;
}

// Hands every file of this pass to its importer, in tree order.
void RunPass(ImportContext& ctx, int pass) {
  for (const ReceivedFile& file : ctx.files.Files()) {
    if (file.exchange == nullptr || file.exchange->importPass != pass) continue;
    const Importer importer = ImporterOf(file.exchange->kind);
    if (importer == nullptr) continue;
    std::size_t position = file.position;
    importer(ctx, position);
  }
}

// A change file the tool has no importer for is not passed over in silence:
// its lines are kept for the office like every line that is not imported.
void KeepLinesOfUnknownFiles(ImportContext& ctx) {
  for (const ReceivedFile& file : ctx.files.Files()) {
    if (file.exchange != nullptr) continue;
    ctx.file = file.name;
    for (const ReceivedLine& record : file.records) {
      ctx.line = record.Text();
      ctx.receivedLine = record.Text();
      ctx.lineNumber = record.Number();
      ctx.KeepNotTaken(kUnknownChangeFileReason);
    }
  }
}

}  // namespace

ImportSummary ImportMobileChanges(TDBase& db, const TreeModel& tree,
                                  const std::string& journalFile, const FieldMerge* merge,
                                  const KeepBeforeCommit& keepBeforeCommit, JournalScope scope) {
  // Read before the transaction begins: which earlier runs still count.
  std::unique_ptr<ImportJournal> journal;
  if (!journalFile.empty()) journal = std::make_unique<ImportJournal>(journalFile, db, scope);
  ImportSummary summary;
  // The statements prepared for this run are finalized when it ends, however.
  struct StatementCacheGuard {
    TDBase& db;
    ~StatementCacheGuard() { db.ClearStatementCache(); }
  } statements{db};
  // The server is asked to drop the lines once the import is done, so its
  // commit must be on the disk by then; in WAL mode NORMAL lets a power cut
  // take back the last commits. Only this connection's setting, for this run.
  struct DurableCommit {
    TDBase& db;
    explicit DurableCommit(TDBase& database) : db(database) {
      db.Execute("PRAGMA synchronous=FULL");
    }
    ~DurableCommit() {
      try {
        db.Execute("PRAGMA synchronous=NORMAL");
      } catch (...) {
        // A connection that fails here fails the next statement too.
      }
    }
  } durable{db};
  db.RunInTransaction([&] {
    ImportContext ctx(db, tree);
    ctx.currency = ReadCurrencySettings(db);
    ctx.journal = journal.get();
    ctx.merge = merge;
    // Records an earlier run created can still be named by this run's lines.
    if (journal) {
      journal->BeginRun(db);
      for (const IdMapEntry& entry : journal->IdMapEntries()) {
        ctx.journaledIdMap.AddIdMapEntry(entry.tableKey, entry.mobileId, entry.dbId);
      }
    }
    // Master data first, so every later file can name what it created.
    for (int pass = 1; pass <= 5; ++pass) RunPass(ctx, pass);
    KeepLinesOfUnknownFiles(ctx);
    if (keepBeforeCommit) keepBeforeCommit(ctx.summary);
    if (journal) {
      for (std::size_t i = 0; i < ctx.idMap.Size(); ++i) {
        journal->RecordIdMapEntry(ctx.idMap.Entry(i));
      }
      // On the disk before the practice commits: should the commit never
      // happen, the next run finds none of the records and drops the entry.
      journal->PersistRun(db);
    }
    summary = std::move(ctx.summary);
  });
  return summary;
}

}  // namespace kelvanor
