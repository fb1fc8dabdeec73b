#include "export/export_writers.h"

#include <climits>

#include "platform/environment.h"
#include "platform/file_system.h"

namespace kelvanor {

ExportLines::ExportLines(const ExportContext& ctx, const std::string& name)
    : file_(ctx.folder + kPathSep + name) {}

// The file's own buffer gathers the lines into few writes.
void ExportLines::Add(const std::string& line) {
  file_.Append(line);
  file_.Append("\r\n", 2);
}

void ExportLines::Finish() { file_.Commit(); }

std::string ExportContext::LastAppointmentDay(int32_t horseId) {
  const std::string date = lastAppointments != nullptr ? lastAppointments->DateText(horseId)
                                                       : LastAppointmentDate(db, horseId);
  // Many horses share a date; its text is read back once.
  auto known = dayFields_.find(date);
  if (known != dayFields_.end()) return known->second;
  std::string field = LastAppointmentDayField(date);
  dayFields_.emplace(date, field);
  return field;
}

int ProgressMaximum(int64_t rows) {
  return rows > INT_MAX ? INT_MAX : static_cast<int>(rows);
}

int64_t RowsOf(TDBase& db, const std::string& query) {
  auto count = db.Query("SELECT COUNT(*) AS n FROM (" + query + ")");
  return count->Eof() ? 0 : count->FieldAsVariant("n").AsInteger();
}

std::string JoinFieldsV(const TDBTable& row, std::initializer_list<const char*> columns) {
  std::string joined;
  bool first = true;
  for (const char* column : columns) {
    if (!first) joined += ';';
    first = false;
    joined += FieldV(row, column);
  }
  return joined;
}

std::string LimitFieldsLength(std::string fields) {
  if (fields.size() > kMaxFieldsLength) fields.resize(kMaxFieldsLength);
  return fields;
}

}  // namespace kelvanor
