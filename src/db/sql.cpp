#include "db/sql.h"

#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <stdexcept>

#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

std::string SqlString(const std::string& text) {
  // SQLite reads the statement as a C string: a NUL would end it early.
  const std::string value = text.substr(0, text.find('\0'));
  return "'" + ReplaceAll(value, "'", "''") + "'";
}

std::string SqlNumber(double value) { return FloatToDotStr(value); }

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
  // from_chars, not strtod: the user's locale may use a decimal comma.
  const char* first = text.data() + (!text.empty() && text[0] == '+' ? 1 : 0);
  const auto read = std::from_chars(first, text.data() + text.size(), param.real_);
  if (read.ec != std::errc() || read.ptr != text.data() + text.size()) {
    throw std::invalid_argument("not a number literal: " + text);
  }
  return param;
}

}  // namespace kelvanor
