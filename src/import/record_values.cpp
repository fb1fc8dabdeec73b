#include "import/record_values.h"

#include <cmath>

#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

double MomentOf(const std::string& label, const std::string& field) {
  return Trim(field).empty() ? 0.0 : FieldToDay(label, field);
}

SqlParam FieldValue(const std::string& field, FieldKind kind, const std::string& label) {
  switch (kind) {
    case FieldKind::kText:
      return SqlParam::Text(field);
    case FieldKind::kInteger:
      return SqlParam::Integer(FieldToInt(label, field));
    case FieldKind::kRequiredDecimal:
      return SqlParam::Real(FieldToRequiredDecimal(label, field));
    case FieldKind::kRequiredDay:
      return SqlParam::Real(FieldToRequiredDay(label, field));
    case FieldKind::kDecimal:
      return SqlParam::Real(FieldToDecimal(label, field));
    case FieldKind::kMomentDay:
      return SqlParam::Real(std::trunc(MomentOf(label, field)));
    case FieldKind::kMomentTime: {
      const double moment = MomentOf(label, field);
      return SqlParam::Real(moment - std::trunc(moment));
    }
  }
  return SqlParam::Null();
}

std::string Placeholder(std::size_t index) { return "?" + std::to_string(index + 1); }

SqlParams ParamsOf(const RecordValues& values) {
  SqlParams params;
  params.reserve(values.Columns().size() + 1);
  for (const ColumnValue& column : values.Columns()) params.push_back(column.value);
  return params;
}

}  // namespace

RecordValues::RecordValues(const ColumnMap& map, const std::vector<std::string>& fields,
                           const std::set<std::size_t>* skipped) {
  columns_.reserve(map.size() + 4);
  for (const MappedField& mapped : map) {
    if (skipped != nullptr && skipped->count(mapped.field) > 0) continue;
    columns_.push_back(
        {mapped.column, FieldValue(fields[mapped.field], mapped.kind, mapped.label)});
  }
}

RecordValues& RecordValues::Text(const std::string& column, const std::string& text) {
  return Value(column, SqlParam::Text(text));
}

RecordValues& RecordValues::Integer(const std::string& column, int64_t value) {
  return Value(column, SqlParam::Integer(value));
}

RecordValues& RecordValues::Number(const std::string& column, double value) {
  return Value(column, SqlParam::Real(value));
}

RecordValues& RecordValues::Value(const std::string& column, SqlParam value) {
  columns_.push_back({column, std::move(value)});
  return *this;
}

int32_t InsertValues(TDBase& db, const std::string& table, const RecordValues& values,
                     const std::string& idColumn) {
  std::vector<std::string> columns;
  columns.reserve(values.Columns().size());
  for (const ColumnValue& column : values.Columns()) columns.push_back(column.column);
  return db.InsertRecordBoundChecked(table, columns, ParamsOf(values), idColumn);
}

bool UpdateValues(TDBase& db, const std::string& table, const RecordValues& values,
                  const std::string& whereColumn, int64_t id) {
  std::string assignments;
  const std::size_t count = values.Columns().size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) assignments += ',';
    assignments += values.Columns()[i].column + "=" + Placeholder(i);
  }
  SqlParams params = ParamsOf(values);
  params.push_back(SqlParam::Integer(id));
  db.ExecuteBoundChecked("UPDATE " + table + " SET " + assignments + " WHERE " + whereColumn +
                             "=" + Placeholder(count),
                         params);
  return db.Changes() > 0;
}

}  // namespace kelvanor
