// The import of the mobile's changes into the practice database.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <functional>
#include <string>

#include "db/dbase.h"
#include "import/field_merge.h"
#include "import/import_context.h"
#include "import/import_journal.h"
#include "import/import_summary.h"
#include "import/node_list.h"

namespace kelvanor {

// Runs the whole import over the received-data tree as one transaction: an
// error that ends the import rolls everything back and passes on to the
// caller (EDatabaseFailure when the database itself failed). Lines whose
// errors are caught are skipped and named in the returned summary, which the
// caller shows once the database is free again.
//
// With a `journalFile` (see ImportJournal) lines an earlier run committed are
// skipped while its records are in `db`, the records they created can be
// named again, and this run's lines are journaled before it commits. Without
// one nothing is remembered.
//
// With a `merge` a changed record takes only the fields the mobile changed
// (see FieldMerge); without one it is written whole.
//
// `keepBeforeCommit` (when given) is called with the run's summary after the
// last line and before anything commits: what the run overwrote (the
// conflicts) is kept there, and whatever it raises rolls the whole run back,
// so no office value is overwritten that is not kept somewhere first.
using KeepBeforeCommit = std::function<void(const ImportSummary& summary)>;
ImportSummary ImportMobileChanges(TDBase& db, const TreeModel& tree,
                                  const std::string& journalFile = std::string(),
                                  const FieldMerge* merge = nullptr,
                                  const KeepBeforeCommit& keepBeforeCommit = nullptr,
                                  JournalScope scope = JournalScope::kServer);

// The importers. On entry `position` is the file node; on return it stands on
// the first node after the lines consumed.
void ImportCustomers(ImportContext& ctx, std::size_t& position);
void ImportStables(ImportContext& ctx, std::size_t& position);
void ImportHorses(ImportContext& ctx, std::size_t& position);
void ImportOwnerHorseLinks(ImportContext& ctx, std::size_t& position);
void ImportAppointments(ImportContext& ctx, std::size_t& position);
void ImportArticles(ImportContext& ctx, std::size_t& position);
void ImportServices(ImportContext& ctx, std::size_t& position);
void ImportOrders(ImportContext& ctx, std::size_t& position);
void ImportCashBook(ImportContext& ctx, std::size_t& position);
void ImportHoofReports(ImportContext& ctx, std::size_t& position);

// The nid of the shoeing interval whose display text is `text`, or, when no
// text equals it, whose nid the whole number `text` is (the export sends the
// number); 0 for a blank text or "0" (no interval); nullopt for one the
// practice's list (zbeschlagsrhythmus) does not hold.
std::optional<int32_t> ShoeingIntervalId(TDBase& db, const std::string& text);

// The interval a horse line writes into horse `horseId` (0 for a new horse):
// ShoeingIntervalId, or for a changed horse the number it holds, echoed as
// the export sent it, even when the list no longer has it; nullopt when the
// line names an interval the practice lacks (the import fails that line).
std::optional<int32_t> HorseLineInterval(TDBase& db, const std::string& text, int32_t horseId);

// Why such a line is not imported, in the office's words.
std::string UnknownShoeingInterval(const std::string& text);

}  // namespace kelvanor
