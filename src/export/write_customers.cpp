// mob_kunde.txt: every live, active customer, by name and first name.
#include "export/export_writers.h"
#include "util/exchange_files.h"

namespace kelvanor {

void WriteCustomers(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kCustomers).dataFile);
  auto table = ctx.db.QueryStreamed(
      "SELECT * FROM besitzer WHERE (id <> 0) AND (papierkorb = 0) AND (deaktiv = 0) "
      "ORDER BY name, vorname");
  for (; !table->Eof(); table->Next()) {
    // The key stays outside the length limit.
    lines.Add("A/" + FieldS(*table, "id") + ";" +
              LimitFieldsLength(JoinFieldsV(
                  *table, {"anrede", "name", "vorname", "kundennr", "telefon", "strasse", "plz",
                           "ort", "email", "preisstufe", "telefonhandy", "land"})));
  }
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
