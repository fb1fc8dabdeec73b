// mob_termin.txt: appointments from 90 days ago on, by start; moments with
// three decimals, subjects without ";" and without tags.
#include "export/export_writers.h"
#include "util/exchange_files.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

// A date or time column as a number; an empty column counts 0.
double MomentPart(const TDBTable& row, const char* column) {
  return row.FieldIsEmpty(column) ? 0.0 : row.FieldAsNumber(column);
}

}  // namespace

std::string AppointmentQuery(double now) {
  return "SELECT id, thema, bemerkung,ort, beginn AS b, beginnzeit AS bz,ende AS e,endezeit AS ez "
         "FROM termine WHERE (id <> 0) AND (papierkorb = 0) AND (beginn > " +
         FloatToDotStr(now) + "-90.0) ORDER BY beginn, beginnzeit";
}

void WriteAppointments(ExportContext& ctx) {
  ExportLines lines(ctx, ExchangeFileOf(FileKind::kAppointments).dataFile);
  auto table = ctx.db.QueryStreamed(AppointmentQuery(ctx.now));
  for (; !table->Eof(); table->Next()) {
    const double start = MomentPart(*table, "b") + MomentPart(*table, "bz");
    const double end = MomentPart(*table, "e") + MomentPart(*table, "ez");
    // The mobile splits at ";" and shows plain text.
    const std::string subject = StripTags(ReplaceAll(FieldV(*table, "thema"), ";", ","));
    lines.Add("A/" + FieldS(*table, "id") + ";" + FormatFixedDot(start, 3) + ";" +
              FormatFixedDot(end, 3) + ";" + subject + ";" + FieldV(*table, "ort"));
  }
  table.reset();
  lines.Finish();
}

}  // namespace kelvanor
