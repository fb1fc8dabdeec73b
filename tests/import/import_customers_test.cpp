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
  ASSERT_EQ(Summary().notices.size(), 3u);
  EXPECT_EQ(Summary().notices[0].find("mob_kunde_x.txt D/N/12: nicht gel\xF6scht"), 0u)
      << Summary().notices[0];
  // A change has something to lose: it fails and is kept.
  ASSERT_EQ(Summary().failures.size(), 1u);
  EXPECT_EQ(Summary().failures[0].message,
            "Kunde A/0 gibt es in der Praxis nicht mehr; die \xC4nderung wurde nicht \xFC"
            "bernommen.");
}

TEST_F(CustomerImport, DeletionByDatabaseIdTrimsTheId) {
  Exec("INSERT INTO besitzer (id, name) VALUES (57, 'Weg'), (58, 'Bleibt')");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, "D/A/ 57 "});
  RunImport();
  EXPECT_EQ(One("SELECT group_concat(id||':'||papierkorb) FROM besitzer"), "57:1,58:0");
  EXPECT_EQ(One("SELECT [index] FROM papierkorb"), "57");
}

TEST_F(CustomerImport, OtherOperationsAreNamedAndWriteNothing) {
  Exec("INSERT INTO besitzer (id, name) VALUES (3, 'Alt')");
  WriteChangeFile("mob_kunde_x.txt",
                  {kHeader, Customer("AE/3", "Neu"), Customer("X/1", "Neu"), Customer("n/1", "Neu"),
                   "", ";;;", "N", Customer("N3", "Neu")});
  RunImport();
  EXPECT_EQ(Errors().size(), 6u);  // all but the empty line
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

// A customer line that cannot be read fails alone: the lines before and
// after it, in its file and in others, are imported.
class CustomerLineFailsAlone : public ImportTest,
                               public ::testing::WithParamInterface<std::string> {};

TEST_P(CustomerLineFailsAlone, AndTheRestIsImported) {
  Exec("INSERT INTO besitzer (id, name, debitornr) VALUES (5, 'Bestand', 3)");
  Exec("UPDATE _tblOffsets SET idMax=5 WHERE tbl='Besitzer'");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "Erster"), GetParam(),
                                      Customer("N/2", "Danach")});
  WriteChangeFile("mob_stall_x.txt", {"h", "N/1;Stall"});
  RunImport();
  ASSERT_EQ(Summary().failures.size(), 1u);
  EXPECT_EQ(Summary().failures[0].text, GetParam());
  EXPECT_EQ(Summary().failures[0].lineNumber, 3u);
  EXPECT_EQ(One("SELECT group_concat(id||':'||name||':'||papierkorb) FROM besitzer"),
            "5:Bestand:0,6:Erster:0,7:Danach:0");
  EXPECT_EQ(One("SELECT name FROM stall"), "Stall");
}

INSTANTIATE_TEST_SUITE_P(
    BadFields, CustomerLineFailsAlone,
    ::testing::Values(Customer("N/3", "Preis", "Celle", "zwei"),  // price level not a number
                      Customer("N/3", "Preis", "Celle", ""),      // a new customer needs one
                      Customer("A/5", "Preis", "Celle", "1.5"),   // price level decimal
                      Customer("N/x", "Id"),                      // mobile id not a number
                      Customer("A/5 OR 1=1", "Id"),               // database id not a number
                      Customer("A/", "Id"),                       // database id missing
                      "D/N/abc",                                   // deletion id not a number
                      "D/A/"));                                    // deletion id missing

// A change the farrier made to a customer the office has since taken away
// is not written there: it fails alone and names the customer.
TEST_F(CustomerImport, ChangeOfACustomerTheOfficeDeletedBinnedOrDeactivatedFails) {
  Exec("INSERT INTO besitzer (id, name, vorname, papierkorb, deaktiv) VALUES "
       "(1, 'Huber', 'Anna', 1, 0), (2, 'Maier', '', 0, 1), (3, 'Lenz', 'Eva', 0, 0)");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("A/1", "Huber"), Customer("A/2", "Maier"),
                                      Customer("A/4", "Weg"), Customer("A/3", "Lenz", "Uelzen")});
  RunImport();
  EXPECT_EQ(Errors(),
            (std::vector<std::string>{
                "Kunde A/1 (Huber, Anna) liegt in der Praxis im Papierkorb; die \xC4nderung "
                "wurde nicht \xFC" "bernommen.",
                "Kunde A/2 (Maier) ist in der Praxis deaktiviert; die \xC4nderung wurde nicht "
                "\xFC" "bernommen.",
                "Kunde A/4 gibt es in der Praxis nicht mehr; die \xC4nderung wurde nicht \xFC"
                "bernommen."}));
  EXPECT_EQ(One("SELECT group_concat(id||':'||ifnull(ort,''), ' ') FROM besitzer"), "1: 2: 3:Uelzen");
}

// A price level cleared on the mobile keeps the practice's; the rest of the
// change is taken.
TEST_F(CustomerImport, ChangeWithAnEmptyPriceLevelKeepsThePracticesLevel) {
  Exec("INSERT INTO besitzer (id, name, preisstufe) VALUES (4, 'Alt', 3)");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("A/4", "Neu", "Celle", " ")});
  RunImport();
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT name||'|'||preisstufe FROM besitzer WHERE id=4"), "Neu|3");
  ASSERT_EQ(Summary().notices.size(), 1u);
}

TEST_F(CustomerImport, AnUnreadableDeletionFailsAloneAndTheNextSyncTakesItsCorrection) {
  const std::string journal = dir_.File("journal.db");
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "Erster"), "D/N/kaputt"});
  RunImport(journal);
  EXPECT_EQ(Errors().size(), 1u);
  WriteChangeFile("mob_kunde_x.txt", {kHeader, Customer("N/1", "Erster"), "D/N/1"});
  RunImport(journal);
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(Count("SELECT * FROM besitzer"), 1);
  EXPECT_EQ(One("SELECT id||':'||papierkorb FROM besitzer"), "1:1");
  EXPECT_EQ(One("SELECT idMax FROM _tblOffsets WHERE tbl='Besitzer'"), "1");
}

}  // namespace
}  // namespace kelvanor::testing
