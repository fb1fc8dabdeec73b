// mob_termin_x.txt -> termine. New and changed appointments are guarded per
// line; a deletion that cannot be read ends the import.
#include <cmath>
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 10;

struct DateAndTime {
  std::string date;
  std::string time;
};

// A moment as the calendar stores it: the day in one column, the time of day
// as fraction in the other. A blank field is the zero moment.
DateAndTime SplitMoment(const std::string& text) {
  const double moment = Trim(text).empty() ? 0.0 : ParseDecimal(text);
  const double day = std::trunc(moment);
  return {SqlNumber(day), SqlNumber(moment - day)};
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
  const DateAndTime start = SplitMoment(f[1]);
  const DateAndTime end = SplitMoment(f[2]);
  const std::string subject = SqlString(RewriteSubject(ctx, f[3]));
  const std::string place = SqlString(f[4]);
  if (op[0] == "N") {
    const int32_t mobileId = StrToInt(op[1]);
    const std::string sql =
        "INSERT INTO termine (beginn,beginnzeit,ende,endezeit,thema,ort,ursprung,bemerkung,"
        "msoutlook,erstelltam,erstelltvon) VALUES (" +
        start.date + "," + start.time + "," + end.date + "," + end.time + "," + subject + "," +
        place + ",'','',0," + ctx.NowLiteral() + ",'MOB')";
    ctx.idMap.AddIdMapEntry("termin", mobileId, ctx.db.InsertRecordChecked(sql, "termine", "id"));
  } else {
    const int32_t dbId = StrToInt(op[1]);
    UpdateChangedRecord(ctx, "UPDATE termine SET beginn=" + start.date + ",beginnzeit=" + start.time +
                   ",ende=" + end.date + ",endezeit=" + end.time + ",thema=" + subject +
                   ",ort=" + place + " WHERE ID=" + std::to_string(dbId));
  }
}

}  // namespace

void ImportAppointments(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "D/")) {
      RecycleRecord(ctx, f[0], "termine", "termin", "Termin");
    } else if (StartsWith(f[0], "N/") || StartsWith(f[0], "A/")) {
      ImportLineGuarded(ctx, [&] { ImportAppointmentLine(ctx, f); }, "termin");
    }
  });
}

}  // namespace kelvanor
