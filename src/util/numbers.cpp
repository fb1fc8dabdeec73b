#include "util/numbers.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "util/errors.h"

namespace kelvanor {

namespace {
std::atomic<char> g_decimalSeparator{'.'};

[[noreturn]] void ThrowNotFloat(const std::string& text) {
  throw EConvertError("\"" + text + "\" ist keine Zahl");
}
[[noreturn]] void ThrowNotInteger(const std::string& text) {
  throw EConvertError("\"" + text + "\" ist keine ganze Zahl");
}

// Whether |value| * 10^shift lies exactly halfway between two integers: the
// one case where to_chars (half to even) and the host program's runtime (half
// away from zero) round differently. Decided on the exact binary value.
bool IsExactHalf(double value, int shift) {
  if (!std::isfinite(value) || value == 0.0) return false;
  int exponent = 0;
  const double fraction = std::frexp(std::fabs(value), &exponent);
  auto mantissa = static_cast<uint64_t>(std::ldexp(fraction, 53));
  exponent -= 53;
  while ((mantissa & 1u) == 0) {
    mantissa >>= 1;
    ++exponent;
  }
  // |value| = mantissa * 2^exponent with an odd mantissa, so
  // 2 * |value| * 10^shift = mantissa * 5^shift * 2^(exponent + 1 + shift)
  // is an odd integer exactly when the power of two vanishes and, for a
  // negative shift, 5^-shift divides the mantissa.
  if (exponent + 1 + shift != 0) return false;
  for (int i = shift; i < 0; ++i) {
    if (mantissa % 5 != 0) return false;
    mantissa /= 5;
  }
  return true;
}

// The exact text of a half ("46363.0625") rounded away from zero at one digit
// less ("46363.063"); the carry runs over the point ("9.95" -> "10.0").
std::string RoundHalfTextAway(std::string text) {
  text.pop_back();  // the 5
  if (!text.empty() && text.back() == '.') text.pop_back();
  std::size_t i = text.size();
  while (i > 0) {
    char& c = text[--i];
    if (c == '.') continue;
    if (c < '0' || c > '9') {
      ++i;
      break;
    }
    if (c != '9') {
      ++c;
      return text;
    }
    c = '0';
  }
  text.insert(i, 1, '1');
  return text;
}
}  // namespace

char DecimalSeparator() { return g_decimalSeparator.load(); }

void SetDecimalSeparator(char separator) { g_decimalSeparator.store(separator); }

ScopedDecimalSeparator::ScopedDecimalSeparator(char separator) : previous_(DecimalSeparator()) {
  SetDecimalSeparator(separator);
}

ScopedDecimalSeparator::~ScopedDecimalSeparator() { SetDecimalSeparator(previous_); }

namespace {

// The shortest text of `value` with up to 15 significant digits in
// std::to_chars' general form ("12.5", "1e+20"), an exact half at the
// sixteenth digit rounded away from zero. `value` is finite and not 0.
std::string GeneralDigits(double value) {
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  // Sixteen significant digits show such a half exactly ("d.ddd...5e+XX").
  char sci[64];
  char* sciStop =
      std::to_chars(sci, sci + sizeof sci - 1, value, std::chars_format::scientific, 15).ptr;
  *sciStop = '\0';  // atoi reads the exponent up to here
  const char* sciBegin = sci;
  const char* sciEnd = sciStop;
  const char* e = std::find(sciBegin, sciEnd, 'e');
  // Only a sixteenth digit 5 can be an exact half.
  if (e[-1] == '5') {
    const int exponent10 = std::atoi(e + 1);
    if (IsExactHalf(value, 14 - exponent10)) {
      const std::string rounded = RoundHalfTextAway(std::string(sciBegin, e)) + std::string(e, sciEnd);
      double away = 0.0;
      const char* first = rounded.c_str() + (rounded[0] == '-' ? 1 : 0);
      std::from_chars(first, rounded.c_str() + rounded.size(), away);
      if (rounded[0] == '-') away = -away;
      res = std::to_chars(buf, buf + sizeof buf, away, std::chars_format::general, 15);
    }
  }
  return std::string(buf, res.ptr);
}

bool IsSmallWholeNumber(double value) {
  return std::fabs(value) < 1e15 && value == std::trunc(value);
}

}  // namespace

std::string FormatGeneral(double value, char separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0.0) return "0";  // also -0
  // Whole numbers of up to 15 digits (days, ids, most prices) need no
  // rounding: their digits are the text.
  if (IsSmallWholeNumber(value)) return std::to_string(static_cast<int64_t>(value));
  const std::string raw = GeneralDigits(value);
  std::string mantissa = raw;
  std::string exponent;
  std::size_t e = raw.find('e');
  if (e != std::string::npos) {
    mantissa = raw.substr(0, e);
    int exp = std::atoi(raw.c_str() + e + 1);
    exponent = "E" + std::to_string(exp);
  }
  std::size_t dot = mantissa.find('.');
  if (dot != std::string::npos) mantissa[dot] = separator;
  return mantissa + exponent;
}

double RoundToGeneral(double value) {
  if (!std::isfinite(value) || value == 0.0 || IsSmallWholeNumber(value)) return value;

  const std::string raw = GeneralDigits(value);
  double rounded = 0.0;
  const char* first = raw.c_str() + (raw[0] == '-' ? 1 : 0);
  std::from_chars(first, raw.c_str() + raw.size(), rounded);
  return raw[0] == '-' ? -rounded : rounded;
}

std::string FloatToStr(double value) { return FormatGeneral(value, DecimalSeparator()); }

std::string FloatToDotStr(double value) { return FormatGeneral(value, '.'); }

std::string FormatFixedDot(double value, int decimals) {
  char buf[400];
  // An exact half goes away from zero (0.0625 -> 0.063, not 0.062): shown
  // with one decimal more it is exact, and the last kept digit goes up.
  const bool half = IsExactHalf(value, decimals);
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed,
                           half ? decimals + 1 : decimals);
  if (res.ec != std::errc()) return FloatToDotStr(value);
  std::string out(buf, res.ptr);
  if (half) out = RoundHalfTextAway(out);
  if (out[0] == '-' && out.find_first_not_of("-0.") == std::string::npos) out.erase(0, 1);
  return out;
}

int32_t StrToInt(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i >= text.size()) ThrowNotInteger(text);
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    char c = text[i];
    if (c < '0' || c > '9') ThrowNotInteger(text);
    value = value * 10 + (c - '0');
    if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) ThrowNotInteger(text);
  }
  if (negative) value = -value;
  if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) {
    ThrowNotInteger(text);
  }
  return static_cast<int32_t>(value);
}

double StrToFloat(const std::string& text, char separator) {
  std::size_t b = 0;
  std::size_t e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string normal;
  std::size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) {
    if (text[i] == '-') normal += '-';
    ++i;
  }
  int digits = 0;
  while (i < e && text[i] >= '0' && text[i] <= '9') {
    normal += text[i++];
    ++digits;
  }
  if (i < e && text[i] == separator) {
    normal += '.';
    ++i;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      normal += text[i++];
      ++digits;
    }
  }
  if (digits == 0) ThrowNotFloat(text);
  if (i < e && (text[i] == 'e' || text[i] == 'E')) {
    normal += 'e';
    ++i;
    if (i < e && (text[i] == '+' || text[i] == '-')) normal += text[i++];
    int expDigits = 0;
    while (i < e && text[i] >= '0' && text[i] <= '9') {
      normal += text[i++];
      ++expDigits;
    }
    if (expDigits == 0) ThrowNotFloat(text);
  }
  if (i != e) ThrowNotFloat(text);
  double value = 0;
  const char* first = normal.c_str();
  if (*first == '-') ++first;
  auto res = std::from_chars(first, normal.c_str() + normal.size(), value);
  if (res.ec != std::errc() || !std::isfinite(value)) ThrowNotFloat(text);
  return normal[0] == '-' ? -value : value;
}

double StrToFloat(const std::string& text) { return StrToFloat(text, DecimalSeparator()); }

double ParseDecimal(const std::string& text) {
  if (text.empty()) return 0.0;
  return ParseRequiredDecimal(text);
}

void RefuseField(const std::string& what, const std::string& text, const std::string& isNot) {
  if (text.find_first_not_of(" \t") == std::string::npos) throw EConvertError(what + " fehlt");
  throw EConvertError(what + " \"" + text + "\" " + isNot);
}

namespace {
// `convert`, its conversion error said with the field's name.
template <typename Convert>
auto Named(const std::string& what, const std::string& text, const char* isNot,
           Convert convert) {
  try {
    return convert();
  } catch (const EConvertError&) {
    RefuseField(what, text, isNot);
  }
}
constexpr const char* kNoNumber = "ist keine Zahl";
constexpr const char* kNoDate = "ist kein Datum";
}  // namespace

int32_t FieldToInt(const std::string& what, const std::string& text) {
  return Named(what, text, "ist keine ganze Zahl", [&] { return StrToInt(text); });
}

double FieldToDecimal(const std::string& what, const std::string& text) {
  return Named(what, text, kNoNumber, [&] { return ParseDecimal(text); });
}

double FieldToRequiredDecimal(const std::string& what, const std::string& text) {
  return Named(what, text, kNoNumber, [&] { return ParseRequiredDecimal(text); });
}

double FieldToDay(const std::string& what, const std::string& text) {
  return Named(what, text, kNoDate, [&] { return ParseDecimal(text); });
}

double FieldToRequiredDay(const std::string& what, const std::string& text) {
  return Named(what, text, kNoDate, [&] { return ParseRequiredDecimal(text); });
}

double ParseRequiredDecimal(const std::string& text) {
  const char sep = DecimalSeparator();
  std::string local = text;
  for (char& c : local) {
    if (c == '.') c = sep;
  }
  return StrToFloat(local, sep);
}

}  // namespace kelvanor
