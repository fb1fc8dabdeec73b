// mob_artikel_x.txt -> artikel and mob_leistung_x.txt -> leistungen: one
// algorithm, two tables. Only new records are taken; a line whose error is
// caught fails alone.
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

struct PricedItemTable {
  FileKind kind;
  const char* table;  // also the table argument of InsertRecord
  const char* idMapKey;
};

constexpr PricedItemTable kArticles{FileKind::kArticles, "artikel", "artikel"};
constexpr PricedItemTable kServices{FileKind::kServices, "leistungen", "leistung"};

void ImportPricedItems(ImportContext& ctx, std::size_t& position, const PricedItemTable& kind) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(kind.kind, line);
    if (read.op == LineOp::kUnknown) {
      ctx.FailLine(read.reason);
      return;
    }
    const std::vector<std::string>& f = read.fields;
    ImportLineGuarded(ctx, [&] {
      // The numbers must be valid on every line, whatever its operation: the
      // mobile writes nothing else there, so anything else means a broken line.
      RecordValues values =
          ReadRecordColumns(kind.kind, f, nullptr, ctx.currency.priceColumnSuffix);
      // Changes and deletions of articles and services stay with the practice.
      if (read.op != LineOp::kNew) {
        ctx.KeepNotTaken(read.reason);
        return;
      }
      const int32_t mobileId = ReadItemId(f[0]);
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
