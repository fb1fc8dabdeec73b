// mob_termin_x.txt -> termine. Every line is guarded: a line whose error is
// caught fails alone.
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

// The subject names the customer or horse the appointment is about; one
// created on the mobile is named by its mobile id and must get its database id.
std::string RewriteSubject(const ImportContext& ctx, const std::string& subject) {
  std::string kindPrefix;
  std::string tableKey;
  if (subject.compare(0, 5, "kd/N/") == 0) {
    kindPrefix = "kd/A/";
    tableKey = "besitzer";
  } else if (subject.compare(0, 6, "pfd/N/") == 0) {
    kindPrefix = "pfd/A/";
    tableKey = "pferd";
  } else {
    return subject;
  }
  return kindPrefix + std::to_string(LookupCreatedId(ctx, tableKey, ReadSubjectId(subject)));
}

void ImportAppointmentLine(ImportContext& ctx, const ClassifiedLine& read) {
  const std::vector<std::string>& f = read.fields;
  const bool isNew = read.op == LineOp::kNew;
  std::optional<std::set<std::size_t>> untouched;
  if (!isNew) untouched = ctx.UntouchedFields(FileKind::kAppointments, ReadLineId(f), f);
  RecordValues values =
      ReadRecordColumns(FileKind::kAppointments, f, untouched ? &*untouched : nullptr);
  if (!untouched || untouched->count(3) == 0) values.Text("thema", RewriteSubject(ctx, f[3]));
  const int32_t id = ReadLineId(f);
  if (isNew) {
    values.Text("ursprung", "")
        .Text("bemerkung", "")
        .Integer("msoutlook", 0)
        .Number("erstelltam", ctx.Now())
        .Text("erstelltvon", "MOB");
    ctx.idMap.AddIdMapEntry("termin", id, InsertValues(ctx.db, "termine", values));
  } else {
    UpdateChangedRecord(ctx, "termine", values, id);
  }
}

}  // namespace

void ImportAppointments(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kAppointments, line);
    switch (read.op) {
      case LineOp::kDeleted:
        ImportLineGuarded(ctx, [&] {
          RecycleRecord(ctx, read.fields[0], "termine", "termin", "Termin");
        });
        break;
      case LineOp::kNew:
      case LineOp::kChanged:
        ImportLineGuarded(ctx, [&] { ImportAppointmentLine(ctx, read); }, "termin");
        break;
      default: ctx.FailLine(read.reason); break;
    }
  });
}

}  // namespace kelvanor
