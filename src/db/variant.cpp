#include "db/variant.h"

#include <charconv>
#include <cmath>

#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor {

namespace {
const char kNotDouble[] = "Variante des Typs (String) konnte nicht in Typ (Double) konvertiert werden";
const char kNotInt64[] = "Variante des Typs (String) konnte nicht in Typ (Int64) konvertiert werden";
const char kNotBoolean[] =
    "Variante des Typs (String) konnte nicht in Typ (Boolean) konvertiert werden";

// Whole-number text converts exactly over the full 64-bit range; going through
// a double would lose digits beyond 2^53.
bool TryParseInt64(const std::string& text, int64_t& value) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  if (first != last && *first == '+') {
    ++first;
    if (first != last && *first == '-') return false;
  }
  const auto [end, error] = std::from_chars(first, last, value);
  return error == std::errc() && end == last;
}
}  // namespace

double TVariant::AsDouble() const {
  try {
    return StrToFloat(text_);
  } catch (const EConvertError&) {
    throw EConvertError(kNotDouble);
  }
}

int64_t TVariant::AsInteger() const {
  int64_t value = 0;
  if (TryParseInt64(text_, value)) return value;
  double number = 0.0;
  try {
    number = StrToFloat(text_);
  } catch (const EConvertError&) {
    throw EConvertError(kNotInt64);
  }
  // A variant cast rounds half to even (2.5 -> 2, 3.5 -> 4), the FPU's default.
  const double rounded = std::nearbyint(number);
  if (!(rounded >= -9223372036854775808.0 && rounded < 9223372036854775808.0)) {
    throw EConvertError(kNotInt64);
  }
  return static_cast<int64_t>(rounded);
}

bool TVariant::AsBoolean() const {
  try {
    return StrToFloat(text_) != 0.0;
  } catch (const EConvertError&) {
    throw EConvertError(kNotBoolean);
  }
}

}  // namespace kelvanor
