#include "util/text.h"

#include <gtest/gtest.h>

#include "util/encoding.h"

namespace kelvanor {
namespace {

TEST(SplitFields, KeepsEmptyFieldsAndPadsToTheSlotsAsked) {
  auto f = SplitFields("N/5;Meier;;", 3);
  ASSERT_EQ(f.size(), 4u);
  EXPECT_EQ(f[0], "N/5");
  EXPECT_EQ(f[1], "Meier");
  EXPECT_EQ(f[2], "");
  EXPECT_EQ(f[3], "");

  auto empty = SplitFields("", 11);
  ASSERT_EQ(empty.size(), 12u);
  EXPECT_EQ(empty[0], "");

  // More fields than slots: nothing is lost or written out of bounds.
  auto many = SplitFields("a;b;c;d", 1);
  ASSERT_EQ(many.size(), 4u);
  EXPECT_EQ(many[3], "d");
}

TEST(SplitFields, HandlesLinesFarBeyondSixteenBitLengths) {
  std::string longField(100000, 'x');
  auto f = SplitFields("A/1;" + longField + ";z", 2);
  EXPECT_EQ(f[1].size(), 100000u);
  EXPECT_EQ(f[2], "z");
}

TEST(SplitFieldsBy, LastPartKeepsFurtherSeparators) {
  std::vector<std::string> parts;
  EXPECT_EQ(SplitFieldsBy('/', "N/12", parts, 1), 2u);
  EXPECT_EQ(parts[0], "N");
  EXPECT_EQ(parts[1], "12");
  EXPECT_EQ(SplitFieldsBy('/', "A/1/2", parts, 1), 2u);
  EXPECT_EQ(parts[1], "1/2");
  EXPECT_EQ(SplitFieldsBy('/', "D/77", parts, 1), 2u);
  EXPECT_EQ(SplitFieldsBy('/', "77", parts, 1), 1u);
  EXPECT_EQ(parts[0], "77");
  EXPECT_EQ(parts[1], "");
  EXPECT_EQ(SplitFieldsBy('/', "D/N/7", parts, 2), 3u);
  EXPECT_EQ(parts[2], "7");
}

TEST(ReplaceAll, NonOverlappingLeftToRight) {
  EXPECT_EQ(ReplaceAll("C:\\a\\b", "\\", "/"), "C:/a/b");
  EXPECT_EQ(ReplaceAll("aaa", "aa", "b"), "ba");
  EXPECT_EQ(ReplaceAll("x;y;", ";", ","), "x,y,");
  EXPECT_EQ(ReplaceAll("abc", "", "z"), "abc");
}

TEST(Quotes, EscapeAndUnescape) {
  EXPECT_EQ(EscapeQuotes("Eisen \"Spezial\""), "Eisen +!Spezial+!");
  EXPECT_EQ(UnescapeQuotes("'Eisen +!Spezial+!'"), "'Eisen \"\"Spezial\"\"'");
}

TEST(Transliterate, GermanLettersLowerCaseOnly) {
  EXPECT_EQ(Transliterate(Utf8ToCp1252("Straße Übergrün")), Utf8ToCp1252("Strasse Übergruen"));
  EXPECT_EQ(Transliterate(Utf8ToCp1252("straße")), "strasse");
}

TEST(StripTags, DropsTagSpansAndStrayBrackets) {
  EXPECT_EQ(StripTags("1<2>3<4"), "13");
  EXPECT_EQ(StripTags("5>6"), "56");
  EXPECT_EQ(StripTags(""), "");
  EXPECT_EQ(StripTags("Beschlag, <b>vorne</b>"), "Beschlag, vorne");
}

TEST(Trim, BlanksOnlyOrAllControlCharacters) {
  EXPECT_EQ(TrimBlanks("  57 "), "57");
  EXPECT_EQ(TrimBlanks("\t57"), "\t57");
  EXPECT_EQ(Trim("\t1.0.0.70\r\n "), "1.0.0.70");
  EXPECT_EQ(Trim(" \r\n"), "");
}

TEST(CaseMapping, UpperCasesLatin1AndLowerCasesAsciiOnly) {
  EXPECT_EQ(AnsiUpperCase("debitornr"), "DEBITORNR");
  EXPECT_EQ(AnsiUpperCase("\xE4\xF6\xFC\xDF"), "\xC4\xD6\xDC\xDF");
  EXPECT_EQ(AsciiLowerCase("Besitzer\xC4"), "besitzer\xC4");
}

}  // namespace
}  // namespace kelvanor
