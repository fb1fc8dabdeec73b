// How an importer states a record once: a column map says which field of a
// change line fills which column and how the field is read; the importer adds
// the values it computes itself. The same list of values then makes the
// INSERT and the UPDATE, both run as statements with bound values that are
// prepared once per run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "db/sql.h"

namespace kelvanor {

enum class FieldKind {
  kText,             // the field as it stands
  kInteger,          // a whole number; empty or malformed is a conversion error
  kRequiredDecimal,  // a decimal with "."; empty is a conversion error
  kRequiredDay,      // a day number with "."; empty is a conversion error
  kDecimal,          // a decimal with "."; empty is 0
  kMomentDay,        // a day number with "." (empty is 0): its whole days
  kMomentTime,       // the same day number's time of day (the fraction)
};

struct MappedField {
  std::string column;
  std::size_t field;
  FieldKind kind;
  // How the office calls the field; a conversion error names it.
  std::string label;
};

using ColumnMap = std::vector<MappedField>;

struct ColumnValue {
  std::string column;
  SqlParam value;
};

// One record's columns with their values, in statement order.
class RecordValues {
 public:
  RecordValues() = default;
  // The mapped fields of a line, read in map order (so the first field in
  // error is the one reported, by its label); fields in `skipped` are left
  // out, unread.
  RecordValues(const ColumnMap& map, const std::vector<std::string>& fields,
               const std::set<std::size_t>* skipped = nullptr);

  RecordValues& Text(const std::string& column, const std::string& text);
  RecordValues& Integer(const std::string& column, int64_t value);
  // A number as the import writes it: the general format with ".".
  RecordValues& Number(const std::string& column, double value);
  // A value the line itself gives as SQL literal (see the hoof reports).
  RecordValues& Value(const std::string& column, SqlParam value);

  const std::vector<ColumnValue>& Columns() const { return columns_; }

 private:
  std::vector<ColumnValue> columns_;
};

// A new row of `table` with these values and the next id of its counter
// (TDBase::InsertRecordBound); a refused row raises ERecordRefused.
int32_t InsertValues(TDBase& db, const std::string& table, const RecordValues& values,
                     const std::string& idColumn = "id");

// UPDATE table SET columns WHERE whereColumn = id; a refused statement
// raises ERecordRefused. True when a row was changed.
bool UpdateValues(TDBase& db, const std::string& table, const RecordValues& values,
                  const std::string& whereColumn, int64_t id);

}  // namespace kelvanor
