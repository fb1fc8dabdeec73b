// mob_report_x.txt -> verbindbeschlag, one row per report. Reports are only
// added. The order id and the date arrive as SQL values written by the
// mobile; they are read as values and written anew, so a line can never
// carry SQL of its own into the statement.
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 16;
constexpr std::size_t kFirstTextField = 4;
// The columns of fields 4 to 16, in field order.
const char* const kTextColumns[] = {"z_ges",  "besonderheitenalt", "behandlung", "besonderheiten",
                                    "pflegehinweis", "z_vl", "z_vr", "z_hl", "z_hr", "txt_vl",
                                    "txt_vr", "txt_hl", "txt_hr"};

void ImportReportLine(ImportContext& ctx, const std::vector<std::string>& f) {
  const ReportValues report = ReadReportValues(f);
  RecordValues values;
  values.Integer("pferdindex", Resolve(ctx, report.horse, "pferd"));
  values.Value("auftragindex", report.order);
  values.Value("datum", report.date);
  for (std::size_t i = kFirstTextField; i <= kHighestField; ++i) {
    values.Text(kTextColumns[i - kFirstTextField], f[i]);
  }
  InsertValues(ctx.db, "verbindbeschlag", values);
}

}  // namespace

void ImportHoofReports(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kHoofReports, line);
    switch (read.op) {
      case LineOp::kNotTaken: ctx.KeepNotTaken(read.reason); break;
      case LineOp::kUnknown: ctx.FailLine(read.reason); break;
      default: ImportLineGuarded(ctx, [&] { ImportReportLine(ctx, read.fields); }); break;
    }
  });
}

}  // namespace kelvanor
