// Conversions of query values and the building blocks of SQL text.
#include <gtest/gtest.h>

#include "db/sql.h"
#include "db/variant.h"
#include "support/test_db.h"
#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor {
namespace {

using testing::W;

std::string ConvertError(void (*body)(const TVariant&), const TVariant& v) {
  try {
    body(v);
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "";
}

TEST(TVariant, IntegerTextConvertsExactlyOverSixtyFourBits) {
  EXPECT_EQ(TVariant("41").AsInteger() + 1, 42);
  EXPECT_EQ(TVariant("9223372036854775807").AsInteger(), INT64_MAX);
  EXPECT_EQ(TVariant("-9223372036854775808").AsInteger(), INT64_MIN);
  EXPECT_EQ(TVariant("9007199254740993").AsInteger(), 9007199254740993);  // 2^53 + 1
  EXPECT_EQ(TVariant("+7").AsInteger(), 7);
}

TEST(TVariant, DecimalTextRoundsHalfToEvenWithTheProcessSeparator) {
  ScopedDecimalSeparator german(',');
  EXPECT_EQ(TVariant("2,5").AsInteger(), 2);
  EXPECT_EQ(TVariant("3,5").AsInteger(), 4);
  EXPECT_EQ(TVariant("-2,6").AsInteger(), -3);
  EXPECT_DOUBLE_EQ(TVariant("12,5").AsDouble(), 12.5);
  EXPECT_EQ(ConvertError([](const TVariant& v) { v.AsDouble(); }, TVariant("12.5")),
            "Variante des Typs (String) konnte nicht in Typ (Double) konvertiert werden");
}

TEST(TVariant, NonNumbersRaiseTheGermanConversionError) {
  ScopedDecimalSeparator dot('.');
  for (const char* text : {"", "abc", "12a", "+-1", "1e999"}) {
    EXPECT_EQ(ConvertError([](const TVariant& v) { v.AsInteger(); }, TVariant(text)),
              "Variante des Typs (String) konnte nicht in Typ (Int64) konvertiert werden")
        << text;
  }
  EXPECT_EQ(ConvertError([](const TVariant& v) { v.AsInteger(); }, TVariant("1e19")),
            "Variante des Typs (String) konnte nicht in Typ (Int64) konvertiert werden");
  EXPECT_EQ(ConvertError([](const TVariant& v) { v.AsBoolean(); }, TVariant("ja")),
            "Variante des Typs (String) konnte nicht in Typ (Boolean) konvertiert werden");
}

TEST(TVariant, BooleanIsAnyNonZeroNumber) {
  ScopedDecimalSeparator dot('.');
  EXPECT_FALSE(TVariant("0").AsBoolean());
  EXPECT_FALSE(TVariant("0.0").AsBoolean());
  EXPECT_TRUE(TVariant("1").AsBoolean());
  EXPECT_TRUE(TVariant("-2").AsBoolean());
  EXPECT_TRUE(TVariant("0.5").AsBoolean());
}

TEST(SqlText, StringsAreSingleQuotedWithInnerQuotesDoubled) {
  EXPECT_EQ(SqlString(""), "''");
  EXPECT_EQ(SqlString("O'Brien"), "'O''Brien'");
  EXPECT_EQ(SqlString("''"), "''''''");
  EXPECT_EQ(SqlString("\"Hufe\""), "'\"Hufe\"'");
  EXPECT_EQ(SqlString(W("Müller")), "'" + W("Müller") + "'");
  EXPECT_EQ(SqlString(std::string("ab\0'c", 5)), "'ab'");
}

TEST(SqlText, NumbersAlwaysUseADot) {
  ScopedDecimalSeparator german(',');
  EXPECT_EQ(SqlNumber(46363.4375), "46363.4375");
  EXPECT_EQ(SqlNumber(-0.5), "-0.5");
  EXPECT_EQ(SqlNumber(19), "19");
}

}  // namespace
}  // namespace kelvanor
