#include "db/sql.h"

#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

std::string SqlString(const std::string& text) {
  // SQLite reads the statement as a C string: a NUL would end it early.
  const std::string value = text.substr(0, text.find('\0'));
  return "'" + ReplaceAll(value, "'", "''") + "'";
}

std::string SqlNumber(double value) { return FloatToDotStr(value); }

}  // namespace kelvanor
