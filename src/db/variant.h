// The value TDBTable::FieldAsVariant gives: always a string, converted on
// demand the way a string variant converts (the text "41" plus 1 gives 42).
#pragma once

#include <cstdint>
#include <string>

namespace kelvanor {

class TVariant {
 public:
  TVariant() = default;
  explicit TVariant(std::string text) : text_(std::move(text)) {}

  const std::string& AsString() const { return text_; }
  // Converts the text with the process decimal separator; raises
  // EConvertError with a German message when it is not a number.
  double AsDouble() const;
  // Integers convert directly; a decimal text is rounded like a variant cast.
  int64_t AsInteger() const;
  // 0 is false, any other number true; a non-number raises EConvertError.
  bool AsBoolean() const;

 private:
  std::string text_;
};

}  // namespace kelvanor
