// The eight data files, byte for byte, from small practices that exercise
// each file's rules.
#include <gtest/gtest.h>

#include <string>

#include "export/export_fixture.h"
#include "export/export_writers.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

std::string Lines(std::initializer_list<std::string> lines) {
  std::string out;
  for (const auto& l : lines) out += l + "\r\n";
  return out;
}

using CustomerFileTest = ExportTest;

TEST_F(CustomerFileTest, CustomersAreCutAt150AndShowNullsByColumnType) {
  const std::string street125(125, 's');
  const std::string street120(120, 't');
  Practice(W("INSERT INTO besitzer (id, anrede, name, vorname, kundennr, telefon, strasse, plz, "
             "ort, land, email, preisstufe, telefonhandy, papierkorb, deaktiv) VALUES "
             "(0, '', '', '', '', '', '', '', '', '', '', 0, '', 0, 0),"
             "(1, 'Herr', 'Müller', 'Jürgen', 'K1', '0511/1', 'Hauptstraße 1', '30159', "
             "'Hannover', 'Deutschland', 'j@m.de', 2, '0171', 0, 0),"
             "(2, 'Frau', 'Abel', 'Anna', 'K2', NULL, 'Weg 1; Hinterhaus', '1', 'Ort', 'D', "
             "NULL, NULL, NULL, 0, 0),"
             "(3, 'Herr', 'Aus', 'Deaktiv', 'K3', '', '', '', '', '', '', 1, '', 0, 1),"
             "(4, 'Herr', 'Im', 'Papierkorb', 'K4', '', '', '', '', '', '', 1, '', 1, 0),"
             "(5, 'Herr', 'Lang', 'Lutz', 'K5', '1', '" + street120 + "', '12345', 'Ortsname', "
             "'Deutschland', 'lang@example.de', 3, '0170', 0, 0),"
             "(6, 'Frau', 'Zeh', 'Zoe', 'K6', '', '" + street125 + "', '', '', 'X', '', 1, '', "
             "0, 0);"));
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_kunde.txt"),
            Lines({// NULL text columns are empty, a NULL INTEGER column reads 0; the ";" in
                   // the street shifts the fields after it.
                   "A/2;Frau;Abel;Anna;K2;;Weg 1; Hinterhaus;1;Ort;;0;;D",
                   // 180 characters after the key: the first 150 remain.
                   "A/5;Herr;Lang;Lutz;K5;1;" + street120 + ";12345;Ort",
                   W("A/1;Herr;Müller;Jürgen;K1;0511/1;Hauptstraße 1;30159;Hannover;j@m.de;2;"
                     "0171;Deutschland"),
                   // Exactly 150: kept whole.
                   "A/6;Frau;Zeh;Zoe;K6;;" + street125 + ";;;;1;;X"}));
}

TEST_F(CustomerFileTest, StablesAreCutAt150AndSortedByName) {
  const std::string contact(160, 'k');
  Practice(W("INSERT INTO stall (id, name, ansprechpartner, telefon, strasse, plz, ort, land, "
             "papierkorb) VALUES "
             "(0, '', '', '', '', '', '', '', 0),"
             "(1, 'Zuchthof Weiß', 'Jörg', '0511', 'Feldweg 2', '12345', 'Celle', 'D', 0),"
             "(2, 'Alpha', NULL, '0511', 'Weg 2', '12345', 'Ort', 'D', 0),"
             "(3, 'Beta', '" + contact + "', '1', '2', '3', '4', '5', 0),"
             "(4, 'Gelöscht', '', '', '', '', '', '', 1);"));
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_stall.txt"),
            Lines({"A/2;Alpha;;0511;Weg 2;12345;Ort;D", "A/3;Beta;" + contact.substr(0, 145),
                   W("A/1;Zuchthof Weiß;Jörg;0511;Feldweg 2;12345;Celle;D")}));
}

class HorseFilesTest : public ExportTest {
 protected:
  void SetUp() override {
    Practice(W(
        "INSERT INTO besitzer (id, name, vorname, papierkorb, deaktiv) VALUES "
        "(12, 'Meier', 'Karl', 0, 0), (13, 'abel', 'Ute', 0, 0), (14, 'Otto', 'Ohne', 0, 0),"
        "(15, 'Paul', 'Pferdlos', 0, 0), (16, 'Quast', 'Rosa', 0, 0),"
        "(17, 'Raus', 'Rudi', 0, 1);"
        "INSERT INTO pferd (id, name, beschlagsrhythmus, naechsterbeschlag, papierkorb, deaktiv) "
        "VALUES (40, 'Fury', 6, 46400, 0, 0), (41, 'Max', NULL, 46380, 0, 0),"
        "(42, 'Blitz', 8, NULL, 0, 0), (43, 'Schläfer', 6, 46390, 0, 1),"
        "(44, 'Weg', 6, 46390, 1, 0), (45, 'Rosi', 4, 46401.5, 0, 0), (46, 'Zorro', 4, 46402, 0, 0);"
        "INSERT INTO verbind (id, pferdindex, besitzerindex) VALUES "
        "(1, 40, 12), (2, 41, 12), (3, 42, 13), (4, 43, 14), (5, 44, 16), (6, 45, 16), (7, 46, 17);"
        "INSERT INTO stall (id, name, plz, ort, papierkorb) VALUES "
        "(7, 'Hof Sonne', '12345', 'Celle', 0), (8, 'Gestüt Weiß', '54321', 'Verden', 0);"
        "INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES "
        "(1, 7, 40), (2, 8, 42), (3, 7, 45);"
        // Horse 40: the newest order is 1 September 2026 (with a time of day).
        // Horse 42: only a date of 0. Horse 41: never on an order.
        "INSERT INTO vbauftragpferd (nid, nauftragindex, npferdindex, termin) VALUES "
        "(1, 1, 40, 46200), (2, 2, 40, 46266.75), (3, 3, 40, NULL), (4, 4, 42, 0),"
        "(5, 5, 45, 46100);"));
  }
};

TEST_F(HorseFilesTest, CustomerHorsesGroupEachCustomersLiveHorses) {
  ASSERT_TRUE(Export().IsOk());
  // Sorted by the upper-cased name (abel before Meier); customers without a
  // live, active horse are left out, as are deactivated customers.
  EXPECT_EQ(Out("mob_kunde_pferd.txt"),
            Lines({"A/13;Blitz|A/42||", "A/12;Fury|A/40|46266|46400;Max|A/41||46380",
                   "A/16;Rosi|A/45|46100|46401.5"}));
}

TEST_F(HorseFilesTest, HorsesShowStableAndLastAppointment) {
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_pferd.txt"),
            Lines({W("A/42;Blitz;Gestüt Weiß;8;;;A/8;54321;Verden"),
                   "A/40;Fury;Hof Sonne;6;46266;46400;A/7;12345;Celle",
                   // Without a stable: empty texts, and the numeric stable id reads 0.
                   "A/41;Max;;;;46380;A/0;;", "A/45;Rosi;Hof Sonne;4;46100;46401.5;A/7;12345;Celle",
                   "A/46;Zorro;;4;;46402;A/0;;"}));
}

TEST_F(HorseFilesTest, HorseInTwoStablesGivesTwoLines) {
  ExecOnFile(dbPath, "INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (4, 8, 41);"
                     "INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (5, 7, 41);");
  ASSERT_TRUE(Export().IsOk());
  const std::string horses = Out("mob_pferd.txt");
  EXPECT_NE(horses.find("A/41;Max;Hof Sonne;;;46380;A/7;12345;Celle\r\n"), std::string::npos);
  EXPECT_NE(horses.find(W("A/41;Max;Gestüt Weiß;;;46380;A/8;54321;Verden\r\n")),
            std::string::npos);
}

TEST_F(HorseFilesTest, GermanLocaleCommaInHorseFilesButNotInAppointments) {
  ExecOnFile(dbPath,
             "INSERT INTO termine (id, beginn, beginnzeit, ende, endezeit, thema, ort, papierkorb)"
             " VALUES (1, 46360, 0.5, 46360, 0.625, 'Beschlag', 'Celle', 0);");
  ScopedDecimalSeparator german(',');
  ASSERT_TRUE(Export().IsOk());
  EXPECT_NE(Out("mob_pferd.txt").find("A/45;Rosi;Hof Sonne;4;46100;46401,5;"), std::string::npos);
  EXPECT_NE(Out("mob_kunde_pferd.txt").find("|A/45|46100|46401,5"), std::string::npos);
  EXPECT_EQ(Out("mob_termin.txt"), Lines({"A/1;46360.500;46360.625;Beschlag;Celle"}));
  EXPECT_EQ(DecimalSeparator(), ',');
}

class PriceFilesTest : public ExportTest {
 protected:
  void SetUpPrices(const std::string& settingsRow) {
    Practice(W("INSERT INTO settings (nid, basiswaehrung, hauptwaehrung, MwSt, MwSt2, "
               "nabrechnungstyp) VALUES " + settingsRow + ";"
               "INSERT INTO artikel (id, bezeichnung, mwst, vkpreis1, vkpreis2, vkpreis3, "
               "vkpreis4, vkpreis5, vkpreis1euro, vkpreis2euro, vkpreis3euro, vkpreis4euro, "
               "vkpreis5euro, papierkorb) VALUES "
               "(0, '', 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),"
               "(1, 'Hufeisen', 19, 1, 2, 3, 4, 5, 59.5, 35, NULL, 12.5, 0, 0),"
               "(2, 'Huföl', 7.5, 10.75, NULL, NULL, NULL, NULL, 107.5, NULL, NULL, NULL, NULL, 0),"
               "(3, 'Alt', 19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1);"
               "INSERT INTO leistungen (id, bezeichnung, mwst, preis1, preis2, preis3, preis4, "
               "preis5, preis1euro, preis2euro, preis3euro, preis4euro, preis5euro, papierkorb) "
               "VALUES (1, 'Beschlag', 19, 80, 0, 0, 0, 0, 59.5, 0, 0, 0, 0, 0);"
               "INSERT INTO leistgruppen (id, bezeichnung, papierkorb) VALUES "
               "(0, '', 0), (1, 'Zuschläge', 0), (2, 'Beschläge', 0), (3, 'Weg', 1);"));
  }
};

TEST_F(PriceFilesTest, EuroColumnsWithStoredPrices) {
  SetUpPrices("(1, 'CHF', 1, 19, 7, 0)");  // hauptwaehrung 1: EUR whatever basiswaehrung says
  ScopedDecimalSeparator german(',');
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_artikel.txt"),
            Lines({"Art/1;Hufeisen;59.5;19;35;0;12.5;0", W("Art/2;Huföl;107.5;7.5;0;0;0;0")}));
  EXPECT_EQ(Out("mob_leistung.txt"), Lines({"Lst/1;Beschlag;59.5;19;0;0;0;0"}));
  EXPECT_EQ(Out("mob_leistgruppe.txt"), Lines({W("Lgr/2;Beschläge;100"), W("Lgr/1;Zuschläge;100")}));
}

TEST_F(PriceFilesTest, BillingTypeFlagExportsNetPrices) {
  SetUpPrices("(1, 'EUR', 1, 19, 7, 1)");
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_artikel.txt"),
            Lines({"Art/1;Hufeisen;50;19;29.4117647058824;0;10.5042016806723;0",
                   W("Art/2;Huföl;100;7.5;0;0;0;0")}));
  EXPECT_EQ(Out("mob_leistung.txt"), Lines({"Lst/1;Beschlag;50;19;0;0;0;0"}));
}

TEST_F(PriceFilesTest, OtherCurrencyTakesColumnsWithoutEuro) {
  SetUpPrices("(1, 'CHF', 0, 19, 7, 0)");
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_artikel.txt"),
            Lines({"Art/1;Hufeisen;1;19;2;3;4;5", W("Art/2;Huföl;10.75;7.5;0;0;0;0")}));
  EXPECT_EQ(Out("mob_leistung.txt"), Lines({"Lst/1;Beschlag;80;19;0;0;0;0"}));
}

TEST_F(PriceFilesTest, NullMainCurrencyCountsAsZeroAndEmptyBaseCurrencyIsNotEuro) {
  SetUpPrices("(1, NULL, NULL, 19, 7, 0)");
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mob_artikel.txt"),
            Lines({"Art/1;Hufeisen;1;19;2;3;4;5", W("Art/2;Huföl;10.75;7.5;0;0;0;0")}));
  EXPECT_NE(Out("mobv2.ini").find("Waehrung=\"\"\r\n"), std::string::npos);
}

using AppointmentFileTest = ExportTest;

TEST_F(AppointmentFileTest, NinetyDayWindowMomentsAndCleanedSubjects) {
  // Today is day 46357 (kNow is its noon).
  Practice(W("INSERT INTO termine (id, beginn, beginnzeit, ende, endezeit, thema, ort, "
             "bemerkung, papierkorb) VALUES "
             "(0, 46360, 0, 46360, 0, 'Platzhalter', '', '', 0),"
             "(2, 46363, 0.4375, 46363, 0.46875, 'Beschlag; <b>vorne</b>', 'Musterstadt', "
             "'nicht exportiert', 0),"
             "(3, 46268, NULL, NULL, NULL, '1<2>3<4', 'Lüneburg; Nord', NULL, 0),"  // 89 days ago
             "(4, 46266, 0.5, 46266, 0.6, 'Zu alt', '', '', 0),"                   // 91 days ago
             "(5, 46364, 0.5, 46364, 0.6, 'Gelöscht', '', '', 1),"
             "(6, 46363, 0.25, 46363, 0.3, 'Früh > spät', 'Ort', '', 0),"
             // 01:30 to 13:30 and 19:30: exact halves at the third decimal.
             "(7, 46363, 0.0625, 46363, 0.5625, 'Nacht', 'Ort', '', 0),"
             "(8, 46363, 0.8125, 46363, 0.8125, 'Abend', 'Ort', '', 0);"));
  ASSERT_TRUE(Export().IsOk());
  // Halves round away from zero as in the host program: 01:30 is 46363.063
  // (01:30:43 on the mobile), never 46363.062 (01:29:17).
  EXPECT_EQ(Out("mob_termin.txt"),
            Lines({W("A/3;46268.000;0.000;13;Lüneburg; Nord"),
                   "A/7;46363.063;46363.563;Nacht;Ort",
                   W("A/6;46363.250;46363.300;Früh  spät;Ort"),
                   "A/2;46363.438;46363.469;Beschlag, vorne;Musterstadt",
                   "A/8;46363.813;46363.813;Abend;Ort"}));
}

TEST(AppointmentQueryTest, WindowIsNowMinusNinetyWithADecimalPoint) {
  ScopedDecimalSeparator german(',');
  EXPECT_EQ(AppointmentQuery(46357.5),
            "SELECT id, thema, bemerkung,ort, beginn AS b, beginnzeit AS bz,ende AS e,endezeit "
            "AS ez FROM termine WHERE (id <> 0) AND (papierkorb = 0) AND (beginn > 46357.5-90.0) "
            "ORDER BY beginn, beginnzeit");
}

}  // namespace
}  // namespace kelvanor::testing
