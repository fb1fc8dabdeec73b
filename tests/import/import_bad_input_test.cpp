// Malformed change files: every one gets a clear answer (a line that fails
// alone and is named, or an error that ends the import with nothing
// written), never a crash and never silence.
#include "import/import_fixture.h"
#include "util/errors.h"

namespace kelvanor::testing {
namespace {

using BadInput = ImportTest;

std::string AllHighBytes() {
  std::string bytes;
  for (int b = 0x80; b <= 0xFF; ++b) {
    if (b != ';') bytes += static_cast<char>(b);
  }
  return bytes;
}

std::string Hex(const std::string& bytes) {
  static const char digits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char c : bytes) {
    hex += digits[c >> 4];
    hex += digits[c & 15];
  }
  return hex;
}

// A line the importer cannot read fails and is named with file, line number
// and text; only an empty line, which holds nothing, is passed over.
TEST_F(BadInput, LinesOfNoKnownOperationAreNamedInEveryFile) {
  const std::vector<std::string> unread = {"X/1;a;b;c;d;1;e;f;g;h;1;i", "NA/1;a", "/1;a", "N1;a",
                                           "n/1;a", "a/1;a", "\xC4/1;a", " N/1;mit Blank"};
  const char* files[] = {"mob_kunde_x.txt", "mob_stall_x.txt", "mob_pferd_x.txt",
                         "mob_termin_x.txt", "mob_artikel_x.txt", "mob_leistung_x.txt",
                         "mob_kunde_pferd_x.txt", "mob_kasse_x.txt", "mob_report_x.txt"};
  for (const char* file : files) {
    std::vector<std::string> lines{"h", "", "  "};
    lines.insert(lines.end(), unread.begin(), unread.end());
    WriteChangeFile(file, lines);
  }
  const std::string before = Dump();
  RunImport();
  const std::size_t fileCount = sizeof files / sizeof files[0];
  ASSERT_EQ(Summary().failures.size(), fileCount * unread.size());
  for (std::size_t f = 0; f < fileCount; ++f) {
    for (std::size_t i = 0; i < unread.size(); ++i) {
      const LineFailure& failure = Summary().failures[f * unread.size() + i];
      EXPECT_EQ(failure.text, unread[i]);
      EXPECT_EQ(failure.lineNumber, i + 4) << failure.file;
    }
  }
  EXPECT_EQ(Summary().failures[7].file, "mob_kunde_x.txt");
  EXPECT_EQ(Dump(), before);
}

// Saved as "Unicode" by an editor: read as UTF-16, the umlauts arrive as
// they were typed; a letter dasTessavor cannot store fails its line alone.
TEST_F(BadInput, ChangeFileSavedAsUtf16) {
  const std::u16string text = u"h\r\nN/1;Gro\u00DFer Hof\r\nN/2;\u0141ukasz\r\nN/3;Au\r\n";
  std::string bytes = "\xFF\xFE";
  for (const char16_t unit : text) {
    bytes += static_cast<char>(unit & 0xFF);
    bytes += static_cast<char>(unit >> 8);
  }
  WriteRawChangeFile("mob_stall_x.txt", bytes);
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(name) FROM stall"), "Gro\xDF" "er Hof,Au");
  ASSERT_EQ(Summary().failures.size(), 1u);
  EXPECT_EQ(Summary().failures[0].lineNumber, 3u);
  EXPECT_EQ(Summary().failures[0].text, "N/2;<U+0141>ukasz");
  EXPECT_NE(Summary().failures[0].message.find("U+0141"), std::string::npos);
}

TEST_F(BadInput, MissingFieldsReadAsEmpty) {
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1", "N/2;nur Name"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/1;ohne Datum", "N/2;;;;;1"});
  WriteChangeFile("mob_termin_x.txt", {"h", "N/1"});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "A/1", ""});
  RunImport();
  ASSERT_EQ(Errors().size(), 1u);  // the horse without its next-shoeing date
  EXPECT_EQ(One("SELECT group_concat(id||':'||name||':'||ifnull(land,'NULL')) FROM stall"),
            "1::,2:nur Name:");
  EXPECT_EQ(One("SELECT group_concat(id||':'||name) FROM pferd"), "1:");
  EXPECT_EQ(One("SELECT beginn||'|'||thema||'|'||ort FROM termine"), "0.0||");
  // The empty line is no link (to nobody and nothing).
  EXPECT_EQ(One("SELECT group_concat(besitzerindex||'/'||pferdindex) FROM verbind"), "1/0");
}

TEST_F(BadInput, NewCustomerWithoutPriceLevelFailsAlone) {
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/1;Herr;Meier", "N/2;Herr;Huber;;;;;;;;1;"});
  RunImport();
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Summary().failures[0].record, "Meier");
  EXPECT_EQ(One("SELECT group_concat(name) FROM besitzer"), "Huber");
}

TEST_F(BadInput, NonNumericIdsInEveryPlace) {
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1.5;a", "A/0x10;a", "N/99999999999;a", "N/-3;neg"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "A/;a;;;;1;", "N/1;a;;;;1;N/1e3"});
  WriteChangeFile("mob_termin_x.txt", {"h", "A/12abc;1;1;x;y"});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "N/;x|A/1", "A/1;x|A/1.0"});
  RunImport();
  EXPECT_EQ(Errors().size(), 8u);
  EXPECT_EQ(One("SELECT group_concat(name) FROM stall"), "neg");
  EXPECT_EQ(Count("SELECT * FROM pferd"), 0);
  EXPECT_EQ(Count("SELECT * FROM termine"), 0);
  EXPECT_EQ(Count("SELECT * FROM verbind"), 0);
}

TEST_F(BadInput, EmptyAndMalformedDates) {
  WriteChangeFile("mob_termin_x.txt",
                  {"h", "N/1;;;leer", "N/2;  ;  ;blank", "N/3;46000.5.5;1;zwei Punkte",
                   "N/4;1e400;1;zu gross", "N/5;-1.5;1;negativ", "N/6;12:30;1;Uhrzeit",
                   "N/7;1E2;2.5e1;Exponent"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/1;x;;;;   ;", "N/2;y;;;;07.12.2026;"});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(thema||'='||beginn||'+'||beginnzeit) FROM termine"),
            "leer=0.0+0.0,blank=0.0+0.0,negativ=-1.0+-0.5,Exponent=100.0+0.0");
  EXPECT_EQ(Errors().size(), 5u);
  EXPECT_EQ(Count("SELECT * FROM pferd"), 0);
}

TEST_F(BadInput, LineOfAHundredThousandCharacters) {
  const std::string longName(100000, 'x');
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/1;Herr;" + longName + ";;;;;;;;0;"});
  WriteChangeFile("mob_stall_x.txt", {"h", "N/" + std::string(100000, '7') + ";zu lang"});
  WriteChangeFile("mob_pferd_x.txt", {"h", std::string(100000, ';'), std::string(100000, 'N')});
  RunImport();
  EXPECT_EQ(One("SELECT length(name) FROM besitzer"), "100000");
  ASSERT_EQ(Errors().size(), 3u);  // the stable's id, two horse lines of no operation
  EXPECT_EQ(Count("SELECT * FROM stall"), 0);
  EXPECT_EQ(Count("SELECT * FROM pferd"), 0);
}

TEST_F(BadInput, FileOfAHundredThousandLines) {
  std::vector<std::string> stables{"h"};
  for (int i = 1; i <= 100000; ++i) stables.push_back("N/" + std::to_string(i) + ";Stall " + std::to_string(i));
  WriteChangeFile("mob_stall_x.txt", stables);
  // The last stable of the run, named by its mobile id.
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/1;Blitz;;;;1;N/100000"});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Count("SELECT * FROM stall"), 100000);
  EXPECT_EQ(One("SELECT name FROM stall WHERE id=100000"), "Stall 100000");
  EXPECT_EQ(One("SELECT stallindex FROM verbindstall"), "100000");
}

TEST_F(BadInput, Windows1252BytesAreStoredAsTheyStand) {
  const std::string high = AllHighBytes();
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/1;;" + high + ";;;;" + high + ";;;;0;"});
  WriteChangeFile("mob_termin_x.txt", {"h", "N/1;1;1;" + high + ";" + W("Bäckerstraße")});
  RunImport();
  EXPECT_EQ(One("SELECT hex(name) FROM besitzer"), Hex(high));
  EXPECT_EQ(One("SELECT hex(strasse) FROM besitzer"), Hex(high));
  EXPECT_EQ(One("SELECT typeof(name) FROM besitzer"), "text");
  EXPECT_EQ(One("SELECT hex(thema)||'/'||hex(ort) FROM termine"),
            Hex(high) + "/" + Hex(W("Bäckerstraße")));
}

// A NUL byte would cut the field ("vor\0nach" stored as "vor"): such a line
// fails alone (named with its file and line like every refused line); the
// others are imported.
TEST_F(BadInput, NulBytesAreRefusedWithFileAndLineNeverCut) {
  using namespace std::string_literals;
  WriteRawChangeFile("mob_stall_x.txt", "h\r\nN/3;gut\r\nN/1;vor\0nach;x\r\nN/2\0;kaputt\r\n\0\r\n"s);
  RunImport();
  ASSERT_EQ(Errors().size(), 3u);
  for (const std::string& e : Errors()) EXPECT_NE(e.find("Nullzeichen"), std::string::npos) << e;
  EXPECT_EQ(One("SELECT group_concat(id||':'||name||':'||ansprechpartner) FROM stall"), "1:gut:");
}

}  // namespace
}  // namespace kelvanor::testing
