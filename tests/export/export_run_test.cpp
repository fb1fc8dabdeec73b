// One export run as a whole: the steps it shows, the folder it needs, the
// files it leaves when it cannot finish, and the newest-order lookup.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <string>

#include "export/export_fixture.h"
#include "export/export_writers.h"
#include "export/last_appointment.h"
#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

namespace fs = std::filesystem;

std::set<std::string> FolderEntries(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& e : fs::directory_iterator(folder)) names.insert(e.path().filename().string());
  return names;
}

const std::set<std::string> kNineFiles = {
    "mob_kunde.txt",   "mob_stall.txt",       "mob_kunde_pferd.txt", "mob_pferd.txt",
    "mob_artikel.txt", "mob_leistung.txt",    "mob_leistgruppe.txt", "mob_termin.txt",
    "mobv2.ini"};

using ExportRunTest = ExportTest;

TEST_F(ExportRunTest, StepsAndPerRowProgress) {
  Practice(
      "INSERT INTO besitzer (id, name, vorname) VALUES (1, 'Meier', 'Karl');"
      "INSERT INTO pferd (id, name) VALUES (1, 'Fury'), (2, 'Max');"
      "INSERT INTO verbind (id, pferdindex, besitzerindex) VALUES (1, 1, 1), (2, 2, 1);");
  ASSERT_TRUE(Export().IsOk());
  const std::vector<ProgressEvent> expected = {
      {"Kunden", 0, 1},      {"Kunden+Pferde", 0, 2}, {"Kunden+Pferde", 1, 2},
      {"Kunden+Pferde", 2, 2}, {"Pferde", 0, 3},      {"Pferde", 1, 3},
      {"Pferde", 2, 3},      {"Artikel", 0, 4},       {"Leistungen", 0, 5},
      {"Lst.gruppen", 0, 6}, {"Termine", 0, 7},       {"mobv2.ini", 0, 8},
      {"fertig!", 1, 8}};
  EXPECT_EQ(progress.events, expected);
  EXPECT_EQ(progress.stepMaxima, (std::vector<int>{2, 2, 1}));
  EXPECT_EQ(progress.totalMaximum, 8);
  EXPECT_EQ(progress.boldChanges, (std::vector<bool>{false, true}));
  EXPECT_EQ(Out("mob_kunde_pferd.txt"), "A/1;Fury|A/1||;Max|A/2||\r\n");
}

TEST_F(ExportRunTest, EmptyPracticeWritesEightEmptyFilesAndTheIni) {
  Practice();
  WriteFile(outDir + "/mob_kunde.txt", "alt\r\n");
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(FolderEntries(outDir), kNineFiles);  // no mob.ini, no temporary leftovers
  for (const auto& name : kNineFiles) {
    if (name != "mobv2.ini") {
      EXPECT_EQ(Out(name), "") << name;
    }
  }
}

TEST_F(ExportRunTest, MissingFolderIsCreatedOneLevelDeep) {
  Practice();
  ASSERT_FALSE(fs::exists(outDir));
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(FolderEntries(outDir), kNineFiles);
}

TEST_F(ExportRunTest, MissingParentShowsErrorAndReadsNothing) {
  // An empty database file: any query would fail, so reaching one would throw.
  WriteFile(dbPath, "");
  const std::string folder = tmp.File("fehlt/mobil");
  const Outcome outcome = Export(folder);
  EXPECT_FALSE(outcome.IsOk());
  EXPECT_EQ(outcome.Message(), "Kann Verzeichnis " + folder + " nicht erstellen.");
  EXPECT_TRUE(progress.events.empty());
  EXPECT_FALSE(fs::exists(tmp.File("fehlt")));
}

class ExportFailureTest : public ExportTest {
 protected:
  void SetUp() override {
    Practice(
        "INSERT INTO besitzer (id, name, vorname) VALUES (1, 'Meier', 'Karl');"
        "INSERT INTO artikel (id, bezeichnung, mwst, vkpreis1euro) VALUES (1, 'Eisen', 19, 5);"
        "INSERT INTO leistgruppen (id, bezeichnung) VALUES (1, 'Gruppe');");
    fs::create_directory(outDir);
    for (const auto& name : kNineFiles) WriteFile(outDir + "/" + name, "alt\r\n");
  }
  // Files of the steps before the failure are new, the rest keep their content.
  void ExpectNewUpTo(const std::string& lastNew) {
    bool isNew = true;
    for (const std::string& name : ExportFileNames()) {
      EXPECT_EQ(Out(name) != "alt\r\n", isNew) << name;
      if (name == lastNew) isNew = false;
    }
    EXPECT_EQ(FolderEntries(outDir).size(), kNineFiles.size());  // nothing half-written beside
  }
};

TEST_F(ExportFailureTest, UnwritableTargetKeepsItsPreviousFileAndTheLaterOnes) {
  fs::remove(outDir + "/mob_pferd.txt");
  fs::create_directory(outDir + "/mob_pferd.txt");  // cannot be replaced by a file
  WriteFile(outDir + "/mob_pferd.txt/inhalt", "x");
  EXPECT_THROW(Export(), EInOutError);
  fs::remove_all(outDir + "/mob_pferd.txt");
  WriteFile(outDir + "/mob_pferd.txt", "alt\r\n");
  ExpectNewUpTo("mob_kunde_pferd.txt");
  EXPECT_EQ(Out("mob_kunde.txt"), "A/1;;Meier;Karl;;;;;;;0;;\r\n");
}

TEST_F(ExportFailureTest, QueryErrorEndsTheExportWithEarlierFilesWritten) {
  ExecOnFile(dbPath, "DROP TABLE termine;");
  EXPECT_THROW(Export(), ESQLiteException);
  ExpectNewUpTo("mob_leistgruppe.txt");
}

TEST_F(ExportFailureTest, PriceThatIsNoNumberEndsTheExportAndRestoresTheSeparator) {
  // A host whose price column is declared as text holds a word there.
  ExecOnFile(dbPath,
             "DROP TABLE artikel;"
             "CREATE TABLE artikel (id INTEGER, bezeichnung TEXT, mwst REAL, vkpreis1 TEXT,"
             " vkpreis2 TEXT, vkpreis3 TEXT, vkpreis4 TEXT, vkpreis5 TEXT, vkpreis1euro TEXT,"
             " vkpreis2euro TEXT, vkpreis3euro TEXT, vkpreis4euro TEXT, vkpreis5euro TEXT,"
             " papierkorb INTEGER DEFAULT 0);"
             "INSERT INTO artikel (id, bezeichnung, mwst, vkpreis1euro) VALUES (1, 'Eisen', 19,"
             " 'zehn');");
  ScopedDecimalSeparator german(',');
  EXPECT_THROW(Export(), EConvertError);
  EXPECT_EQ(DecimalSeparator(), ',');
  ExpectNewUpTo("mob_pferd.txt");
}

// The newest order date of every horse, read once, must answer exactly as the
// single lookup does, on the odd rows too.
class LastAppointmentTest : public ExportTest {
 protected:
  void SetUp() override {
    Practice(
        "INSERT INTO pferd (id, name) VALUES (0, ''), (1, 'A'), (2, 'B'), (3, 'C'), (4, 'D'),"
        " (5, 'E'), (6, 'F'), (7, 'G'), (8, 'H');"
        "INSERT INTO vbauftragpferd (nid, npferdindex, termin) VALUES"
        " (1, 1, 46200), (2, 1, 46266.75), (3, 1, NULL),"  // newest with a time of day
        " (4, 2, NULL),"                                    // only NULL
        " (5, 3, 0), (6, 3, NULL),"                         // only 0
        " (7, 5, 0), (8, 5, 46000.2),"                      // 0 beside a date
        " (9, 6, -1), (10, 6, 0),"                          // newest is 0
        " (11, NULL, 46300),"                               // belongs to no horse
        " (12, 7, 46000), (13, 7, 'morgen'),"               // a word sorts above numbers
        " (14, 8, 2958466), (15, 99, 46001),"               // beyond 9999; horse 99 missing
        // References no horse id equals: beyond 32 bits (2^32 + 1), a word,
        // fractions. Read as numbers they would name horses 1, 3, 2 and 4.
        " (16, 4294967297, 46500), (17, '3x', 46501), (18, 2.5, 46502), (19, 4.4, 46503);");
  }
};

TEST_F(LastAppointmentTest, IndexAnswersLikeTheSingleLookup) {
  TDBase db(dbPath);
  const LastAppointmentIndex index(db);
  for (int32_t horse = 0; horse <= 10; ++horse) {
    EXPECT_EQ(index.DateText(horse), LastAppointmentDate(db, horse)) << "horse " << horse;
  }
  EXPECT_EQ(index.DateText(1), "01.09.2026");
  EXPECT_EQ(index.DateText(5), "09.12.2025");
  // The malformed references count for nobody.
  EXPECT_EQ(index.size(), 2u);
  for (int32_t horse : {0, 2, 3, 4, 6, 7, 8}) EXPECT_EQ(index.DateText(horse), "") << horse;
}

TEST_F(LastAppointmentTest, DayFieldIsTheWholeDayNumber) {
  EXPECT_EQ(LastAppointmentDayField("01.09.2026"), "46266");
  EXPECT_EQ(LastAppointmentDayField(""), "");
  EXPECT_THROW(LastAppointmentDayField("31.02.2026"), EConvertError);
}

TEST_F(LastAppointmentTest, HorseFileIsTheSameWithSingleLookups) {
  TDBase db(dbPath);
  fs::create_directory(outDir);
  const LastAppointmentIndex index(db);
  ExportContext ctx{db, outDir, progress};
  ctx.lastAppointments = &index;
  WriteHorses(ctx);
  const std::string withIndex = Out("mob_pferd.txt");
  ctx.lastAppointments = nullptr;
  WriteHorses(ctx);
  EXPECT_EQ(Out("mob_pferd.txt"), withIndex);
  EXPECT_NE(withIndex.find("A/1;A;;0;46266;;A/0;;\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kelvanor::testing
