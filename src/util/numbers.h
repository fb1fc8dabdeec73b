// Number <-> text without the C locale. The process keeps one decimal
// separator (the user's, read once at start); callers that need another pass
// it explicitly.
#pragma once

#include <cstdint>
#include <string>

namespace kelvanor {

// The process-wide decimal separator ("," on German systems).
char DecimalSeparator();
void SetDecimalSeparator(char separator);

// Sets the process separator for one scope and restores it afterwards.
class ScopedDecimalSeparator {
 public:
  explicit ScopedDecimalSeparator(char separator);
  ~ScopedDecimalSeparator();
  ScopedDecimalSeparator(const ScopedDecimalSeparator&) = delete;
  ScopedDecimalSeparator& operator=(const ScopedDecimalSeparator&) = delete;

 private:
  char previous_;
};

// The general format: shortest text with up to 15 significant digits, no
// thousands separator, no trailing zeros or trailing separator (3, 12.5,
// 29.4117647058824). Very large or small magnitudes use an exponent (1E20).
// Like the host program's runtime, an exact half rounds away from zero.
std::string FormatGeneral(double value, char separator);
// The number FormatGeneral's text stands for, read back: `value` rounded to
// 15 significant digits by the same rule, without making the text.
double RoundToGeneral(double value);
// FormatGeneral with the process separator.
std::string FloatToStr(double value);
// FormatGeneral with "." whatever the process separator.
std::string FloatToDotStr(double value);
// Fixed number of decimals with ".", e.g. FormatFixedDot(46363.4375, 3) = "46363.438";
// an exact half rounds away from zero: FormatFixedDot(46363.0625, 3) = "46363.063".
std::string FormatFixedDot(double value, int decimals);

// Plain decimal integer (optional sign, digits, 32-bit range; leading blanks
// are tolerated like the host platform does). Anything else raises
// EConvertError with a German message naming the text.
int32_t StrToInt(const std::string& text);
// Decimal number whose separator is `separator` (optional sign, digits, one
// separator, optional exponent). Raises EConvertError otherwise.
double StrToFloat(const std::string& text, char separator);
// StrToFloat with the process separator.
double StrToFloat(const std::string& text);

// The import's rule for decimals in change files: empty gives 0; otherwise
// every "." becomes the process separator and the text is converted.
double ParseDecimal(const std::string& text);
// The same for fields that must be given: an empty text is a conversion error.
double ParseRequiredDecimal(const std::string& text);

// The same conversions for a field of a received line, named in the office's
// words (`what`): a field that does not convert raises EConvertError saying
// which field and what is wrong with it, never the type a programmer would
// name ('Betrag "abc" ist keine Zahl', 'Betrag fehlt').
int32_t FieldToInt(const std::string& what, const std::string& text);
double FieldToDecimal(const std::string& what, const std::string& text);
double FieldToRequiredDecimal(const std::string& what, const std::string& text);
// A day number (a date, perhaps with its time): 'Datum "heute" ist kein Datum'.
double FieldToDay(const std::string& what, const std::string& text);
double FieldToRequiredDay(const std::string& what, const std::string& text);
// Raises the EConvertError for a field that does not convert: 'fehlt' when
// it is blank, else `what`, the text in quotes and `isNot`.
[[noreturn]] void RefuseField(const std::string& what, const std::string& text,
                              const std::string& isNot);

}  // namespace kelvanor
