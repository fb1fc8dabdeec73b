// mob_artikel_x.txt -> artikel and mob_leistung_x.txt -> leistungen: one
// algorithm, two tables. Only new records are taken; a line whose error is
// caught fails alone.
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
constexpr int kPriceLevels = 5;

struct PricedItemTable {
  const char* table;       // also the table argument of InsertRecord
  const char* priceStem;   // price column of level n: stem + n + currency suffix
  const char* idMapKey;
  const char* notTaken;    // why a change or deletion is not imported
};

constexpr PricedItemTable kArticles{
    "artikel", "vkpreis", "artikel",
    W1252("Geänderte und gelöschte Artikel übernimmt Kelvanor nicht; der Artikel bleibt in "
          "der Praxis, wie er ist.")};
constexpr PricedItemTable kServices{
    "leistungen", "preis", "leistung",
    W1252("Geänderte und gelöschte Leistungen übernimmt Kelvanor nicht; die Leistung bleibt "
          "in der Praxis, wie sie ist.")};

// The price columns carry the currency's suffix, so the map is made per run.
// Field 3 (the VAT rate) is read first, then the prices of levels 1 to 5.
ColumnMap PricedItemColumns(const PricedItemTable& kind, const std::string& suffix) {
  ColumnMap map = {{"bezeichnung", 1, FieldKind::kText}, {"mwst", 3, FieldKind::kDecimal}};
  const std::size_t priceFields[kPriceLevels] = {2, 4, 5, 6, 7};
  for (int level = 0; level < kPriceLevels; ++level) {
    map.push_back({kind.priceStem + std::to_string(level + 1) + suffix, priceFields[level],
                   FieldKind::kDecimal});
  }
  return map;
}

void ImportPricedItems(ImportContext& ctx, std::size_t& position, const PricedItemTable& kind) {
  const ColumnMap columns = PricedItemColumns(kind, ctx.currency.priceColumnSuffix);
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/") && !StartsWith(f[0], "D/")) {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
      return;
    }
    ImportLineGuarded(ctx, [&] {
      // The numbers must be valid on every line, whatever its operation: the
      // mobile writes nothing else there, so anything else means a broken line.
      RecordValues values(columns, f);
      std::vector<std::string> op;
      SplitFieldsBy('/', f[0], op, 2);
      // Changes and deletions of articles and services stay with the practice.
      if (op[0] != "N") {
        ctx.KeepNotTaken(kind.notTaken);
        return;
      }
      const int32_t mobileId = StrToInt(op[1]);
      values.Number("erstelltam", ctx.Now()).Text("erstelltvon", "MOB");
      ctx.idMap.AddIdMapEntry(kind.idMapKey, mobileId, InsertValues(ctx.db, kind.table, values));
    }, kind.idMapKey);
  });
}

}  // namespace

void ImportArticles(ImportContext& ctx, std::size_t& position) {
  ImportPricedItems(ctx, position, kArticles);
}

void ImportServices(ImportContext& ctx, std::size_t& position) {
  ImportPricedItems(ctx, position, kServices);
}

}  // namespace kelvanor
