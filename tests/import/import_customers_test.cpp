#include "import/import_fixture.h"
#include "platform/environment.h"
#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

const std::string kHeader = "op;anrede;name;vorname;kundennr;telefon;strasse;plz;ort;email;ps;handy";

std::string Customer(const std::string& op, const std::string& name, const std::string& town = "Celle",
                     const std::string& priceLevel = "2") {
  return op + ";Herr;" + name + ";Hans;K-1;0511 1;" + W("Hauptstraße 1") + ";29221;" + town +
         ";h@example.de;" + priceLevel + ";0170 2";
}

using CustomerImport = ImportTest;

TEST_F(CustomerImport, NewCustomerFillsEveryColumnAndTheCreationColumns) {
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/7", W("Müller"))});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  ASSERT_EQ(Count("SELECT * FROM besitzer"), 1);
  EXPECT_EQ(One("SELECT id FROM besitzer"), "1");
  EXPECT_EQ(One("SELECT anrede||'|'||name||'|'||vorname||'|'||kundennr||'|'||telefon||'|'||strasse"
                "||'|'||plz||'|'||ort||'|'||email||'|'||preisstufe||'|'||telefonhandy FROM besitzer"),
            W("Herr|Müller|Hans|K-1|0511 1|Hauptstraße 1|29221|Celle|h@example.de|2|0170 2"));
  EXPECT_EQ(One("SELECT erstelltvon FROM besitzer"), "MOB");
  EXPECT_EQ(One("SELECT typeof(preisstufe)||typeof(erstelltam) FROM besitzer"), "integerreal");
  EXPECT_EQ(One("SELECT aufgenommenam = erstelltam OR abs(aufgenommenam - erstelltam) < 0.001 "
                "FROM besitzer"),
            "1");
  const double created = std::stod(One("SELECT erstelltam FROM besitzer"));
  EXPECT_NEAR(created, NowDayNumber(), 0.01);
}

TEST_F(CustomerImport, DebitorNumberContinuesTheHighestOrStaysZero) {
  Exec("INSERT INTO besitzer (id, name, debitornr) VALUES (1, 'A', 41), (2, 'B', 7)");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "X"), Customer("N/2", "Y")});
  RunImport();
  EXPECT_EQ(One("SELECT debitornr FROM besitzer WHERE name='X'"), "42");
  EXPECT_EQ(One("SELECT debitornr FROM besitzer WHERE name='Y'"), "43");
}

TEST_F(CustomerImport, DebitorNumberStaysZeroWhileThePracticeHasNone) {
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "X"), Customer("N/2", "Y")});
  RunImport();
  EXPECT_EQ(Count("SELECT * FROM besitzer WHERE debitornr = 0"), 2);
}

TEST_F(CustomerImport, ChangedCustomerKeepsDebitorAndCreationColumns) {
  Exec("INSERT INTO besitzer (id, name, debitornr, aufgenommenam, erstelltam, erstelltvon) "
       "VALUES (12, 'Alt', 5, 40000, 40001, 'PC')");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("A/12", "Neu", "Hannover", "3")});
  RunImport();
  EXPECT_EQ(One("SELECT name||'|'||ort||'|'||preisstufe FROM besitzer WHERE id=12"), "Neu|Hannover|3");
  EXPECT_EQ(One("SELECT debitornr||'|'||aufgenommenam||'|'||erstelltam||'|'||erstelltvon "
                "FROM besitzer WHERE id=12"),
            "5|40000.0|40001.0|PC");
}

TEST_F(CustomerImport, DeletionByMobileIdRecyclesTheCustomerCreatedEarlierInTheFile) {
  Exec("UPDATE _tblOffsets SET idMax=30 WHERE tbl='Besitzer'");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/12", "Neu"), "D/N/12"});
  RunImport();
  EXPECT_EQ(One("SELECT papierkorb FROM besitzer WHERE id=31"), "1");
  EXPECT_EQ(One("SELECT name||'|'||tabelle||'|'||[index]||'|'||typ FROM papierkorb"),
            "MOBIL|Besitzer|31|0");
  EXPECT_NEAR(std::stod(One("SELECT loeschdatum FROM papierkorb")), NowDayNumber(), 0.01);
}

TEST_F(CustomerImport, DeletionOfARecordThePracticeLacksTouchesNothingAndIsNamed) {
  Exec("INSERT INTO besitzer (id, name) VALUES (0, 'Platzhalter'), (5, 'Bleibt')");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, "D/N/12", "D/A/0", "D/A/99", Customer("A/0", "Neu")});
  RunImport();
  // Row 0 is the host's placeholder: an unknown id never reaches it.
  EXPECT_EQ(One("SELECT group_concat(id||':'||papierkorb||':'||name) FROM besitzer"),
            "0:0:Platzhalter,5:0:Bleibt");
  EXPECT_EQ(Count("SELECT * FROM papierkorb"), 0);
  ASSERT_EQ(Summary().notices.size(), 4u);
  EXPECT_EQ(Summary().notices[0].find("mob_kunde_x.txt D/N/12: nicht gel\xF6scht"), 0u)
      << Summary().notices[0];
}

TEST_F(CustomerImport, DeletionByDatabaseIdTrimsTheId) {
  Exec("INSERT INTO besitzer (id, name) VALUES (57, 'Weg'), (58, 'Bleibt')");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, "D/A/ 57 "});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(id||':'||papierkorb) FROM besitzer"), "57:1,58:0");
  EXPECT_EQ(One("SELECT [index] FROM papierkorb"), "57");
}

TEST_F(CustomerImport, OtherOperationsAreSkippedSilently) {
  Exec("INSERT INTO besitzer (id, name) VALUES (3, 'Alt')");
  WriteChangeFile("mob_kunde_x.txt",
                  {kHeader, Customer("AE/3", "Neu"), Customer("X/1", "Neu"), Customer("n/1", "Neu"),
                   "", ";;;", "N", Customer("N3", "Neu")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT group_concat(name) FROM besitzer"), "Alt");
  EXPECT_EQ(Count("SELECT * FROM papierkorb"), 0);
}

TEST_F(CustomerImport, QuotesAndColumnNamesAreStoredAsTyped) {
  // A name with a double or single quote, and a town spelt like a column.
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "O\"Brien", "ort"),
                                      Customer("N/2", "O'Brien", "name"),
                                      Customer("N/3", "100% \"Rein\" ' OR name=name --")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT name||'|'||ort FROM besitzer WHERE id=1"), "O\"Brien|ort");
  EXPECT_EQ(One("SELECT name||'|'||ort FROM besitzer WHERE id=2"), "O'Brien|name");
  EXPECT_EQ(One("SELECT name FROM besitzer WHERE id=3"), "100% \"Rein\" ' OR name=name --");
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 3);
}

TEST_F(CustomerImport, ChangedCustomerWithQuotesIsStoredAsTyped) {
  Exec("INSERT INTO besitzer (id, name, ort) VALUES (4, 'x', 'y')");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("A/4", "D'Arcy \"Jr\"", "ort")});
  RunImport();
  EXPECT_EQ(One("SELECT name||'|'||ort FROM besitzer WHERE id=4"), "D'Arcy \"Jr\"|ort");
}

// Every conversion error of a customer line ends the import; nothing of the
// run may stay, not even what other files or earlier lines wrote.
class CustomerImportAbort : public ImportTest,
                            public ::testing::WithParamInterface<std::string> {};

TEST_P(CustomerImportAbort, LeavesTheDatabaseExactlyAsBefore) {
  Exec("INSERT INTO besitzer (id, name, debitornr) VALUES (5, 'Bestand', 3)");
  Exec("UPDATE _tblOffsets SET idMax=5 WHERE tbl='Besitzer'");
  const std::string before = Dump();
  const std::string bytesBefore = ReadFile(dbPath_);
  WriteChangeFile("mob_kunde_x.txt",
                  {kHeader, Customer("N/1", "Erster"), Customer("A/5", "Geaendert"), "D/A/5",
                   GetParam(), Customer("N/2", "Danach")});
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1;Stall"});
  EXPECT_THROW(RunImport(), EConvertError);
  EXPECT_EQ(Dump(), before);
  EXPECT_TRUE(ReadFile(dbPath_) == bytesBefore) << "the database file changed";
  EXPECT_TRUE(Errors().empty());
}

INSTANTIATE_TEST_SUITE_P(
    BadFields, CustomerImportAbort,
    ::testing::Values(Customer("N/1", "Preis", "Celle", "zwei"),  // price level not a number
                      Customer("N/1", "Preis", "Celle", ""),      // price level empty
                      Customer("A/5", "Preis", "Celle", "1.5"),   // price level decimal
                      Customer("N/x", "Id"),                      // mobile id not a number
                      Customer("A/5 OR 1=1", "Id"),               // database id not a number
                      Customer("A/", "Id"),                       // database id missing
                      "D/N/abc",                                   // deletion id not a number
                      "D/A/"));                                    // deletion id missing

TEST_F(CustomerImport, AnErrorThatEndsTheImportAllowsACleanRetry) {
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "Erster"), "D/N/kaputt"});
  EXPECT_THROW(RunImport(), EConvertError);
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "Erster"), "D/N/1"});
  RunImport();
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 1);
  EXPECT_EQ(One("SELECT id||':'||papierkorb FROM besitzer"), "1:1");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl='Besitzer'"), "1");
}

}  // namespace
}  // namespace kelvanor::testing
