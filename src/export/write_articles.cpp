// mob_artikel.txt and mob_leistung.txt: articles and services with five prices
// each, taken from the columns of the export currency and exported net when
// the practice stores gross prices.
#include <cstdio>

#include "export/export_writers.h"
#include "util/exchange_files.h"
#include "util/numbers.h"

namespace kelvanor {

namespace {

// Articles price in vkpreis%d / vkpreis%deuro, services in preis%d / preis%deuro;
// only the exact text "EUR" selects the euro columns.
void WritePriceList(ExportContext& ctx, const char* query, const char* keyPrefix,
                    const char* priceStem, const char* fileName) {
  const bool euro = ctx.currency == "EUR";
  std::string priceColumns[5];
  for (int i = 0; i < 5; ++i) {
    priceColumns[i] = priceStem + std::to_string(i + 1) + (euro ? "euro" : "");
  }
  ExportLines lines(ctx, fileName);
  auto table = ctx.db.QueryStreamed(query);
  for (; !table->Eof(); table->Next()) {
    std::string line = keyPrefix + FieldS(*table, "id") + ";" + FieldV(*table, "bezeichnung") +
                       ";" + NetPriceText(*table, priceColumns[0], ctx.billingTypeFlag) + ";" +
                       FieldV(*table, "mwst");
    for (int i = 1; i < 5; ++i) {
      line += ";";
      line += NetPriceText(*table, priceColumns[i], ctx.billingTypeFlag);
    }
    lines.Add(line);
  }
  table.reset();
  lines.Finish();
}

}  // namespace

std::string NetPriceText(const TDBTable& row, const std::string& priceColumn,
                         bool billingTypeFlag) {
  const double divisor =
      billingTypeFlag ? 1 + row.FieldAsVariant("mwst").AsDouble() / 100 : 1.0;
  // A NULL price counts as 0, whatever the column's declared type.
  const double price =
      row.FieldAsString(priceColumn).empty() ? 0.0 : row.FieldAsVariant(priceColumn).AsDouble();
  return FloatToDotStr(price / divisor);
}

void WriteArticles(ExportContext& ctx) {
  WritePriceList(ctx,
                 "SELECT * FROM artikel WHERE (id <> 0) AND (papierkorb = 0) ORDER BY bezeichnung",
                 "Art/", "vkpreis", ExchangeFileOf(FileKind::kArticles).dataFile);
}

void WriteServices(ExportContext& ctx) {
  WritePriceList(
      ctx, "SELECT * FROM leistungen WHERE (id <> 0) AND (papierkorb = 0) ORDER BY bezeichnung",
      "Lst/", "preis", ExchangeFileOf(FileKind::kServices).dataFile);
}

}  // namespace kelvanor
