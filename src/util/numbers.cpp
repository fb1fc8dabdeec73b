#include "util/numbers.h"

#include <atomic>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "platform/environment.h"
#include "util/errors.h"

namespace kelvanor {

namespace {
std::atomic<char> g_decimalSeparator{'.'};

[[noreturn]] void ThrowNotFloat(const std::string& text) {
  throw EConvertError("'" + text + "' ist kein g\xFCltiger Gleitkommawert");
}
[[noreturn]] void ThrowNotInteger(const std::string& text) {
  throw EConvertError("'" + text + "' ist kein g\xFCltiger Integerwert");
}
}  // namespace

char DecimalSeparator() { return g_decimalSeparator.load(); }

void SetDecimalSeparator(char separator) { g_decimalSeparator.store(separator); }

void InitDecimalSeparatorFromLocale() {
  // Read without changing the C library's global locale: it stays "C", so
  // no printf anywhere starts writing commas behind our back.
  const char separator = UserDecimalSeparator();
  if (separator != '\0') SetDecimalSeparator(separator);
}

ScopedDecimalSeparator::ScopedDecimalSeparator(char separator) : previous_(DecimalSeparator()) {
  SetDecimalSeparator(separator);
}

ScopedDecimalSeparator::~ScopedDecimalSeparator() { SetDecimalSeparator(previous_); }

std::string FormatGeneral(double value, char separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  if (value == 0.0) return "0";  // also -0
  char buf[64];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string raw(buf, res.ptr);
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

std::string FloatToStr(double value) { return FormatGeneral(value, DecimalSeparator()); }

std::string FloatToDotStr(double value) { return FormatGeneral(value, '.'); }

std::string FormatFixedDot(double value, int decimals) {
  char buf[400];
  auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed, decimals);
  if (res.ec != std::errc()) return FloatToDotStr(value);
  std::string out(buf, res.ptr);
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

double ParseRequiredDecimal(const std::string& text) {
  const char sep = DecimalSeparator();
  std::string local = text;
  for (char& c : local) {
    if (c == '.') c = sep;
  }
  return StrToFloat(local, sep);
}

}  // namespace kelvanor
