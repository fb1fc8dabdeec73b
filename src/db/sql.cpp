#include "db/sql.h"

#include <sqlite3.h>

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <unordered_map>

#include "db/sqlite_database.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

std::string SqlString(const std::string& text) {
  // SQLite reads the statement as a C string: a NUL would end it early.
  const std::string value = text.substr(0, text.find('\0'));
  return "'" + ReplaceAll(value, "'", "''") + "'";
}

std::string SqlNumber(double value) { return FloatToDotStr(value); }

namespace {

// SQLite's own conversion of a real literal, which is not always the
// correctly rounded double (it may differ in the last bit) and reads an
// exponent too large as infinity: a bound value must carry the very bits the
// literal in a statement would have stored. One private in-memory connection
// per thread, since connections are used by one thread.
double RealAsSqliteReadsIt(const std::string& literal) {
  struct Converter {
    sqlite3* db = nullptr;
    sqlite3_stmt* cast = nullptr;
    Converter() {
      if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr) ==
          SQLITE_OK) {
        sqlite3_prepare_v2(db, "SELECT CAST(?1 AS REAL)", -1, &cast, nullptr);
      }
    }
    ~Converter() {
      sqlite3_finalize(cast);
      sqlite3_close(db);
    }
  };
  thread_local Converter converter;
  if (converter.cast == nullptr) throw ESQLiteException(W1252("Zahlenumwandlung nicht möglich"), 0);
  sqlite3_bind_text(converter.cast, 1, literal.data(), static_cast<int>(literal.size()),
                    SQLITE_TRANSIENT);
  double value = 0;
  if (sqlite3_step(converter.cast) == SQLITE_ROW) value = sqlite3_column_double(converter.cast, 0);
  sqlite3_reset(converter.cast);
  return value;
}

}  // namespace

SqlParam SqlParam::Text(std::string text) {
  // A literal ends at a NUL too (see SqlString): stored the same either way.
  const std::size_t nul = text.find('\0');
  if (nul != std::string::npos) text.resize(nul);
  return SqlParam(Kind::kText, std::move(text));
}

SqlParam SqlParam::Number(std::string literal) {
  SqlParam param(Kind::kNumber, std::move(literal));
  const std::string& text = param.text_;
  // SQLite reads a literal of digits alone (a sign is an operator before it)
  // as an integer while it fits 64 bits, anything else as a real.
  std::size_t digitsFrom = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  bool digitsOnly = digitsFrom < text.size();
  for (std::size_t i = digitsFrom; i < text.size(); ++i) {
    digitsOnly = digitsOnly && text[i] >= '0' && text[i] <= '9';
  }
  if (digitsOnly) {
    errno = 0;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (errno == 0 && end != nullptr && *end == '\0') {
      param.isInteger_ = true;
      param.integer_ = value;
      return param;
    }
  }
  // from_chars, not strtod: the user's locale may use a decimal comma. It
  // only checks the form; the value is read as SQLite reads the literal.
  const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  double ignored = 0;
  const auto read = std::from_chars(first, text.data() + text.size(), ignored);
  if ((read.ec != std::errc() && read.ec != std::errc::result_out_of_range) ||
      read.ptr != text.data() + text.size()) {
    throw EConvertError("'" + text + W1252("' ist keine gültige Zahl"));
  }
  param.real_ = RealAsSqliteReadsIt(text);
  return param;
}

SqlParam SqlParam::Integer(int64_t value) {
  // Digits alone that fit 64 bits: Number would read them back as this very
  // integer.
  SqlParam param(Kind::kNumber, std::to_string(value));
  param.isInteger_ = true;
  param.integer_ = value;
  return param;
}

SqlParam SqlParam::Real(double value) {
  // An import binds the same few dates and prices again and again, and the
  // literal with the value SQLite reads from it is a function of the double
  // alone: each is worked out once per thread (a few thousand kept at most).
  thread_local std::unordered_map<uint64_t, SqlParam> known;
  uint64_t bits = 0;
  std::memcpy(&bits, &value, sizeof bits);
  const auto found = known.find(bits);
  if (found != known.end()) return found->second;
  SqlParam param = Number(SqlNumber(value));
  if (known.size() >= 4096) known.clear();
  known.emplace(bits, param);
  return param;
}

}  // namespace kelvanor
