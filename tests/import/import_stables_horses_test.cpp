#include "import/import_fixture.h"
#include "import/received_preview.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

const std::string kStableHeader = "op;name;ansprechpartner;telefon;strasse;plz;ort;land";
const std::string kHorseHeader = "op;name;x;rhythmus;x;naechster;stall;x;x;x;x";

std::string Horse(const std::string& op, const std::string& name, const std::string& next,
                  const std::string& stable, const std::string& interval = "") {
  return op + ";" + name + ";;" + interval + ";;" + next + ";" + stable + ";;;;";
}

using StableImport = ImportTest;
using HorseImport = ImportTest;

TEST_F(StableImport, NewAndChangedStables) {
  Exec("INSERT INTO stall (id, name, erstelltvon) VALUES (9, 'Alt', 'PC')");
  WriteChangeFile("mob_stall_x.txt",
                  {kStableHeader, W("N/1;Hof Sonnenschein;Frau Groß;0511;Weg 1;30159;Hannover;D"),
                   "A/9;Neu;O'Neil;1;\"Gasse\";2;ort;AT"});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT name||'|'||ansprechpartner||'|'||telefon||'|'||strasse||'|'||plz||'|'||ort"
                "||'|'||land||'|'||erstelltvon FROM stall WHERE id=1"),
            W("Hof Sonnenschein|Frau Groß|0511|Weg 1|30159|Hannover|D|MOB"));
  EXPECT_EQ(One("SELECT name||'|'||ansprechpartner||'|'||telefon||'|'||strasse||'|'||plz||'|'||ort"
                "||'|'||land||'|'||erstelltvon FROM stall WHERE id=9"),
            "Neu|O'Neil|1|\"Gasse\"|2|ort|AT|PC");
}

TEST_F(StableImport, PercentSignsAreStoredUnchanged) {
  WriteChangeFile("mob_stall_x.txt", {kStableHeader, "N/1;100%s Stall %d;;;;;;"});
  RunImport();
  EXPECT_EQ(One("SELECT name FROM stall"), "100%s Stall %d");
}

TEST_F(StableImport, DeletionLinesChangeNothing) {
  Exec("INSERT INTO stall (id, name) VALUES (4, 'Bleibt')");
  const std::string before = Dump();
  WriteChangeFile("mob_stall_x.txt", {kStableHeader, "D/A/4", "D/N/1"});
  RunImport();
  EXPECT_EQ(Dump(), before);
}

TEST_F(StableImport, NonNumericIdIsShownAndTheLineLeavesNoTrace) {
  WriteChangeFile("mob_stall_x.txt", {kStableHeader, "N/eins;Kaputt;;;;;;", "A/4x;Kaputt;;;;;;",
                                      "N/2;Gut;;;;;;"});
  RunImport();
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[0].find("eins"), std::string::npos);
  EXPECT_NE(Errors()[1].find("4x"), std::string::npos);
  EXPECT_EQ(One("SELECT group_concat(id||':'||name) FROM stall"), "1:Gut");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl='Stall'"), "1");
}

TEST_F(HorseImport, NewHorseNamesAStableCreatedInTheSameRun) {
  Exec("INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (3, '6 Wochen'), (4, '8 Wochen')");
  Exec("UPDATE _tblOffsets SET idMax=20 WHERE tbl='Stall'");
  Exec("UPDATE _tblOffsets SET idMax=50 WHERE tbl='Pferd'");
  // Mobile id 3 names a stable and a customer; the horse must find the stable.
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/3;;Kunde;;;;;;;;0;"});
  WriteChangeFile("mob_stall_x.txt", {kStableHeader, "N/3;Neuer Stall;;;;;;"});
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader, Horse("N/3", "Blitz", "46100.5", "N/3", "6 Wochen")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT id||'|'||name||'|'||beschlagsrhythmus||'|'||naechsterbeschlag||'|'||"
                "erstelltvon FROM pferd"),
            "51|Blitz|3|46100.5|MOB");
  EXPECT_EQ(One("SELECT stallindex||'/'||pferdindex FROM verbindstall"), "21/51");
}

TEST_F(HorseImport, DecimalPointIsReadWhateverTheProcessSeparator) {
  ScopedDecimalSeparator german(',');
  WriteChangeFile("mob_pferd_x.txt", {kHorseHeader, Horse("N/1", "Komma", "46100.25", "A/2")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT naechsterbeschlag FROM pferd"), "46100.25");
}

// Stored as 0, an interval the practice's list lacks would drop the horse's
// interval unnoticed: the line fails and is named. A blank field or 0 (what
// the export sends for none) is no interval, as before.
TEST_F(HorseImport, AnIntervalThePracticeLacksFailsItsLine) {
  Exec("INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (3, '6 Wochen'), (5, 'ort')");
  // Horse 8 holds a number the office has since taken off the list.
  Exec("INSERT INTO pferd (id, name, beschlagsrhythmus) VALUES (7, 'Fury', 3), (8, 'Alt', 11)");
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader, Horse("N/1", "A", "1", "", "7 Wochen"), Horse("N/2", "B", "1", "", "  "),
                   Horse("N/3", "C", "1", "", "ort"), Horse("N/4", "D", "1", "", "x' OR '1'='1"),
                   Horse("N/5", "E", "1", "", "7"), Horse("N/6", "F", "1", "", "3.0"),
                   Horse("N/7", "G", "1", "", "0"), Horse("A/7", "Neu", "1", "A/2", "11 Wochen"),
                   Horse("A/8", "Umbenannt", "1", "", "11")});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "A/1;x|N/1|"});
  RunImport();
  ASSERT_EQ(Errors().size(), 6u);
  EXPECT_EQ(Errors()[0], "Beschlagsrhythmus \"7 Wochen\" gibt es in der Praxis nicht.");
  EXPECT_EQ(Summary().failures[0].file, "mob_pferd_x.txt");
  EXPECT_EQ(Summary().failures[4].lineNumber, 9u);
  EXPECT_EQ(Errors()[4], "Beschlagsrhythmus \"11 Wochen\" gibt es in der Praxis nicht.");
  // The owner link names the horse whose line failed: it fails too.
  EXPECT_EQ(Summary().failures[5].file, "mob_kunde_pferd_x.txt");
  EXPECT_EQ(One("SELECT group_concat(name||beschlagsrhythmus) FROM pferd"),
            "Fury3,Umbenannt11,B0,C5,G0");
  EXPECT_EQ(Count("SELECT * FROM verbindstall"), 4);
  EXPECT_EQ(Count("SELECT * FROM verbindstall WHERE pferdindex=7"), 0);
  EXPECT_EQ(Count("SELECT * FROM verbind"), 0);
  EXPECT_EQ(One("PRAGMA integrity_check"), "ok");
}

// The preview says what the import does: the line is not taken, and neither
// its field changes nor a conflict are told. An interval the mobile left as
// it was sent is not written, so it fails nothing, listed or not.
TEST_F(HorseImport, PreviewAndConflictsOfAnIntervalThePracticeLacks) {
  Exec("INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (3, '6 Wochen'), (4, '8 Wochen')");
  // Since the upload the office changed both horses' intervals.
  Exec("INSERT INTO pferd (id, name, beschlagsrhythmus) VALUES (7, 'Fury', 4), (8, 'Alt', 4)");
  WriteFile(dir_.File("basis/mob_pferd.txt"), "A/7;Fury;;3;;1;A/0;;\r\nA/8;Alt;;11;;1;A/0;;\r\n");
  WriteFile(dir_.File("jetzt/mob_pferd.txt"), "A/7;Fury;;4;;1;A/0;;\r\nA/8;Alt;;4;;1;A/0;;\r\n");
  WriteChangeFile("mob_pferd_x.txt", {kHorseHeader, Horse("A/7", "Fury", "1", "A/0", "11 Wochen"),
                                      Horse("A/8", "Neu", "1", "A/0", "11"),
                                      Horse("N/1", "Blitz", "1", "", "9")});
  const FieldMerge merge(DataFileSet(dir_.File("basis/")), DataFileSet(dir_.File("jetzt/")));
  TreeModel tree;
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  TDBase db(dbPath_);
  const LineDescriptions described = DescribeReceived(&db, tree, &merge);
  ASSERT_EQ(described.size(), 4u);
  auto line = described.begin();
  EXPECT_EQ((++line)->second, (std::vector<std::string>{
                                  "Ge\xE4ndertes Pferd Fury wird nicht \xFC" "bernommen: "
                                  "Beschlagsrhythmus \"11 Wochen\" gibt es in der Praxis nicht."}));
  EXPECT_EQ((++line)->second,
            (std::vector<std::string>{"Ge\xE4ndertes Pferd Alt", "Name: Alt -> Neu"}));
  EXPECT_EQ((++line)->second, (std::vector<std::string>{
                                  "Neues Pferd Blitz wird nicht \xFC" "bernommen: "
                                  "Beschlagsrhythmus \"9\" gibt es in der Praxis nicht."}));
  const ImportSummary summary = ImportMobileChanges(db, tree, std::string(), &merge);
  ASSERT_EQ(summary.failures.size(), 2u);
  EXPECT_TRUE(summary.conflicts.empty());
  EXPECT_EQ(One("SELECT group_concat(name||beschlagsrhythmus) FROM pferd"), "Fury4,Neu4");
  EXPECT_EQ(One("PRAGMA integrity_check"), "ok");
}

// The export sends the interval as its number: a horse line that echoes it
// keeps the interval. A text equal to the number still comes first.
TEST_F(HorseImport, IntervalGivenAsTheNumberTheExportSent) {
  Exec("INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (3, '6 Wochen'), (6, '8 Wochen'), (9, '3')");
  Exec("INSERT INTO pferd (id, name, beschlagsrhythmus) VALUES (1, 'Fury', 6)");
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader, Horse("A/1", "Fury", "46400", "", "6"), Horse("N/2", "B", "1", "", " 6 "),
                   Horse("N/3", "C", "1", "", "3")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT group_concat(name||beschlagsrhythmus) FROM pferd"), "Fury6,B6,C9");
}

TEST_F(HorseImport, StableFieldOfAnotherFormLinksStableZeroOnce) {
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader, Horse("N/1", "A", "1", ""), Horse("N/2", "B", "1", "X/4"),
                   Horse("N/3", "C", "1", "N/99")});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(stallindex||'/'||pferdindex) FROM verbindstall"),
            "0/1,0/2,0/3");
}

TEST_F(HorseImport, ChangedHorseAndItsStableLinks) {
  Exec("INSERT INTO pferd (id, name, erstelltvon) VALUES (7, 'Alt', 'PC'), (8, 'Zwei', 'PC')");
  Exec("INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (1, 10, 7), (2, 10, 8), "
       "(3, 11, 8)");
  Exec("UPDATE _tblOffsets SET idMax=3 WHERE tbl='VerbindStall'");
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader,
                   Horse("A/7", "Neu", "46000", "A/12"),    // another stable: a further link
                   Horse("A/8", "Zwei", "46000", "A/11")});  // one of its two: all stay
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT name||'|'||naechsterbeschlag||'|'||erstelltvon FROM pferd WHERE id=7"),
            "Neu|46000.0|PC");
  EXPECT_EQ(One("SELECT group_concat(stallindex) FROM (SELECT stallindex FROM verbindstall "
                "WHERE pferdindex=7 ORDER BY id)"),
            "10,12");
  EXPECT_EQ(One("SELECT group_concat(stallindex) FROM verbindstall WHERE pferdindex=8"), "10,11");
}

TEST_F(HorseImport, DeletionRecyclesWithoutTouchingTheStableLink) {
  Exec("INSERT INTO pferd (id, name) VALUES (7, 'Weg')");
  Exec("INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (1, 10, 7)");
  WriteChangeFile("mob_pferd_x.txt", {kHorseHeader, Horse("N/4", "Kurz", "1", ""), "D/A/7",
                                      "D/N/4", "AE/7;x;;;;1;;;;;"});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(id||':'||papierkorb) FROM pferd"), "7:1,1:1");
  EXPECT_EQ(One("SELECT group_concat(tabelle||[index]) FROM papierkorb"), "Pferd7,Pferd1");
  EXPECT_EQ(One("SELECT group_concat(stallindex||'/'||pferdindex) FROM verbindstall"), "10/7,0/1");
}

TEST_F(HorseImport, ConversionErrorsAreShownPerLineAndWriteNothing) {
  Exec("INSERT INTO pferd (id, name) VALUES (7, 'Bleibt')");
  WriteChangeFile("mob_pferd_x.txt",
                  {kHorseHeader, Horse("N/1", "LeerDatum", "", "A/1"),
                   Horse("N/2", "KaputtDatum", "46.000,5", "A/1"),
                   Horse("N/abc", "KaputteId", "1", "A/1"), Horse("A/7x", "KaputtA", "1", "A/1"),
                   Horse("N/3", "KaputterStall", "1", "A/zwei"), "D/N/x",
                   Horse("N/4", "Gut", "46000.5", "A/1")});
  RunImport();
  EXPECT_EQ(Errors().size(), 6u);
  EXPECT_EQ(One("SELECT group_concat(id||':'||name) FROM pferd"), "7:Bleibt,1:Gut");
  EXPECT_EQ(One("SELECT group_concat(stallindex||'/'||pferdindex) FROM verbindstall"), "1/1");
  EXPECT_EQ(Count("SELECT * FROM papierkorb"), 0);
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl='Pferd'"), "1");
}

TEST_F(HorseImport, LinesNamingAHorseWhoseLineFailedFailToo) {
  // The horse of line N/5 is rolled back with its line; the owner link, the
  // order and the hoof report naming mobile horse 5 must not land on row 0.
  Exec("INSERT INTO besitzer (id, name) VALUES (1, 'Meier')");
  WriteChangeFile("mob_pferd_x.txt", {kHorseHeader, Horse("N/5", "Halb", "1", "A/x")});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "A/1;x|N/5|", "A/1;x|N/6|"});
  WriteChangeFile("mob_rech_x.txt", {"h", "K1;0;A/1;N/5;46400;0;;1;;"});
  WriteChangeFile("mob_report_x.txt", {"h", "N/1;N/5;1;46400;;;;;;;;;;;;;"});
  RunImport();
  ASSERT_EQ(Errors().size(), 4u);
  EXPECT_NE(Errors()[1].find("den Datensatz N/5 (Pferd)"), std::string::npos) << Errors()[1];
  EXPECT_EQ(Summary().failures[3].file, "mob_report_x.txt");
  EXPECT_EQ(Count("SELECT * FROM pferd"), 0);
  EXPECT_EQ(Count("SELECT * FROM auftrag"), 0);
  EXPECT_EQ(Count("SELECT * FROM vbauftragpferd"), 0);
  EXPECT_EQ(Count("SELECT * FROM verbindbeschlag"), 0);
  // A mobile id this run never saw still resolves to 0, as before.
  EXPECT_EQ(One("SELECT pferdindex||'/'||besitzerindex FROM verbind"), "0/1");
}

}  // namespace
}  // namespace kelvanor::testing
