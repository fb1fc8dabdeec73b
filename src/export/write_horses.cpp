// mob_pferd.txt: every live, active horse, by name; a horse in two stables
// gives two lines.
#include "export/export_writers.h"
#include "util/exchange_files.h"

namespace kelvanor {

namespace {
const char* const kHorseQuery =
    "SELECT DISTINCT pferd.id AS pferd_id, pferd.name AS pf_name, beschlagsrhythmus, "
    "naechsterbeschlag, stall.id AS stall_id, stall.name AS st_name, plz, ort FROM pferd LEFT "
    "JOIN verbindstall ON pferd.id=verbindstall.pferdindex LEFT JOIN stall ON stall.id = "
    "verbindstall.stallindex WHERE (pferd.id <> 0) AND (pferd.papierkorb = 0) AND (deaktiv = 0) "
    "ORDER BY pferd.name";
}  // namespace

void WriteHorses(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kHorses).dataFile);
  // Streamed, with the rows counted first for the progress bar: the whole
  // result held at once was the export's peak of memory.
  ctx.progress.SetStepMaximum(ProgressMaximum(RowsOf(ctx.db, kHorseQuery)));
  auto table = ctx.db.QueryStreamed(kHorseQuery);
  int row = 0;
  for (; !table->Eof(); table->Next()) {
    const TVariant horse = table->FieldAsVariant("pferd_id");
    const std::string lastDay = ctx.LastAppointmentDay(static_cast<int32_t>(horse.AsInteger()));
    // A horse without a stable shows empty stable texts; its stable key reads
    // A/0 when stall.id is declared numeric.
    lines.Add("A/" + FieldS(*table, "pferd_id") + ";" + FieldV(*table, "pf_name") + ";" +
              FieldV(*table, "st_name") + ";" + FieldS(*table, "beschlagsrhythmus") + ";" +
              lastDay + ";" + FieldS(*table, "naechsterbeschlag") + ";A/" +
              FieldV(*table, "stall_id") + ";" + FieldV(*table, "plz") + ";" +
              FieldV(*table, "ort"));
    ctx.progress.ShowExportStep("Pferde", ++row, kStepHorses);
  }
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
