// mob_termin_x.txt -> termine. Every line is guarded: a line whose error is
// caught fails alone.
#include <string>
#include <vector>

#include "import/import.h"
#include "import/record_values.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 10;

// A moment as the calendar stores it: the day in one column, the time of day
// as fraction in the other. A blank field is the zero moment. The subject is
// added by the importer (see RewriteSubject).
const ColumnMap& AppointmentColumns() {
  static const ColumnMap map = {{"beginn", 1, FieldKind::kMomentDay},
                                {"beginnzeit", 1, FieldKind::kMomentTime},
                                {"ende", 2, FieldKind::kMomentDay},
                                {"endezeit", 2, FieldKind::kMomentTime},
                                {"ort", 4, FieldKind::kText}};
  return map;
}

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
  std::vector<std::string> parts;
  SplitFieldsBy('/', subject, parts, 3);
  return kindPrefix + std::to_string(LookupCreatedId(ctx, tableKey, StrToInt(parts[2])));
}

void ImportAppointmentLine(ImportContext& ctx, const std::vector<std::string>& f) {
  std::vector<std::string> op;
  SplitFieldsBy('/', f[0], op, 1);
  std::optional<std::set<std::size_t>> untouched;
  if (op[0] != "N") untouched = ctx.UntouchedFields(FileKind::kAppointments, StrToInt(op[1]), f);
  RecordValues values(AppointmentColumns(), f, untouched ? &*untouched : nullptr);
  if (!untouched || untouched->count(3) == 0) values.Text("thema", RewriteSubject(ctx, f[3]));
  const int32_t id = StrToInt(op[1]);
  if (op[0] == "N") {
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
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "D/")) {
      ImportLineGuarded(ctx, [&] { RecycleRecord(ctx, f[0], "termine", "termin", "Termin"); });
    } else if (StartsWith(f[0], "N/") || StartsWith(f[0], "A/")) {
      ImportLineGuarded(ctx, [&] { ImportAppointmentLine(ctx, f); }, "termin");
    } else {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
    }
  });
}

}  // namespace kelvanor
