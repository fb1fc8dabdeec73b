// mob_artikel_x.txt -> artikel and mob_leistung_x.txt -> leistungen: one
// algorithm, two tables. Only new records are taken; a line that cannot be
// read ends the import (the run is one transaction, so nothing of it stays).
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 11;
constexpr int kPriceLevels = 5;

struct PricedItemTable {
  const char* table;       // also the table argument of InsertRecord
  const char* priceStem;   // price column of level n: stem + n + currency suffix
  const char* idMapKey;
};

constexpr PricedItemTable kArticles{"artikel", "vkpreis", "artikel"};
constexpr PricedItemTable kServices{"leistungen", "preis", "leistung"};

void ImportPricedItems(ImportContext& ctx, std::size_t& position, const PricedItemTable& kind) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    // The numbers must be valid on every line, whatever its operation: the
    // mobile writes nothing else there, so anything else means a broken file.
    const double vat = ParseDecimal(f[3]);
    double prices[kPriceLevels];
    prices[0] = ParseDecimal(f[2]);
    for (int level = 1; level < kPriceLevels; ++level) prices[level] = ParseDecimal(f[3 + level]);

    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/") && !StartsWith(f[0], "D/")) return;
    std::vector<std::string> op;
    SplitFieldsBy('/', f[0], op, 2);
    // Changes and deletions of articles and services stay with the practice.
    if (op[0] != "N") return;
    const int32_t mobileId = StrToInt(op[1]);

    std::string columns = std::string("INSERT INTO ") + kind.table + " (bezeichnung,mwst, ";
    std::string values = SqlString(f[1]) + "," + SqlNumber(vat) + ", ";
    for (int level = 0; level < kPriceLevels; ++level) {
      columns += kind.priceStem + std::to_string(level + 1) + ctx.currency.priceColumnSuffix + ",";
      values += SqlNumber(prices[level]) + ",";
    }
    const std::string sql = columns + " erstelltam,erstelltvon) VALUES (" + values +
                            ctx.NowLiteral() + ",'MOB')";
    ctx.idMap.AddIdMapEntry(kind.idMapKey, mobileId, ctx.db.InsertRecordChecked(sql, kind.table, "id"));
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
