#include <gtest/gtest.h>

#include "util/daynumber.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

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

// Every letter Windows-1252 has, from the blank on.
#define EVERY_LETTER \
  " !#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOP" \
  "QRSTUVWXYZ[]^_`abcdefghijklmnopqrstuvwxyz{|}~€‚ƒ" \
  "„…†‡ˆ‰Š‹ŒŽ‘’“”•–—˜™š›œžŸ ¡¢£¤¥¦§¨©ª«¬­®¯°±²³´µ¶·" \
  "¸¹º»¼½¾¿ÀÁÂÃÄÅÆÇÈÉÊËÌÍÎÏÐÑÒÓÔÕÖ×ØÙÚÛÜÝÞßàáâãäåæç" \
  "èéêëìíîïðñòóôõö÷øùúûüýþÿ"

// Texts are written in the source as the user reads them and turned into
// Windows-1252 while compiling: every letter gives the byte the run-time
// conversion gives it.
TEST(Encoding, TextsWrittenAsReadAreTheirWindows1252Bytes) {
  EXPECT_EQ(std::string(W1252("Datensätze – 59,50 €")),
            "Datens\xE4tze \x96 59,50 \x80");
  EXPECT_EQ(std::string(W1252(EVERY_LETTER)), Utf8ToCp1252(EVERY_LETTER));
  EXPECT_EQ(std::string(W1252("")), "");
}

// The one table of the letters 0x80..0x9F (util/w1252.h), which both the
// texts written as read and the conversions at run time use, against the
// code page as written out here: every byte from the blank on but the
// quote, the backslash, DEL and the five bytes Windows-1252 leaves
// unassigned, in order, is EVERY_LETTER.
TEST(Encoding, TheLettersOfTheCodePageAreWhereWindows1252HasThem) {
  std::string bytes;
  for (int b = 0x20; b <= 0xFF; ++b) {
    if (b == '"' || b == '\\' || b == 0x7F || b == 0x81 || b == 0x8D || b == 0x8F || b == 0x90 ||
        b == 0x9D) {
      continue;
    }
    bytes += static_cast<char>(b);
  }
  EXPECT_EQ(AnsiToUtf8Name(bytes), EVERY_LETTER);
  EXPECT_EQ(Utf8ToCp1252(EVERY_LETTER), bytes);
}

TEST(Encoding, ConsoleCodePageKeepsTheUmlautBytesAndAddsEveryOtherLetter) {
  // The bytes of the German letters stay exactly as they always were.
  EXPECT_EQ(AnsiToOem("\xC4\xE4\xD6\xF6\xDC\xFC\xDF-x"), "\x8E\x84\x99\x94\x9A\x81\xE1-x");
  // á é ñ ç ø and the like get their code page 850 bytes.
  EXPECT_EQ(AnsiToOem("M\xE1ria Jos\xE9 Espa\xF1" "a \xE7\xF8\xC9\xA3\x83"),
            "M\xA0ria Jos\x82 Espa\xA4" "a \x87\x9B\x90\x9C\x9F");
  EXPECT_EQ(FindNonOemCharacter("C:\\Users\\M\xE1ria\\"), std::string::npos);
  // Read back, every convertible character is itself again.
  for (int b = 1; b < 256; ++b) {
    const std::string ansi(1, static_cast<char>(b));
    if (FindNonOemCharacter(ansi) != std::string::npos) continue;
    EXPECT_EQ(OemToUtf8(AnsiToOem(ansi)), AnsiToUtf8Name(ansi)) << b;
  }
}

TEST(Encoding, CharactersTheConsoleCannotShowAreFound) {
  // Trade mark, euro, low double quote, S caron, Z caron, s caron, unassigned.
  for (const char* text : {"Firma\x99", "\x80", "a\x84" "b", "\x8A", "\x8E", "\x9A", "\x81"}) {
    const std::size_t at = std::string(text).find_first_of("\x80\x81\x84\x8A\x8E\x99\x9A");
    EXPECT_EQ(FindNonOemCharacter(text), at) << text;
  }
  EXPECT_EQ(AnsiToOem("Firma\x99"), "Firma?");
  // In a batch file 0x99 is the capital O umlaut, 0xA0 a-acute, 0xE1 sharp s.
  EXPECT_EQ(OemToUtf8("\x99\xA0\xE1"), "\xC3\x96\xC3\xA1\xC3\x9F");
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
