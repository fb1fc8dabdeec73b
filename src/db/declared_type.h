// The declared type of a column as the schema spells it.
//
// Since SQLite 3.37 sqlite3_column_decltype() gives the standard type names
// (INT, INTEGER, REAL, TEXT, BLOB, ANY) upper-cased whatever the schema says,
// but how the host's values read depends on the exact spelling ("integer" in
// lower case reads as text). The spelling survives only in the CREATE TABLE
// text kept in sqlite_schema.
#pragma once

#include <optional>
#include <string>

namespace kelvanor {

// The type of `column` (compared without regard to ASCII case) in the column
// list of `createSql`, exactly as written, or nullopt when the text has no such
// column. A column without a type gives "".
std::optional<std::string> DeclaredTypeInCreateTable(const std::string& createSql,
                                                     const std::string& column);

}  // namespace kelvanor
