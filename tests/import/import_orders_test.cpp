// Orders from the mobile: the layout that follows the number of horses, the
// items, price levels and order types, totals in both VAT branches, invoiced
// and not invoiced, and lines that must be refused as a whole.
#include <set>
#include <string>
#include <vector>

#include "import/import_fixture.h"
#include "import/received_preview.h"

namespace kelvanor::testing {
namespace {

const std::string kHeader = "x;rechnungsnr;kunde;pferde;datum;betrag;posten";

// The order table with other defaults for the discount and the order VAT
// rate, which the import never writes and the totals read.
std::string AuftragWithDefaults(const std::string& skonto, const std::string& mwst) {
  return "DROP TABLE auftrag; CREATE TABLE auftrag (id INTEGER DEFAULT 0, auftragstyp INTEGER, "
         "bezeichnung TEXT, besitzerindex INTEGER, termin REAL, abgerechnetam REAL, "
         "gedrucktam REAL, rechnungsnr TEXT, abgerechnet INTEGER DEFAULT 0, bezahlt INTEGER "
         "DEFAULT 0, waehrung INTEGER, npreisstufe INTEGER, rechbetrag REAL, rechbetrag2 REAL, "
         "davonbezahlt REAL, adresse TEXT, sAuftyp TEXT, skonto REAL DEFAULT " + skonto +
         ", mwst REAL DEFAULT " + mwst + ", erstelltam REAL, erstelltvon TEXT, "
         "papierkorb INTEGER DEFAULT 0);";
}

class OrderImport : public ImportTest {
 protected:
  OrderImport() {
    Exec("INSERT INTO besitzer (id, name, vorname) VALUES (1, 'Meier', 'Anna'), (2, 'Schulz', NULL);"
         "INSERT INTO pferd (id, name) VALUES (1, 'Blitz'), (2, 'Luna');"
         "INSERT INTO artikel (id, nr, bezeichnung, mwst, vkpreis1, vkpreis2, vkpreis3, "
         "  vkpreis1euro, vkpreis2euro, vkpreis3euro) VALUES "
         "  (1, '1001', 'Eisen', 19, 10, 20, 30, 100, 200, 300),"
         "  (2, 'A-7', 'Stift \"klein\" +! O''Brien', 7, 1, 2, 3, 5, 6, 7);"
         "INSERT INTO leistungen (id, nr, bezeichnung, mwst, arbeitsdauer, preis1, preis1euro, "
         "  preis2euro) VALUES (1, '101', 'Beschlag', 19, 45, 50, 500, 600),"
         "  (2, NULL, 'Ohne Dauer', 0, NULL, 8, 9, NULL);"
         "INSERT INTO zauftragstyp (nid, text) VALUES (5, 'Mobil');");
  }

  void ImportOrders(const std::vector<std::string>& lines) {
    std::vector<std::string> file{kHeader};
    file.insert(file.end(), lines.begin(), lines.end());
    WriteChangeFile("mob_rech_x.txt", file);
    RunImport();
  }

  double Number(const std::string& sql) const { return std::stod(One(sql)); }
};

TEST_F(OrderImport, NotInvoicedOrderIsOpenAndPaidInFull) {
  ImportOrders({"K1;0;A/1;A/1;46400.5;0;Art/1;1;;JA"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(One("SELECT auftragstyp||'|'||bezeichnung||'|'||besitzerindex||'|'||termin||'|'||"
                "ifnull(abgerechnetam,'-')||'|'||ifnull(gedrucktam,'-')||'|'||"
                "ifnull(rechnungsnr,'-')||'|'||abgerechnet||'|'||bezahlt||'|'||waehrung||'|'||"
                "npreisstufe||'|'||adresse||'|'||sAuftyp FROM auftrag"),
            "-1|Ihre Rechnung|1|46400.5|-|-|-|0|-1|0|1|Meier, Anna|");
  // No order VAT rate: the line's 19 % are added to the net.
  EXPECT_EQ(One("SELECT rechbetrag||'|'||rechbetrag2||'|'||davonbezahlt FROM auftrag"),
            "100.0|119.0|119.0");
}

TEST_F(OrderImport, InvoicedOrderCarriesNumberAndDatesAndIsUnpaidUnlessMarked) {
  ImportOrders({"K1;R-2025/17;A/2;A/2;46401;0;Lst/1;1;;NEIN",
                "K2;R-18;A/2;A/2;46401;0;Lst/1;1;; JA ",
                "K3;R-19;A/2;A/2;46401;0;Lst/1;1;;ja"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(One("SELECT rechnungsnr||'|'||abgerechnet||'|'||abgerechnetam||'|'||gedrucktam||'|'||"
                "termin||'|'||adresse FROM auftrag WHERE id=1"),
            "R-2025/17|-1|46401.0|46401.0|46401.0|Schulz");
  EXPECT_EQ(One("SELECT group_concat(bezahlt||':'||davonbezahlt||':'||rechbetrag2, ' ') "
                "FROM auftrag"),
            "0:0.0:595.0 -1:595.0:595.0 0:0.0:595.0");
}

TEST_F(OrderImport, OrderVatRateAppliesToTheWholeNetAndTheDiscountIsAdded) {
  Exec(AuftragWithDefaults("2.5", "16"));
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/1|Lst/1;1;;JA"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_DOUBLE_EQ(Number("SELECT rechbetrag FROM auftrag"), 602.5);
  EXPECT_DOUBLE_EQ(Number("SELECT rechbetrag2 FROM auftrag"), 600 * 1.16);
  EXPECT_EQ(One("SELECT davonbezahlt = rechbetrag2 FROM auftrag"), "1");
}

TEST_F(OrderImport, WithoutOrderVatRateTheLinesVatIsAddedAndTheDiscountTaken) {
  Exec(AuftragWithDefaults("2.5", "0"));
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/1|Lst/1|Art/2;1;;"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_DOUBLE_EQ(Number("SELECT rechbetrag FROM auftrag"), 605);
  EXPECT_DOUBLE_EQ(Number("SELECT rechbetrag2 FROM auftrag"), 605 + 600 * 0.19 + 5 * 0.07 - 2.5);
}

TEST_F(OrderImport, PricesWithoutSuffixWhenTheMainCurrencyFlagIsZero) {
  Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('DM', 0)");
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/1;3;;"});
  EXPECT_EQ(One("SELECT preis FROM verbindauftrag"), "30.0");
  EXPECT_EQ(One("SELECT waehrung FROM auftrag"), "0");
}

TEST_F(OrderImport, EuroPricesAndCurrencyFlagWhenTheMainCurrencyFlagIsOne) {
  Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('EUR', 1)");
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/1;3;;"});
  EXPECT_EQ(One("SELECT preis FROM verbindauftrag"), "300.0");
  EXPECT_EQ(One("SELECT waehrung FROM auftrag"), "1");
}

TEST_F(OrderImport, PriceLevelOutsideOneToFiveUsesTheFirstPrice) {
  ImportOrders({"P1;0;A/1;A/1;46400;0;Art/1;7;;", "P2;0;A/1;A/1;46400;0;Art/1;-2;;",
                "P3;0;A/1;A/1;46400;0;Art/1;;;", "P4;0;A/1;A/1;46400;0;Art/1;0;;",
                "P5;0;A/1;A/1;46400;0;Art/1;258;;", "P6;0;A/1;A/1;46400;0;Art/1;3;;",
                "P7;0;A/1;A/1;46400;0;Art/1;zwei;;"});
  // 258 is 2 in eight bits.
  EXPECT_EQ(One("SELECT group_concat(npreisstufe||':'||preis, ' ') FROM auftrag JOIN "
                "verbindauftrag ON auftragindex = auftrag.id"),
            "1:100.0 1:100.0 1:100.0 1:100.0 2:200.0 3:300.0");
  ASSERT_EQ(Errors().size(), 1u);
  EXPECT_EQ(Errors()[0], "Preisstufe \"zwei\" ist keine ganze Zahl");
}

TEST_F(OrderImport, OrderTypeFromTheFourthAndFifthCharacter) {
  Exec("INSERT INTO zauftragstyp (nid, text) VALUES (-1, 'Ohne Typ')");
  ImportOrders({"T1;0;A/1;A/1;46400;0;;1;Typ05;", "T2;0;A/1;A/1;46400;0;;1;;",
                "T3;0;A/1;A/1;46400;0;;1;AB 7 ;", "T4;0;A/1;A/1;46400;0;;1;Typ00;",
                "T5;0;A/1;A/1;46400;0;;1;Typ-3x;", "T6;0;A/1;A/1;46400;0;;1;Typ;",
                "T7;0;A/1;A/1;46400;0;;1;TypXY;"});
  EXPECT_EQ(One("SELECT group_concat(auftragstyp||':'||bezeichnung||':'||sAuftyp, ' / ') "
                "FROM auftrag"),
            "5:Mobil:Mobil / -1:Ohne Typ:Ohne Typ / 7:Ihre Rechnung: / -1:Ohne Typ:Ohne Typ / "
            "-3:Ihre Rechnung:");
  // Too short to hold a number, or no number there: the line is refused.
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          "Auftragstyp \"Typ\" enth\xE4lt keine g\xFCltige Nummer",
                          "Auftragstyp \"TypXY\" enth\xE4lt keine g\xFCltige Nummer"}));
}

TEST_F(OrderImport, ItemsThatNameNoRecordAreSkippedSilently) {
  // Row 0 is the host's placeholder: nothing of it may reach an order line.
  Exec("INSERT INTO artikel (id, nr, bezeichnung, vkpreis1euro) VALUES (0, '0', 'Platzhalter', 1)");
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/99|X/1|Art/|N/Art/99|N/Lst/|Art|Lst/1||lst/1|Art/0;1;;"});
  EXPECT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT group_concat(typ||':'||[index]) FROM verbindauftrag"), "1:1");
  EXPECT_EQ(Number("SELECT rechbetrag FROM auftrag"), 500);
}

TEST_F(OrderImport, LineTakesNumberAndDescriptionExactlyAsThePracticeHoldsThem) {
  ImportOrders({"K1;0;A/1;A/1;46400;0;Art/2|Art/1|Lst/2|Lst/1;1;;"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(One("SELECT group_concat(typeof(nr)||':'||nr||':'||bezeichnung||':'||typeof(dauer)||"
                "':'||dauer, ' / ') FROM verbindauftrag"),
            "text:A-7:Stift \"klein\" +! O'Brien:real:0.0 / text:1001:Eisen:real:0.0 / "
            "text::Ohne Dauer:text: / text:101:Beschlag:real:45.0");
}

TEST_F(OrderImport, EmptyHorseFieldGivesOneOrderHorseWithoutHorse) {
  ImportOrders({"K1;0;A/1;;46400;0;Art/1|Lst/1;1;;"});
  EXPECT_EQ(One("SELECT nid||':'||npferdindex FROM vbauftragpferd"), "1:0");
  EXPECT_EQ(One("SELECT group_concat(nvbauftragindex) FROM verbindauftrag"), "1,1");
}

TEST_F(OrderImport, TwoHorsesMoveThePriceLevelTypeAndPaidFlagOneFieldOn) {
  ImportOrders({"K1;0;A/1;A/1|A/2;46400;0;Art/1;Lst/1|Art/1;2;Typ05;JA"});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(One("SELECT group_concat(nid||':'||npferdindex) FROM vbauftragpferd"), "1:1,2:2");
  EXPECT_EQ(One("SELECT group_concat(nvbauftragindex||':'||typ||':'||preis) FROM verbindauftrag"),
            "1:2:200.0,2:1:600.0,2:2:200.0");
  EXPECT_EQ(One("SELECT npreisstufe||':'||auftragstyp||':'||bezahlt FROM auftrag"), "2:5:-1");
}

TEST_F(OrderImport, SixteenHorsesWithSixteenItemsEach) {
  std::string horses;
  std::string items;
  for (int i = 0; i < 16; ++i) {
    horses += (i ? "|" : "") + std::string(i % 2 ? "A/2" : "A/1");
    items += (i ? "|" : "") + std::string("Art/1");
  }
  std::string line = "K1;0;A/1;" + horses + ";46400;0";
  for (int i = 0; i < 16; ++i) line += ";" + items;
  line += ";2;Typ05;JA";
  ImportOrders({line});
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(Count("SELECT * FROM vbauftragpferd"), 16);
  EXPECT_EQ(Count("SELECT * FROM verbindauftrag"), 256);
  EXPECT_EQ(Count("SELECT nvbauftragindex FROM verbindauftrag GROUP BY nvbauftragindex "
                  "HAVING COUNT(*) = 16"),
            16);
  EXPECT_EQ(One("SELECT npreisstufe||':'||auftragstyp||':'||bezahlt||':'||rechbetrag FROM auftrag"),
            "2:5:-1:51200.0");
}

TEST_F(OrderImport, SeventeenHorsesOrItemsAreRefusedAndFewerFieldsReadAsEmpty) {
  std::string seventeen;
  for (int i = 0; i < 17; ++i) seventeen += (i ? "|" : "") + std::string("Art/1");
  ImportOrders({"K1;0;A/1;A/1|A/1|A/1|A/1|A/1|A/1|A/1|A/1|A/1|A/1|"
                "A/1|A/1|A/1|A/1|A/1|A/1|A/1;46400;0;Art/1",
                "K2;0;A/1;A/1;46400;0;" + seventeen + ";1;;",
                // Three horses, but the line ends after the first one's items.
                "K3;0;A/2;A/1|A/2|A/1;46400;0;Lst/1"});
  EXPECT_EQ(Errors(), (std::vector<std::string>{
                          "Pferd \"A/1|A/1\" enth\xE4lt keine g\xFCltige Nummer",
                          "Artikel \"Art/1|Art/1\" enth\xE4lt keine g\xFCltige Nummer"}));
  // Only the third order stays: the others left no rows and used no ids.
  EXPECT_EQ(One("SELECT group_concat(id||':'||besitzerindex||':'||npreisstufe||':'||auftragstyp"
                "||':'||bezahlt) FROM auftrag"),
            "1:2:1:-1:0");
  EXPECT_EQ(One("SELECT group_concat(nid||':'||npferdindex) FROM vbauftragpferd"),
            "1:1,2:2,3:1");
  EXPECT_EQ(One("SELECT group_concat(nvbauftragindex||':'||[index]) FROM verbindauftrag"), "1:1");
}

TEST_F(OrderImport, LineWithAnErrorLeavesNoHalfOrderAndTheNextLineImports) {
  const std::vector<std::string> lines = {
      "E1;0;A/1;A/1|A/2;46400;0;Art/1;Art/x1;1;;", "E2;0;A/1;A/1;;0;Art/1;1;;",
      "E3;0;A/1;A/1;46400;;Art/1;1;;",           "E4;0;A/1;A/1;46400,5;0;Art/1;1;;",
      "E5;0;A/x;A/1;46400;0;Art/1;1;;",          "E6;0;A/1;N/1x;46400;0;Art/1;1;;",
      "E7;0;A/1;A/1;46400;0;Art/1;x;;",          "OK;0;A/1;A/1;46400;0;Art/1;+3;;"};
  const std::vector<std::string> refusals = {
      "Artikel \"Art/x1\" enth\xE4lt keine g\xFCltige Nummer", "Datum fehlt", "Feld 6 fehlt",
      "Datum \"46400,5\" ist kein Datum", "Kunde \"A/x\" enth\xE4lt keine g\xFCltige Nummer",
      "Pferd \"N/1x\" enth\xE4lt keine g\xFCltige Nummer",
      "Preisstufe \"x\" ist keine ganze Zahl"};
  // The preview reads each line as the import will: the refused ones name
  // the import's own reason, the good one its price level ("+3" is 3).
  std::vector<std::string> file{kHeader};
  file.insert(file.end(), lines.begin(), lines.end());
  WriteChangeFile("mob_rech_x.txt", file);
  TreeModel tree;
  ReadReceivedFilesFrom(downloadFolder_, TestChangeFiles(), nullptr, tree);
  {
    TDBase db(dbPath_);
    std::set<std::size_t> refused;
    const LineDescriptions described = DescribeReceived(&db, tree, nullptr, nullptr, &refused);
    for (std::size_t i = 0; i < refusals.size(); ++i) {
      const std::string& headline = described.at(3 + i).front();
      EXPECT_NE(headline.find(" wird nicht \xFC" "bernommen: " + refusals[i]), std::string::npos)
          << headline;
    }
    EXPECT_NE(described.at(10).front().find("Summe 357,00 \x80"), std::string::npos)
        << described.at(10).front();
    EXPECT_EQ(refused.size(), refusals.size());
    EXPECT_NE(SummarizeReceived(tree, nullptr, &refused).find("7 Zeilen werden nicht \xFC" "bernommen"),
              std::string::npos);
  }
  ImportOrders(lines);
  EXPECT_EQ(Errors(), refusals);
  EXPECT_EQ(One("SELECT group_concat(id||':'||npreisstufe||':'||rechbetrag) FROM auftrag"),
            "1:3:300.0");
  EXPECT_EQ(Count("SELECT * FROM vbauftragpferd"), 1);
  EXPECT_EQ(Count("SELECT * FROM verbindauftrag"), 1);
  EXPECT_EQ(One("SELECT group_concat(tbl||'='||idMax) FROM _tblOffsets WHERE idMax > 0"),
            "Auftrag=1,VerbindAuftrag=1,vbAuftragPferd=1");
}

TEST_F(OrderImport, PriceColumnTheDatabaseLacksRefusesTheLineAndTheRestImports) {
  Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('EUR', 1);"
       "ALTER TABLE artikel DROP COLUMN vkpreis2euro;");
  ImportOrders({"K1;0;A/1;A/1;46400;0;Lst/1|Art/1;2;;", "K2;0;A/1;A/1;46400;0;Lst/1;2;;",
                "K3;0;A/1;A/1;46400;0;Art/1;1;;"});
  EXPECT_EQ(Errors(), std::vector<std::string>{"Field not found in dataset: vkpreis2euro"});
  EXPECT_EQ(One("SELECT group_concat(id||':'||npreisstufe||':'||rechbetrag) FROM auftrag"),
            "1:2:600.0,2:1:100.0");
}

}  // namespace
}  // namespace kelvanor::testing
