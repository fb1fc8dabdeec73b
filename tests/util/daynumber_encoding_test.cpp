#include <gtest/gtest.h>

#include "util/daynumber.h"
#include "util/encoding.h"
#include "util/files.h"

namespace kelvanor {
namespace {

TEST(DayNumber, KnownDates) {
  CivilTime t;
  t.year = 2026;
  t.month = 9;
  t.day = 1;
  EXPECT_DOUBLE_EQ(CivilToDayNumber(t), 46266);
  t = CivilTime{};
  t.year = 2026;
  t.month = 12;
  t.day = 7;
  t.hour = 10;
  t.minute = 30;
  EXPECT_DOUBLE_EQ(CivilToDayNumber(t), 46363.4375);
  CivilTime back = DayNumberToCivil(46363.4375);
  EXPECT_EQ(back.year, 2026);
  EXPECT_EQ(back.month, 12);
  EXPECT_EQ(back.day, 7);
  EXPECT_EQ(back.hour, 10);
  EXPECT_EQ(back.minute, 30);
  EXPECT_EQ(DayNumberToCivil(0).year, 1899);
}

TEST(ShortDate, RoundTripsAndRejectsNonsense) {
  CivilTime t = DayNumberToCivil(46363);
  EXPECT_EQ(ShortDateText(t), "07.12.2026");
  CivilTime parsed;
  ASSERT_TRUE(ParseShortDate("07.12.2026", parsed));
  EXPECT_DOUBLE_EQ(CivilToDayNumber(parsed), 46363);
  EXPECT_FALSE(ParseShortDate("31.02.2026", parsed));
  EXPECT_FALSE(ParseShortDate("07.12.2026x", parsed));
  EXPECT_FALSE(ParseShortDate("", parsed));
}

TEST(Encoding, Windows1252ToUtf8AndBack) {
  EXPECT_EQ(AnsiToUtf8Name("M\xFCller \x80"), "M\xC3\xBCller \xE2\x82\xAC");
  EXPECT_EQ(AnsiToUtf8Name("\x81\x8D\x8F\x90\x9D"), "\xC2\x81\xC2\x8D\xC2\x8F\xC2\x90\xC2\x9D");
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1252(AnsiToUtf8Name(all)), all);
  // Bytes that are not UTF-8 are taken as Windows-1252 as they stand.
  EXPECT_EQ(Utf8ToCp1252("M\xFCller"), "M\xFCller");
  EXPECT_EQ(Utf8ToCp1252("\xE2\x98\x83"), "?");
}

TEST(SplitLines, AllThreeLineEnds) {
  auto lines = SplitLines("a\r\nb\rc\n\nd");
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "a");
  EXPECT_EQ(lines[1], "b");
  EXPECT_EQ(lines[2], "c");
  EXPECT_EQ(lines[3], "");
  EXPECT_EQ(lines[4], "d");
  EXPECT_TRUE(SplitLines("").empty());
  EXPECT_EQ(SplitLines("x\r\n").size(), 1u);
}

}  // namespace
}  // namespace kelvanor
