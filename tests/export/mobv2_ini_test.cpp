// mobv2.ini line by line: numbers with the locale's separator, the practice's
// address and bank texts, the order types, and rates kept between runs.
#include <gtest/gtest.h>

#include <string>

#include "export/export_fixture.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

const char* const kMandant =
    "INSERT INTO settingsmandant (nid, vorname, name, strasse, plz, ort, land, mobil, email, "
    "bank1, konto1, blz1, iban1, bicswift1, bank2, konto2, blz2, iban2, bicswift2, ustidnummer) "
    "VALUES (1, 'Jürgen', 'Großmann', 'Schmiedegäßchen 3', '21335', 'Lüneburg', 'Deutschland', "
    "'0171 555', 'info@x.de', 'Sparkasse', '123', '240', 'DE12', 'NOLADE', 'Volksbank', '765', "
    "'241', '', '', 'DE1'),"
    "(2, 'Falsch', 'Zeile', '', '', '', '', '', '', '', '', '', '', '', '', '', '', '', '', '');";

using MobV2IniTest = ExportTest;

TEST_F(MobV2IniTest, GermanLocaleWritesCommaInRatesOnly) {
  Practice(W(std::string("INSERT INTO settings (nid, basiswaehrung, hauptwaehrung, MwSt, MwSt2, "
                         "nabrechnungstyp) VALUES (1, 'EUR', 1, 19.5, 7, 0);") +
             kMandant +
             "INSERT INTO zauftragstyp (nid, text) VALUES (0, 'Standard'), (3, 'Rechnung'), "
             "(10, 'Mobil \"neu\"');"));
  ScopedDecimalSeparator german(',');
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mobv2.ini"),
            W("[general]\r\n"
              "ZorFtp-Version=\"1.0.0.72\"\r\n"
              "Def_AuftrTyp=10\r\n"
              "fMwSt=19,5\r\n"
              "fMwSt2=7\r\n"
              "Waehrung=\"EUR\"\r\n"
              "[Mandant]\r\n"
              "Name=\"Jürgen Großmann\"\r\n"
              "Strasse=\"Schmiedegäßchen 3\"\r\n"
              "PLZOrt=\"21335 Lüneburg\"\r\n"
              "Land=\"Deutschland\"\r\n"
              "Mobil=\"0171 555\"\r\n"
              "Bank1=\"Konto 123 (Sparkasse), BLZ 240, IBAN DE12, BIC NOLADE\"\r\n"
              "Bank2=\"Konto 765 (Volksbank), BLZ 241\"\r\n"
              "Email=\"info@x.de\"\r\n"
              "UStIdNr=\"DE1\"\r\n"
              "[Auftragstyp]\r\n"
              "3=\"Rechnung\"\r\n"
              "10=\"Mobil \"neu\"\"\r\n"));
}

TEST_F(MobV2IniTest, MissingRowsGiveEmptyValuesAndDefaults) {
  Practice();
  ASSERT_TRUE(Export().IsOk());
  EXPECT_EQ(Out("mobv2.ini"),
            "[general]\r\n"
            "ZorFtp-Version=\"1.0.0.72\"\r\n"
            "Def_AuftrTyp=10\r\n"
            "fMwSt=0\r\n"
            "fMwSt2=0\r\n"
            "Waehrung=\"EUR\"\r\n"
            "[Mandant]\r\n"
            "Name=\"\"\r\n"
            "Strasse=\"\"\r\n"
            "PLZOrt=\" \"\r\n"
            "Land=\"\"\r\n"
            "Mobil=\"\"\r\n"
            "Bank1=\"Konto  (), BLZ \"\r\n"
            "Bank2=\"\"\r\n"
            "Email=\"\"\r\n"
            "UStIdNr=\"\"\r\n"
            "[Auftragstyp]\r\n");
}

TEST_F(MobV2IniTest, EmptyFirstNameLeavesLeadingBlankAndOtherCurrencyIsNamed) {
  Practice(W("INSERT INTO settings (nid, basiswaehrung, hauptwaehrung, MwSt, MwSt2) "
             "VALUES (1, 'CHF', 0, 7.7, 2.5);"
             "INSERT INTO settingsmandant (nid, vorname, name) VALUES (1, '', 'Großmann');"));
  ASSERT_TRUE(Export().IsOk());
  const std::string ini = Out("mobv2.ini");
  EXPECT_NE(ini.find(W("Name=\" Großmann\"\r\n")), std::string::npos);
  EXPECT_NE(ini.find("fMwSt=7.7\r\nfMwSt2=2.5\r\nWaehrung=\"CHF\"\r\n"), std::string::npos);
  // NULL texts of the row read empty.
  EXPECT_NE(ini.find("PLZOrt=\" \"\r\n"), std::string::npos);
}

TEST_F(MobV2IniTest, RatesOutliveARunWithoutSettingsRow) {
  Practice("INSERT INTO settings (nid, basiswaehrung, hauptwaehrung, MwSt, MwSt2) "
           "VALUES (1, 'EUR', 1, 19, 7);");
  ASSERT_TRUE(Export().IsOk());
  ExecOnFile(dbPath, "DELETE FROM settings;");
  ASSERT_TRUE(Export().IsOk());
  EXPECT_NE(Out("mobv2.ini").find("fMwSt=19\r\nfMwSt2=7\r\n"), std::string::npos);
  EXPECT_EQ(state.vatRates.MwSt, 19);

  // A fresh state starts at 0.
  state = ExportState{};
  ASSERT_TRUE(Export().IsOk());
  EXPECT_NE(Out("mobv2.ini").find("fMwSt=0\r\nfMwSt2=0\r\n"), std::string::npos);
}

}  // namespace
}  // namespace kelvanor::testing
