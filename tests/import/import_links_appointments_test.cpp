#include "import/import_fixture.h"
#include "import/received_preview.h"
#include "platform/environment.h"
#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

const std::string kLinkHeader = "kunde;liste;x;x;x;x;x;x;x;x;x";
const std::string kAppointmentHeader = "op;beginn;ende;thema;ort;x;x;x;x;x;x";

std::string Appointment(const std::string& op, const std::string& start, const std::string& end,
                        const std::string& subject, const std::string& place = "Stall") {
  return op + ";" + start + ";" + end + ";" + subject + ";" + place + ";;;;;;";
}

using OwnerLinkImport = ImportTest;
using AppointmentImport = ImportTest;

TEST_F(OwnerLinkImport, LinksRecordsCreatedInTheSameRunWhateverTheFileOrder) {
  Exec("UPDATE _tblOffsets SET idMax=100 WHERE tbl='Besitzer'");
  Exec("UPDATE _tblOffsets SET idMax=200 WHERE tbl='Pferd'");
  // Written links first: the driver still imports customers and horses before.
  WriteChangeFile("mob_kunde_pferd_x.txt",
                  {kLinkHeader, "N/5;x|N/5|y", "AE/5;x|AE/5", "A/7;x|A/8|9|10", "N/5;x|N/5|y"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/5;Blitz;;;;46000;;;;;"});
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/5;;Meier;;;;;;;;0;"});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  // Same first field twice in this file: both lines reach the import.
  EXPECT_EQ(One("SELECT group_concat(besitzerindex||'/'||pferdindex) FROM verbind"),
            "101/201,101/201,7/8,101/201");
}

TEST_F(OwnerLinkImport, DeletedUnknownAndMalformedReferences) {
  WriteChangeFile("mob_kunde_pferd_x.txt",
                  {kLinkHeader, "DELETED;x|A/1", "A/3;ohne Trenner", "N/77;x|N/78", "X/1;x|Y/2",
                   "A/drei;x|A/1", "A/1;x|N/vier", "A/4;x|A/5"});
  RunImport();
  EXPECT_EQ(Errors().size(), 3u);  // two ids no number, a line of no known operation
  EXPECT_EQ(Summary().notTaken.size(), 1u);  // the deleted link stays the office's to remove
  EXPECT_EQ(One("SELECT group_concat(besitzerindex||'/'||pferdindex) FROM verbind"),
            "3/0,0/0,4/5");
}

TEST_F(AppointmentImport, NewAppointmentSplitsDateAndTimeAndRewritesTheSubject) {
  Exec("UPDATE _tblOffsets SET idMax=40 WHERE tbl='Besitzer'");
  Exec("UPDATE _tblOffsets SET idMax=60 WHERE tbl='Pferd'");
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/2;;Kunde;;;;;;;;0;"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/2;Pferd;;;;46000;;;;;"});
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("N/1", "46000.5", "46000.75", "kd/N/2/Rest"),
                   Appointment("N/2", "46001.25", "", "pfd/N/2"),
                   Appointment("N/3", "", " ", "kd/N/99"),
                   Appointment("N/4", "1", "2", "Termin bei O'Brien \"kd/N/2\"", "ort")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT beginn||'|'||beginnzeit||'|'||ende||'|'||endezeit||'|'||thema||'|'||ort||"
                "'|'||ursprung||'|'||bemerkung||'|'||msoutlook||'|'||erstelltvon FROM termine "
                "WHERE id=1"),
            "46000.0|0.5|46000.0|0.75|kd/A/41|Stall|||0|MOB");
  EXPECT_EQ(One("SELECT beginn||'|'||beginnzeit||'|'||ende||'|'||endezeit||'|'||thema "
                "FROM termine WHERE id=2"),
            "46001.0|0.25|0.0|0.0|pfd/A/61");
  EXPECT_EQ(One("SELECT thema FROM termine WHERE id=3"), "kd/A/0");
  EXPECT_EQ(One("SELECT thema||'|'||ort FROM termine WHERE id=4"),
            "Termin bei O'Brien \"kd/N/2\"|ort");
  EXPECT_NEAR(std::stod(One("SELECT erstelltam FROM termine WHERE id=1")), NowDayNumber(), 0.01);
}

TEST_F(AppointmentImport, ChangedAppointmentKeepsItsOtherColumns) {
  ScopedDecimalSeparator german(',');
  Exec("INSERT INTO termine (id, beginn, thema, ursprung, bemerkung, msoutlook, erstelltam, "
       "erstelltvon) VALUES (8, 1, 'alt', 'U', 'B', 1, 40000, 'PC')");
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("A/8", "46002.5", "46002.625", "neu", "Hof")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT beginn||'|'||beginnzeit||'|'||ende||'|'||endezeit||'|'||thema||'|'||ort||"
                "'|'||ursprung||'|'||bemerkung||'|'||msoutlook||'|'||erstelltam||'|'||erstelltvon "
                "FROM termine"),
            "46002.0|0.5|46002.0|0.625|neu|Hof|U|B|1|40000.0|PC");
}

TEST_F(AppointmentImport, ChangedAppointmentTakesOnlyWhatTheMobileChanged) {
  // The office moved the appointment after the upload; the farrier changed
  // the place. The subject's tags never reached the mobile.
  Exec("INSERT INTO termine (id, beginn, beginnzeit, ende, endezeit, thema, ort) VALUES "
       "(8, 46400, 0.375, 46399, 0.625, 'Beschlag <b>vorne</b>', 'Stall')");
  WriteFile(dir_.File("basis/mob_termin.txt"), "A/8;46399.500;46399.625;Beschlag vorne;Stall\r\n");
  WriteFile(dir_.File("jetzt/mob_termin.txt"), "A/8;46400.375;46399.625;Beschlag vorne;Stall\r\n");
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("A/8", "46399.5", "46399.625", "Beschlag vorne", "Hof")});
  const FieldMerge merge(DataFileSet(dir_.File("basis/")), DataFileSet(dir_.File("jetzt/")));
  TreeModel tree;
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  TDBase db(dbPath_);
  EXPECT_EQ(DescribeChanges(db, tree, merge).begin()->second,
            (std::vector<std::string>{"Ort: Stall -> Hof"}));
  // Named as the calendar shows it, to the minute: 09:00 (0.375), and the
  // three decimals the export wrote for 10:30 (46399.438) still read 10:30.
  EXPECT_EQ(DescribeReceived(&db, tree, &merge).rbegin()->second,
            (std::vector<std::string>{"Ge\xE4nderter Termin 13.01.2027 09:00\x96" "12.01.2027 15:00 "
                                      "Beschlag vorne, Stall",
                                      "Ort: Stall -> Hof"}));
  WriteChangeFile("mob_termin_x.txt", {kAppointmentHeader, Appointment("A/8", "46399.5",
                                                                      "46399.438", "Beschlag vorne", "Stall")});
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  EXPECT_EQ(DescribeChanges(db, tree, merge).begin()->second,
            (std::vector<std::string>{"Ende: 12.01.2027 15:00 -> 12.01.2027 10:30"}));
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("A/8", "46399.5", "46399.625", "Beschlag vorne", "Hof")});
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  const ImportSummary summary = ImportMobileChanges(db, tree, std::string(), &merge);
  EXPECT_TRUE(summary.failures.empty());
  EXPECT_TRUE(summary.conflicts.empty());
  EXPECT_EQ(One("SELECT beginn||'|'||beginnzeit||'|'||thema||'|'||ort FROM termine"),
            "46400.0|0.375|Beschlag <b>vorne</b>|Hof");
}

TEST_F(AppointmentImport, DeletionsByMobileAndDatabaseId) {
  Exec("INSERT INTO termine (id, thema) VALUES (8, 'alt')");
  Exec("UPDATE _tblOffsets SET idMax=20 WHERE tbl='Termine'");
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("N/3", "1", "1", "x"), "D/N/3", "D/A/8"});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(id||':'||papierkorb) FROM termine"), "8:1,21:1");
  EXPECT_EQ(One("SELECT group_concat(name||tabelle||[index]) FROM papierkorb"),
            "MOBILTermin21,MOBILTermin8");
}

TEST_F(AppointmentImport, ConversionErrorsOfNewAndChangedLinesAreShownAndSkipped) {
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("N/1", "morgen", "1", "x"),
                   Appointment("N/2", "1", "1,5x", "x"), Appointment("N/3", "1", "1", "kd/N/abc"),
                   Appointment("N/4", "1", "1", "pfd/N/"), Appointment("N/x", "1", "1", "x"),
                   Appointment("A/1 ", "1", "1", "x"), Appointment("N/7", "1", "1", "gut")});
  RunImport();
  EXPECT_EQ(Errors().size(), 6u) << ::testing::PrintToString(Errors());
  EXPECT_EQ(One("SELECT group_concat(id||':'||thema) FROM termine"), "1:gut");
}

TEST_F(AppointmentImport, UnreadableDeletionFailsAloneAndEveryOtherLineIsImported) {
  Exec("INSERT INTO besitzer (id, name) VALUES (1, 'Bestand')");
  Exec("UPDATE _tblOffsets SET idMax=1 WHERE tbl='Besitzer'");
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/1;;Neu;;;;;;;;0;", "A/1;;Geaendert;;;;;;;;0;"});
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1;Stall;;;;;;"});
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/1;Pferd;;;;1;N/1;;;;"});
  WriteChangeFile("mob_termin_x.txt",
                  {kAppointmentHeader, Appointment("N/1", "1", "1", "x"), "D/N/eins"});
  WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "N/1;x|N/1"});
  RunImport();
  ASSERT_EQ(Summary().failures.size(), 1u);
  EXPECT_EQ(Summary().failures[0].firstField, "D/N/eins");
  EXPECT_EQ(One("SELECT group_concat(name) FROM besitzer"), "Geaendert,Neu");
  EXPECT_EQ(Count("SELECT * FROM termine"), 1);
  EXPECT_EQ(One("SELECT besitzerindex||'/'||pferdindex FROM verbind"), "2/1");
}

}  // namespace
}  // namespace kelvanor::testing
