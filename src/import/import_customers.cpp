// mob_kunde_x.txt -> besitzer. Every line is guarded: a line whose error is
// caught fails alone, and lines naming a customer it would have created fail
// with it.
#include <string>
#include <vector>

#include "import/import.h"
#include "import/record_values.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 11;
constexpr std::size_t kPriceLevelField = 10;

// The fields of a customer line. strasse is spelt through the
// transliteration the host's own column naming follows.
const ColumnMap& CustomerColumns() {
  static const ColumnMap map = {
      {"anrede", 1, FieldKind::kText},       {"name", 2, FieldKind::kText},
      {"vorname", 3, FieldKind::kText},      {"kundennr", 4, FieldKind::kText},
      {"telefon", 5, FieldKind::kText},      {Transliterate(W1252("straße")), 6, FieldKind::kText},
      {"plz", 7, FieldKind::kText},          {"ort", 8, FieldKind::kText},
      {"email", 9, FieldKind::kText},        {"preisstufe", kPriceLevelField, FieldKind::kInteger},
      {"telefonhandy", 11, FieldKind::kText}};
  return map;
}

// The next debitor number: one above the highest, or 0 while the practice
// does not number its debitors (highest 0 or no customer at all).
int64_t NextDebitorNumber(TDBase& db) {
  auto top = db.QueryBound("SELECT * FROM besitzer ORDER BY debitornr DESC LIMIT 1", {});
  if (top->Eof()) return 0;
  const int64_t highest = top->FieldAsVariant("debitornr").AsInteger();
  return highest == 0 ? 0 : highest + 1;
}

void InsertCustomer(ImportContext& ctx, const std::vector<std::string>& f, const std::string& id) {
  RecordValues values(CustomerColumns(), f);
  const int32_t mobileId = StrToInt(id);
  const double now = ctx.Now();
  values.Integer("debitornr", NextDebitorNumber(ctx.db))
      .Number("aufgenommenam", now)
      .Number("erstelltam", now)
      .Text("erstelltvon", "MOB");
  ctx.idMap.AddIdMapEntry("besitzer", mobileId, InsertValues(ctx.db, "besitzer", values));
}

void UpdateCustomer(ImportContext& ctx, const std::vector<std::string>& f, const std::string& id) {
  const int32_t dbId = StrToInt(id);
  auto untouched = ctx.UntouchedFields(FileKind::kCustomers, dbId, f);
  // A price level cleared on the mobile is no level to store, but no reason
  // to lose the rest of the change either: the practice keeps its own.
  if (Trim(f[kPriceLevelField]).empty() &&
      (!untouched || untouched->count(kPriceLevelField) == 0)) {
    if (!untouched) untouched.emplace();
    untouched->insert(kPriceLevelField);
    ctx.Notice("Preisstufe leer; die bisherige Preisstufe des Kunden bleibt.");
  }
  UpdateChangedRecord(ctx, "besitzer",
                      RecordValues(CustomerColumns(), f, untouched ? &*untouched : nullptr), dbId);
}

void ImportCustomerLine(ImportContext& ctx, const std::vector<std::string>& f) {
  if (StartsWith(f[0], "D/")) {
    RecycleRecord(ctx, f[0], "besitzer", "besitzer", "Besitzer");
    return;
  }
  std::vector<std::string> op;
  SplitFieldsBy('/', f[0], op, 1);
  if (op[0] == "N") {
    InsertCustomer(ctx, f, op[1]);
  } else {
    UpdateCustomer(ctx, f, op[1]);
  }
}

}  // namespace

void ImportCustomers(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/") && !StartsWith(f[0], "D/")) {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
      return;
    }
    ImportLineGuarded(ctx, [&] { ImportCustomerLine(ctx, f); }, "besitzer");
  });
}

}  // namespace kelvanor
