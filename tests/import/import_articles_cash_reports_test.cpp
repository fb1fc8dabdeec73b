// Articles and services, cash entries and hoof reports from the mobile.
#include <string>
#include <vector>

#include "import/import_fixture.h"
#include "util/errors.h"

namespace kelvanor::testing {
namespace {

const std::string kPricedHeader = "id;bez;preis1;mwst;p2;p3;p4;p5;x;x;x;x";
const std::string kCashHeader = "id;moment;art;text;nr;betrag;mwst;bezug;x;x;x";
const std::string kReportHeader =
    "id;pferd;auftrag;datum;z_ges;alt;behandlung;bes;pflege;vl;vr;hl;hr;tvl;tvr;thl;thr";

using ArticleImport = ImportTest;
using CashImport = ImportTest;
using ReportImport = ImportTest;

TEST_F(ArticleImport, NewArticlesAndServicesFillTheEuroPriceColumns) {
  WriteChangeFile("mob_artikel_x.txt", {kPricedHeader, "N/4;Eisen \"Sport\" 'B';12.5;19;13;;15;16;;;;"});
  WriteChangeFile("mob_leistung_x.txt", {kPricedHeader, "N/4;Beschlag;80;7;85;90;95;100", "N/5;Leer"});
  RunImport();
  ASSERT_TRUE(Errors().empty());
  EXPECT_EQ(One("SELECT id||'|'||bezeichnung||'|'||mwst||'|'||vkpreis1euro||'|'||vkpreis2euro||'|'||"
                "vkpreis3euro||'|'||vkpreis4euro||'|'||vkpreis5euro||'|'||ifnull(vkpreis1,'NULL')||"
                "'|'||erstelltvon FROM artikel"),
            "1|Eisen \"Sport\" 'B'|19.0|12.5|13.0|0.0|15.0|16.0|NULL|MOB");
  EXPECT_EQ(One("SELECT group_concat(id||':'||mwst||':'||preis1euro||':'||preis5euro||':'||"
                "ifnull(preis1,'NULL'), ' ') FROM leistungen"),
            "1:7.0:80.0:100.0:NULL 2:0.0:0.0:0.0:NULL");
}

TEST_F(ArticleImport, WithMainCurrencyZeroThePlainPriceColumns) {
  Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('DM', 0)");
  WriteChangeFile("mob_artikel_x.txt", {kPricedHeader, "N/1;Stift;1;19;2;3;4;5"});
  WriteChangeFile("mob_leistung_x.txt", {kPricedHeader, "N/1;Kontrolle;10;19;20;30;40;50"});
  RunImport();
  EXPECT_EQ(One("SELECT vkpreis1||vkpreis2||vkpreis3||vkpreis4||vkpreis5||"
                "ifnull(vkpreis1euro,'-') FROM artikel"),
            "1.02.03.04.05.0-");
  EXPECT_EQ(One("SELECT preis1||preis5||ifnull(preis1euro,'-') FROM leistungen"), "10.050.0-");
}

TEST_F(ArticleImport, ChangesAndDeletionsWriteNothingAndAreKeptForTheOffice) {
  Exec("INSERT INTO artikel (id, bezeichnung, vkpreis1euro) VALUES (1, 'Alt', 5)");
  const std::string before = Dump();
  WriteChangeFile("mob_artikel_x.txt", {kPricedHeader, "A/1;Neu;9;19;9;9;9;9", "D/N/1;;;;;;;",
                                        "X/1;Neu;1;1;1;1;1;1"});
  RunImport();
  ASSERT_EQ(Summary().failures.size(), 1u);  // an operation the file does not know
  EXPECT_EQ(Summary().failures[0].lineNumber, 4u);
  ASSERT_EQ(Summary().notTaken.size(), 2u);
  EXPECT_EQ(Summary().notTaken[0].text, "A/1;Neu;9;19;9;9;9;9");
  EXPECT_EQ(Summary().notTaken[1].firstField, "D/N/1");
  EXPECT_EQ(Dump(), before);
}

TEST_F(ArticleImport, UnreadableNumberOrIdFailsTheLineAlone) {
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/1;Herr;Meier;;;;;;;;1;"});
  WriteChangeFile("mob_artikel_x.txt", {kPricedHeader, "N/1;Gut;1;19;;;;", "A/1;Neu;9;19;9;9;9;1,5x",
                                        "D/A/1;;;x;;;;", "N/x;Eisen;1;19;;;;", "N/2;Auch gut;2"});
  RunImport();
  EXPECT_EQ(Errors(), (std::vector<std::string>{"Preis 5 \"1,5x\" ist keine Zahl",
                                                "MwSt. \"x\" ist keine Zahl",
                                                "Datensatz \"N/x\" enth\xE4lt keine g\xFCltige "
                                                "Nummer"}));
  EXPECT_EQ(One("SELECT group_concat(id||':'||bezeichnung) FROM artikel"), "1:Gut,2:Auch gut");
  EXPECT_EQ(One("SELECT name FROM besitzer"), "Meier");
}

TEST_F(ArticleImport, PriceColumnTheDatabaseLacksEndsTheImportVisibly) {
  Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('EUR', 1);"
       "ALTER TABLE artikel DROP COLUMN vkpreis3euro;"
       "INSERT INTO besitzer (id, name) VALUES (1, 'Meier');");
  WriteChangeFile("mob_artikel_x.txt", {kPricedHeader, "N/1;Eisen;1;19;;;;"});
  WriteChangeFile("mob_leistung_x.txt", {kPricedHeader, "N/1;Beschlag;50;19;;;;"});
  WriteChangeFile("mob_rech_x.txt", {"h", "K1;0;A/1;;46400;0;N/Art/1|N/Lst/1;1;;"});
  // A refused article fails alone, and it leaves no silent gap in an order:
  // the order naming it fails too. The service and the rest go in.
  RunImport();
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_NE(Errors()[0].find("vkpreis3euro"), std::string::npos) << Errors()[0];
  EXPECT_EQ(Summary().failures[1].file, "mob_rech_x.txt");
  EXPECT_EQ(Count("SELECT * FROM artikel"), 0);
  EXPECT_EQ(Count("SELECT * FROM auftrag"), 0);
  EXPECT_EQ(One("SELECT bezeichnung FROM leistungen"), "Beschlag");
}

TEST_F(CashImport, NetAmountFromGrossAndTheMomentSplitIntoDayAndTime) {
  WriteChangeFile("mob_kunde_x.txt", {"h", "N/5;Frau;Neu;;;;;;;;1;"});
  Exec("UPDATE _tblOffsets SET idMax=40 WHERE tbl='Besitzer'");
  WriteChangeFile("mob_kasse_x.txt",
                  {kCashHeader, "N/1;46400.625;K;Zahlung;B-1;119;19;A/3;;;",
                   "A/2;;K;Bar;B-2;50;0;N/5", "N/3; 46401.5 ;K;x;y;10.7;7;AE/5",
                   "N/4;46402;K;x;y;10;19;N/99", "N/5;46402;K;x;y;10;19;X/1", "D/6;1;K;x;y;1;1;A/1",
                   "X/7;1;K;x;y;1;1;A/1"});
  RunImport();
  // The deletion is the office's to do, the unknown operation is named.
  ASSERT_EQ(Summary().notTaken.size(), 1u);
  EXPECT_EQ(Summary().notTaken[0].firstField, "D/6");
  ASSERT_EQ(Summary().failures.size(), 1u);
  EXPECT_EQ(Summary().failures[0].firstField, "X/7");
  EXPECT_EQ(One("SELECT group_concat(neinaus||':'||besitzerindex||':'||lieferantindex||':'||termin||"
                "':'||uhrzeit||':'||betrag||':'||mwst||':'||waehrung||':'||bemerkung, ' / ') "
                "FROM kasse"),
            "0:3:0:46400.0:0.625:100.0:19.0:1: / 0:41:0:0.0:0.0:50.0:0.0:1: / "
            "0:41:0:46401.0:0.5:10.0:7.0:1: / 0:0:0:46402.0:0.0:8.40336134453782:19.0:1: / "
            "0:0:0:46402.0:0.0:8.40336134453782:19.0:1:");
  EXPECT_EQ(One("SELECT group_concat(bezeichnung||'/'||buchungsnr) FROM kasse WHERE id<3"),
            "Zahlung/B-1,Bar/B-2");
}

TEST_F(CashImport, SupplierNameIsAPrefixWhoseWildcardsAndQuotesAreTakenLiterally) {
  Exec("INSERT INTO lieferant (id, name) VALUES (1, '1000 Eisen'), (2, '100% Huf'), "
       "(3, 'AxB Handel'), (4, 'A_B Handel'), (5, 'O''Brien & Co'), (6, 'C:\\Pfad\\Huf'), "
       "(7, 'Weiss A'), (8, 'Weiss B')");
  const std::vector<std::string> names = {"100%", "A_B", "O'Brien", "C:\\Pfad", "Weiss", "%",
                                          "_", "\"", "Unbekannt", "weiss", ""};
  std::vector<std::string> lines{kCashHeader};
  for (std::size_t i = 0; i < names.size(); ++i) {
    lines.push_back("N/" + std::to_string(i) + ";46400;A;Ware;;11.9;19;" + names[i] + ";;;");
  }
  WriteChangeFile("mob_kasse_x.txt", lines);
  RunImport();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  // LIKE ignores the case of ASCII letters, as it always did; an empty name
  // names no supplier (as a prefix it would match them all).
  EXPECT_EQ(One("SELECT group_concat(lieferantindex) FROM kasse"), "2,4,5,6,7,0,0,0,0,7,0");
  EXPECT_EQ(One("SELECT group_concat(neinaus||besitzerindex||':'||bemerkung, '|') FROM kasse "
                "WHERE id IN (2, 3, 8)"),
            "10:Lieferant: A_B|10:Lieferant: O'Brien|10:Lieferant: \"");
}

TEST_F(CashImport, EmptyOrUnreadableAmountRefusesTheLineAndTheNextImports) {
  WriteChangeFile("mob_kasse_x.txt",
                  {kCashHeader, "N/1;46400;K;x;y;;19;A/1", "N/2;46400;K;x;y;10;;A/1",
                   "N/3;46400;K;x;y;10;-100;A/1", "N/4;heute;K;x;y;10;19;A/1",
                   "N/5;46400;K;x;y;10;19;A/z", "N/6;46400;K;gut;y;10;19;A/1"});
  RunImport();
  EXPECT_EQ(Errors(),
            (std::vector<std::string>{
                "Betrag fehlt", "MwSt. fehlt",
                "Betrag \"10\" und MwSt. \"-100\" ergeben keinen Nettobetrag",
                "Datum \"heute\" ist kein Datum",
                "Kunde \"A/z\" enth\xE4lt keine g\xFCltige Nummer"}));
  EXPECT_EQ(One("SELECT group_concat(id||':'||bezeichnung) FROM kasse"), "1:gut");
}

TEST_F(ReportImport, OrderIdAndDateAreStoredAsTheValuesTheLineWrites) {
  Exec("INSERT INTO pferd (id, name) VALUES (1, 'Blitz')");
  WriteChangeFile("mob_report_x.txt",
                  {kReportHeader, "N/1;A/1;46363.5;-3", "N/2;A/1; 12 ;'46400.25'",
                   "N/3;A/1;\"7\";NULL", "N/4;A/1;null;'it''s'", "N/5;A/1;+5;1e3",
                   "N/6;A/1;\"a\"\"b\";.5"});
  RunImport();
  ASSERT_TRUE(Errors().empty()) << Errors().front();
  EXPECT_EQ(One("SELECT group_concat(quote(auftragindex)||':'||quote(datum), ' ') "
                "FROM verbindbeschlag"),
            "46363.5:-3.0 12:46400.25 7:NULL NULL:'it''s' 5:1000.0 'a\"b':0.5");
  // Missing text fields are stored as empty texts, not NULL.
  EXPECT_EQ(Count("SELECT * FROM verbindbeschlag WHERE z_ges = '' AND txt_hr = ''"), 6);
}

TEST_F(ReportImport, FieldThatIsNotOneValueRefusesTheLineAndRunsNothing) {
  Exec("INSERT INTO pferd (id, name) VALUES (1, 'Blitz')");
  const std::string before = Dump();
  WriteChangeFile("mob_report_x.txt",
                  {kReportHeader, "N/1;A/1;1); DROP TABLE pferd; --;46400;a;b;c",
                   "N/2;A/1;1),(2,(SELECT name FROM pferd));46400", "N/3;A/1;;46400",
                   "N/4;A/1;abc;46400", "N/5;A/1;0x10;46400", "N/6;A/1;'a'b';46400",
                   "N/7;A/1;--1;46400", "N/8;A/1;1e999;46400", "N/9;A/1;1;46400.5.5",
                   "N/10;A/1;1;'offen", "N/11;A/1;1;", "N/12;A/1;(1);46400",
                   "N/13;A/1;1;46400 -- x"});
  RunImport();
  ASSERT_EQ(Errors().size(), 13u);
  EXPECT_EQ(Errors()[0], "Auftragsnummer \"1)\" ist kein g\xFCltiger Wert");
  EXPECT_EQ(Errors()[10], "Datum fehlt");
  EXPECT_EQ(Dump(), before);
}

TEST_F(ReportImport, OnlyNewReportsAndTheHorseOfTheSameRun) {
  Exec("UPDATE _tblOffsets SET idMax=20 WHERE tbl='Pferd'");
  WriteChangeFile("mob_pferd_x.txt", {"h", "N/5;Fritz;;;;46450;;;;;"});
  WriteChangeFile("mob_report_x.txt",
                  {kReportHeader, "A/1;A/1;1;46400", "D/2;A/1;1;46400", "X/3;A/1;1;46400",
                   "N/4;N/5;1;46400;" + W("1;alt;Beschlag;keine;Öl;a;b;c;d;e;f;g;h"),
                   "N/6;N/99;1;46400", "N/7;A/x;1;46400"});
  RunImport();
  ASSERT_EQ(Errors().size(), 2u);
  EXPECT_EQ(Summary().failures[0].firstField, "X/3");
  EXPECT_EQ(Errors()[1], "Pferd \"A/x\" enth\xE4lt keine g\xFCltige Nummer");
  EXPECT_EQ(Summary().notTaken.size(), 2u);  // the changed and the deleted report
  EXPECT_EQ(One("SELECT group_concat(pferdindex||':'||z_ges||':'||besonderheitenalt||':'||"
                "behandlung||':'||besonderheiten||':'||pflegehinweis||':'||z_vl||z_vr||z_hl||"
                "z_hr||txt_vl||txt_vr||txt_hl||txt_hr, ' / ') FROM verbindbeschlag"),
            W("21:1:alt:Beschlag:keine:Öl:abcdefgh / 0::::::"));
}

}  // namespace
}  // namespace kelvanor::testing
