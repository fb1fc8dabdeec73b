// Building SQL text safely. Every text value an importer writes goes through
// SqlString, never bare between double quotes: a value with a quote is stored
// intact, and a value equal to a column name stays a value.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kelvanor {

// 'text' with inner single quotes doubled; the bytes stay as they are
// (Windows-1252), NUL bytes included are cut at the first NUL, like the host does.
std::string SqlString(const std::string& text);

// A day number, price or amount as SQL numeric literal ("." decimal point).
std::string SqlNumber(double value);

// A value bound to a statement parameter, stored exactly as the SQL literal
// it stands for would be: text (its bytes up to a NUL, like SqlString), a
// number given as its literal (an integer literal binds as an integer, any
// other as a real, as SQLite reads literals), or NULL.
class SqlParam {
 public:
  enum class Kind { kText, kNumber, kNull };

  static SqlParam Text(std::string text);
  // `literal` must read as a number ("42", "-1", "46400.5", "1E+20"; else
  // EConvertError); a real gets the very value SQLite gives the literal
  // (infinity for "1E999").
  static SqlParam Number(std::string literal);
  // The same as Number of the value's literal (SqlNumber for a real), made
  // without reading the literal back where that is known to give the value.
  static SqlParam Integer(int64_t value);
  static SqlParam Real(double value);
  static SqlParam Null() { return SqlParam(Kind::kNull, std::string()); }

  Kind GetKind() const { return kind_; }
  const std::string& Text() const { return text_; }
  // For kNumber: whether the literal is an integer, and its value.
  bool IsInteger() const { return isInteger_; }
  int64_t IntegerValue() const { return integer_; }
  double RealValue() const { return real_; }

 private:
  SqlParam(Kind kind, std::string text) : kind_(kind), text_(std::move(text)) {}

  Kind kind_;
  std::string text_;
  bool isInteger_ = false;
  int64_t integer_ = 0;
  double real_ = 0;
};

using SqlParams = std::vector<SqlParam>;

}  // namespace kelvanor
