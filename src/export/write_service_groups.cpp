// mob_leistgruppe.txt: every live service group; the mobile expects a third
// field, always 100.
#include "export/export_writers.h"
#include "util/exchange_files.h"

namespace kelvanor {

void WriteServiceGroups(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kServiceGroups).dataFile);
  auto table = ctx.db.QueryStreamed(
      "SELECT * FROM leistgruppen WHERE (id <> 0) AND (papierkorb = 0) ORDER BY bezeichnung");
  for (; !table->Eof(); table->Next()) {
    lines.Add("Lgr/" + FieldS(*table, "id") + ";" + FieldV(*table, "bezeichnung") + ";100");
  }
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
