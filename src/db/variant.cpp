#include "db/variant.h"

#include <cmath>

#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor {

namespace {
bool IsPlainInteger(const std::string& text) {
  std::size_t i = 0;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) ++i;
  if (i >= text.size() || text.size() - i > 18) return false;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
  }
  return true;
}
}  // namespace

double TVariant::AsDouble() const {
  try {
    return StrToFloat(text_);
  } catch (const EConvertError&) {
    throw EConvertError("Variante des Typs (String) konnte nicht in Typ (Double) konvertiert werden");
  }
}

int64_t TVariant::AsInteger() const {
  if (IsPlainInteger(text_)) return std::stoll(text_);
  try {
    return static_cast<int64_t>(std::llround(StrToFloat(text_)));
  } catch (const EConvertError&) {
    throw EConvertError("Variante des Typs (String) konnte nicht in Typ (Int64) konvertiert werden");
  }
}

bool TVariant::AsBoolean() const {
  try {
    return AsDouble() != 0.0;
  } catch (const EConvertError&) {
    throw EConvertError("Variante des Typs (String) konnte nicht in Typ (Boolean) konvertiert werden");
  }
}

}  // namespace kelvanor
