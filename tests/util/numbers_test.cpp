#include "util/numbers.h"

#include <gtest/gtest.h>

#include "util/errors.h"

namespace kelvanor {
namespace {

TEST(FormatGeneral, ShortestWithFifteenDigits) {
  EXPECT_EQ(FormatGeneral(3, '.'), "3");
  EXPECT_EQ(FormatGeneral(12.5, '.'), "12.5");
  EXPECT_EQ(FormatGeneral(12.5, ','), "12,5");
  EXPECT_EQ(FormatGeneral(35 / 1.19, '.'), "29.4117647058824");
  EXPECT_EQ(FormatGeneral(0.1, '.'), "0.1");
  EXPECT_EQ(FormatGeneral(-0.0, '.'), "0");
  EXPECT_EQ(FormatGeneral(46363.4375, '.'), "46363.4375");
  EXPECT_EQ(FormatGeneral(1e20, '.'), "1E20");
  EXPECT_EQ(FormatGeneral(100.0 / 3.0, ','), "33,3333333333333");
  // An exact half at the sixteenth digit goes away from zero, as in the host
  // program (00:00:42.1875 on a day, a sixteen-digit integer).
  EXPECT_EQ(FormatGeneral(46363.00048828125, '.'), "46363.0004882813");
  EXPECT_EQ(FormatGeneral(-46363.00048828125, ','), "-46363,0004882813");
  EXPECT_EQ(FormatGeneral(1000000000000005.0, '.'), "1.00000000000001E15");
  EXPECT_EQ(FormatGeneral(999999999999999.5, '.'), "1E15");
}

TEST(RoundToGeneral, IsTheNumberTheGeneralTextReadsAs) {
  for (const double value : {3.0, 12.5, 35 / 1.19, 0.1, 46363.4375, 1e20, 100.0 / 3.0,
                             46363.00048828125, -46363.00048828125, 1000000000000005.0,
                             999999999999999.5, 0.1 + 0.2, 46400.0 + 1.0 / 3.0, -2.5e-7}) {
    EXPECT_EQ(RoundToGeneral(value), StrToFloat(FormatGeneral(value, '.'), '.')) << value;
  }
}

TEST(FloatToDotStr, AlwaysAPointAndTheProcessSettingStays) {
  ScopedDecimalSeparator german(',');
  EXPECT_EQ(FloatToDotStr(0.1), "0.1");
  EXPECT_EQ(FloatToStr(0.1), "0,1");
  EXPECT_EQ(DecimalSeparator(), ',');
}

TEST(FormatFixedDot, ThreeDecimalsRounded) {
  EXPECT_EQ(FormatFixedDot(46363.4375, 3), "46363.438");
  EXPECT_EQ(FormatFixedDot(0, 3), "0.000");
  // Exact halves go away from zero like the host program's runtime: 01:30,
  // 13:30 and 19:30 on 7 December 2026.
  EXPECT_EQ(FormatFixedDot(46363.0625, 3), "46363.063");
  EXPECT_EQ(FormatFixedDot(46363.5625, 3), "46363.563");
  EXPECT_EQ(FormatFixedDot(46363.8125, 3), "46363.813");
  EXPECT_EQ(FormatFixedDot(-0.0625, 3), "-0.063");
  EXPECT_EQ(FormatFixedDot(9.9995, 3), "9.999");  // not a half in binary: below it
  EXPECT_EQ(FormatFixedDot(2.5, 0), "3");
  EXPECT_EQ(FormatFixedDot(99.5, 0), "100");
  EXPECT_EQ(FormatFixedDot(-9.75, 1), "-9.8");
  EXPECT_EQ(FormatFixedDot(0.0001, 3), "0.000");
}

TEST(StrToInt, PlainDecimalOnly) {
  EXPECT_EQ(StrToInt("42"), 42);
  EXPECT_EQ(StrToInt("-7"), -7);
  EXPECT_EQ(StrToInt(" 57"), 57);
  EXPECT_EQ(StrToInt("2147483647"), 2147483647);
  EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
  for (const char* bad : {"", " ", "57 ", "1a", "0x10", "2147483648", "1.5", "-", "99999999999999999999"}) {
    EXPECT_THROW(StrToInt(bad), EConvertError) << bad;
  }
  try {
    StrToInt("abc");
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "\"abc\" ist keine ganze Zahl");
  }
  // A field of a received line says which field, in the office's words.
  try {
    (void)FieldToRequiredDecimal("Betrag", "abc");
    ADD_FAILURE();
  } catch (const EConvertError& e) {
    EXPECT_STREQ(e.what(), "Betrag \"abc\" ist keine Zahl");
  }
  EXPECT_THROW(
      try { (void)FieldToRequiredDay("Datum", " "); } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "Datum fehlt");
        throw;
      },
      EConvertError);
}

TEST(StrToFloat, UsesTheGivenSeparator) {
  EXPECT_DOUBLE_EQ(StrToFloat("12,5", ','), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat("12.5", '.'), 12.5);
  EXPECT_DOUBLE_EQ(StrToFloat(" -3 ", '.'), -3);
  EXPECT_DOUBLE_EQ(StrToFloat("1E3", '.'), 1000);
  EXPECT_THROW(StrToFloat("12.5", ','), EConvertError);
  EXPECT_THROW(StrToFloat("", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("1.2.3", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("nan", '.'), EConvertError);
  EXPECT_THROW(StrToFloat("1e999", '.'), EConvertError);
}

TEST(ParseDecimal, PointInFilesWhateverTheLocale) {
  ScopedDecimalSeparator german(',');
  EXPECT_DOUBLE_EQ(ParseDecimal(""), 0.0);
  EXPECT_DOUBLE_EQ(ParseDecimal("46363.5"), 46363.5);
  EXPECT_THROW(ParseDecimal("4x"), EConvertError);
}

}  // namespace
}  // namespace kelvanor
