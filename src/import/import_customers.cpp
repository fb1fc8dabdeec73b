// mob_kunde_x.txt -> besitzer. Every line is guarded: a line whose error is
// caught fails alone, and lines naming a customer it would have created fail
// with it. The line is read by its kind's one reader (change_lines.h).
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kPriceLevelField = 10;

// The next debitor number: one above the highest, or 0 while the practice
// does not number its debitors (highest 0 or no customer at all).
int64_t NextDebitorNumber(TDBase& db) {
  auto top = db.QueryBound("SELECT * FROM besitzer ORDER BY debitornr DESC LIMIT 1", {});
  if (top->Eof()) return 0;
  const int64_t highest = top->FieldAsVariant("debitornr").AsInteger();
  return highest == 0 ? 0 : highest + 1;
}

void InsertCustomer(ImportContext& ctx, const std::vector<std::string>& f) {
  RecordValues values = ReadRecordColumns(FileKind::kCustomers, f);
  const int32_t mobileId = ReadLineId(f);
  const double now = ctx.Now();
  values.Integer("debitornr", NextDebitorNumber(ctx.db))
      .Number("aufgenommenam", now)
      .Number("erstelltam", now)
      .Text("erstelltvon", "MOB");
  ctx.idMap.AddIdMapEntry("besitzer", mobileId, InsertValues(ctx.db, "besitzer", values));
}

void UpdateCustomer(ImportContext& ctx, const std::vector<std::string>& f) {
  const int32_t dbId = ReadLineId(f);
  auto untouched = ctx.UntouchedFields(FileKind::kCustomers, dbId, f);
  // A price level cleared on the mobile is no level to store, but no reason
  // to lose the rest of the change either: the practice keeps its own.
  if (Trim(f[kPriceLevelField]).empty() &&
      (!untouched || untouched->count(kPriceLevelField) == 0)) {
    if (!untouched) untouched.emplace();
    untouched->insert(kPriceLevelField);
    ctx.Notice("Preisstufe leer; die bisherige Preisstufe des Kunden bleibt.");
  }
  UpdateChangedRecord(
      ctx, "besitzer",
      ReadRecordColumns(FileKind::kCustomers, f, untouched ? &*untouched : nullptr), dbId);
}

}  // namespace

void ImportCustomers(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kCustomers, line);
    const std::vector<std::string>& f = read.fields;
    switch (read.op) {
      case LineOp::kDeleted:
        ImportLineGuarded(ctx, [&] { RecycleRecord(ctx, f[0], "besitzer", "besitzer", "Besitzer"); },
                          "besitzer");
        break;
      case LineOp::kNew:
        ImportLineGuarded(ctx, [&] { InsertCustomer(ctx, f); }, "besitzer");
        break;
      case LineOp::kChanged:
        ImportLineGuarded(ctx, [&] { UpdateCustomer(ctx, f); }, "besitzer");
        break;
      default: ctx.FailLine(read.reason); break;
    }
  });
}

}  // namespace kelvanor
