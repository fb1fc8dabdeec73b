// mob_kunde_pferd.txt: one line per customer with live, active horses, the
// horses listed after the customer's key, each with its id, last appointment
// day and next shoeing date.
#include "export/export_writers.h"
#include "util/exchange_files.h"

namespace kelvanor {

namespace {
const char* const kCustomerHorseQuery =
    "SELECT DISTINCT besitzer.name AS bes_name, besitzer.id AS bes_index, besitzer.deaktiv AS "
    "bes_deaktiv, besitzer.papierkorb AS bes_papierkorb, pferd.name AS pfd_name, pferdindex AS "
    "pfd_index, naechsterbeschlag, pferd.deaktiv AS pfd_deaktiv, pferd.papierkorb AS "
    "pfd_papierkorb FROM (besitzer LEFT JOIN verbind ON besitzer.id = verbind.besitzerindex) "
    "LEFT JOIN pferd ON verbind.pferdindex = pferd.id WHERE (besitzer.id <> 0) AND "
    "(bes_papierkorb = 0) AND (pfd_papierkorb = 0) AND (bes_deaktiv = 0) AND (pfd_deaktiv = 0) "
    "ORDER BY UPPER(besitzer.name), vorname";
}  // namespace

void WriteCustomerHorses(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kCustomerHorses).dataFile);
  // Streamed, with the rows counted first for the progress bar: the whole
  // result held at once was the export's peak of memory.
  ctx.progress.SetStepMaximum(ProgressMaximum(RowsOf(ctx.db, kCustomerHorseQuery)));
  auto table = ctx.db.QueryStreamed(kCustomerHorseQuery);
  // A customer's horses share one line only while their rows follow each
  // other; rows come ordered by name, so two customers of the same name may
  // interleave and then get a line per run of rows.
  std::string pending;
  int64_t previousCustomer = 0;
  bool anyRow = false;
  int row = 0;
  for (; !table->Eof(); table->Next()) {
    anyRow = true;
    const int64_t customer = table->FieldAsVariant("bes_index").AsInteger();
    const std::string horseName = FieldV(*table, "pfd_name");
    if (previousCustomer == 0) {
      pending = "A/" + FieldS(*table, "bes_index") + ";" + horseName;
    } else if (customer == previousCustomer) {
      pending += ";" + horseName;
    } else {
      lines.Add(pending);
      pending = "A/" + FieldS(*table, "bes_index") + ";" + horseName;
    }
    const TVariant horse = table->FieldAsVariant("pfd_index");
    pending += "|A/" + horse.AsString() + "|" +
               ctx.LastAppointmentDay(static_cast<int32_t>(horse.AsInteger())) + "|" +
               FieldS(*table, "naechsterbeschlag");
    previousCustomer = customer;
    ctx.progress.ShowExportStep("Kunden+Pferde", ++row, kStepCustomerHorses);
  }
  if (anyRow) lines.Add(pending);
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
