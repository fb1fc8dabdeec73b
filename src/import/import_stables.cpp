// mob_stall_x.txt -> stall. Stables are created and changed, never deleted; a
// line whose error is caught fails alone.
#include <string>
#include <vector>

#include "import/import.h"
#include "import/record_values.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 7;

const ColumnMap& StableColumns() {
  static const ColumnMap map = {
      {"name", 1, FieldKind::kText},    {"ansprechpartner", 2, FieldKind::kText},
      {"telefon", 3, FieldKind::kText}, {Transliterate(W1252("straße")), 4, FieldKind::kText},
      {"plz", 5, FieldKind::kText},     {"ort", 6, FieldKind::kText},
      {"land", 7, FieldKind::kText}};
  return map;
}

void ImportStableLine(ImportContext& ctx, const std::vector<std::string>& f) {
  std::vector<std::string> op;
  SplitFieldsBy('/', f[0], op, 1);
  const int32_t id = StrToInt(op[1]);
  if (op[0] == "N") {
    RecordValues values(StableColumns(), f);
    values.Number("erstelltam", ctx.Now()).Text("erstelltvon", "MOB");
    ctx.idMap.AddIdMapEntry("stall", id, InsertValues(ctx.db, "stall", values));
  } else {
    const auto untouched = ctx.UntouchedFields(FileKind::kStables, id, f);
    UpdateChangedRecord(ctx, "stall",
                        RecordValues(StableColumns(), f, untouched ? &*untouched : nullptr), id);
  }
}

}  // namespace

void ImportStables(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "D/")) {
      ctx.KeepNotTaken(
          W1252("Gelöschte Ställe übernimmt Kelvanor nicht; der Stall bleibt "
                "in der Praxis."));
      return;
    }
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/")) {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
      return;
    }
    ImportLineGuarded(ctx, [&] { ImportStableLine(ctx, f); }, "stall");
  });
}

}  // namespace kelvanor
