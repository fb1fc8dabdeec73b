// mob_stall.txt: every live stable, by name.
#include "export/export_writers.h"
#include "util/exchange_files.h"

namespace kelvanor {

void WriteStables(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kStables).dataFile);
  auto table = ctx.db.QueryStreamed(
      "SELECT * FROM stall WHERE (id <> 0) AND (papierkorb = 0) ORDER BY name");
  for (; !table->Eof(); table->Next()) {
    lines.Add("A/" + FieldS(*table, "id") + ";" +
              LimitFieldsLength(JoinFieldsV(
                  *table, {"name", "ansprechpartner", "telefon", "strasse", "plz", "ort", "land"})));
  }
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
