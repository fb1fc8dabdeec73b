// One import run over every change file, with the records of the later files
// naming records the earlier files created: files -> tree -> database.
#include <cmath>

#include "import/import_fixture.h"
#include "util/numbers.h"

namespace kelvanor::testing {
namespace {

class WholeRun : public ImportTest {
 protected:
  // The practice as the mobile last saw it: one horse, one article, one
  // service, order type 5, euro prices.
  void SetUpPractice() {
    Exec("INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('EUR', 1);"
         "INSERT INTO pferd (id, name) VALUES (1, 'Luna');"
         "INSERT INTO artikel (id, nr, bezeichnung, mwst, vkpreis2euro) VALUES "
         "  (1, 'A-7', 'Stollen', 7, 3.5);"
         "INSERT INTO leistungen (id, nr, bezeichnung, mwst, arbeitsdauer, preis2euro) VALUES "
         "  (1, '102', 'Ausschneiden', 19, 30, 40);"
         "INSERT INTO zauftragstyp (nid, text) VALUES (5, 'Mobil');"
         "UPDATE _tblOffsets SET idMax = 1 WHERE tbl IN ('Pferd', 'Artikel', 'Leistungen');");
  }

  void WriteEveryFile() {
    WriteChangeFile("mob_report_x.txt",
                    {"h", "N/1;N/5;1;46400.5;2;;Beschlag;;;;;;;;;;",
                     "N/2;A/1;'1';46400.5;" + W("gut;alt;neu;Besonderheit;Öl;1;2;3;4;a;b;c;d")});
    WriteChangeFile("mob_kasse_x.txt", {"h", "N/1;46400.625;K;Zahlung;B-1;119;19;N/1;;;"});
    WriteChangeFile("mob_rech_x.txt",
                    {"h", "R1;0;N/1;N/5|A/1;46400.5;0;N/Art/4|Lst/1;N/Lst/4|Art/1;2;Typ05;JA"});
    WriteChangeFile("mob_leistung_x.txt", {"h", "N/4;Beschlag komplett;80;19;85;90;95;100;;;;"});
    WriteChangeFile("mob_artikel_x.txt", {"h", "N/4;Eisen \"Sport\";10;19;11;12;13;14;;;;"});
    WriteChangeFile("mob_termin_x.txt", {"h", "N/9;46400.375;46400.4375;kd/N/1;Hof;;;;;;"});
    WriteChangeFile("mob_kunde_pferd_x.txt", {"h", "N/1;x|N/5|y"});
    WriteChangeFile("mob_pferd_x.txt", {"h", "N/5;Fritz;;;;46450;N/7;;;;"});
    WriteChangeFile("mob_stall_x.txt", {"h", "N/7;Hof Sonnenschein;;;;;;"});
    WriteChangeFile("mob_kunde_x.txt",
                    {"h", W("N/1;Frau;Müller;Anna;K-1;;Weg 1;21335;Lüneburg;;2;")});
  }
};

TEST_F(WholeRun, AnOrderNamesCustomerHorseArticleAndServiceCreatedInTheSameRun) {
  SetUpPractice();
  WriteEveryFile();
  RunImport();
  ASSERT_TRUE(Errors().empty()) << Errors().front();

  // New master data got the next ids of their counters.
  EXPECT_EQ(One("SELECT group_concat(id||':'||name) FROM pferd"), "1:Luna,2:Fritz");
  EXPECT_EQ(One("SELECT id||':'||bezeichnung||':'||vkpreis2euro||':'||mwst FROM artikel "
                "WHERE erstelltvon='MOB'"),
            "2:Eisen \"Sport\":11.0:19.0");
  EXPECT_EQ(One("SELECT id||':'||preis2euro FROM leistungen WHERE erstelltvon='MOB'"), "2:85.0");

  // The order: customer 1, type 5 with its text, price level 2, paid, euro.
  EXPECT_EQ(One("SELECT id||'|'||auftragstyp||'|'||bezeichnung||'|'||besitzerindex||'|'||termin||"
                "'|'||bezahlt||'|'||waehrung||'|'||npreisstufe||'|'||abgerechnet||'|'||"
                "ifnull(rechnungsnr,'NULL')||'|'||adresse||'|'||sAuftyp||'|'||erstelltvon "
                "FROM auftrag"),
            W("1|5|Mobil|1|46400.5|-1|1|2|0|NULL|Müller, Anna|Mobil|MOB"));
  // One row per horse, in field order, new horse first.
  EXPECT_EQ(One("SELECT group_concat(nid||':'||nauftragindex||':'||npferdindex||':'||"
                "nhufprotokoll||':'||termin, ' ') FROM vbauftragpferd"),
            "1:1:2:0:46400.5 2:1:1:0:46400.5");
  // Lines: the new article and the service on Fritz, the new service and the
  // old article on Luna; prices of level 2 in euro.
  EXPECT_EQ(One("SELECT group_concat(nvbauftragindex||':'||anzahl||':'||typ||':'||[index]||':'||"
                "ifnull(nr,'NULL')||':'||bezeichnung||':'||preis||':'||dauer||':'||mwst, ' / ') "
                "FROM verbindauftrag WHERE auftragindex=1"),
            "1:1:2:2::Eisen \"Sport\":11.0:0.0:19.0 / 1:1:1:1:102:Ausschneiden:40.0:30.0:19.0 / "
            "2:1:1:2::Beschlag komplett:85.0:0.0:19.0 / 2:1:2:1:A-7:Stollen:3.5:0.0:7.0");
  // Totals without an order VAT rate: the lines' own VAT is added.
  const double net = 11 + 40 + 85 + 3.5;
  const double gross = net + (11 + 40 + 85) * 0.19 + 3.5 * 0.07;
  EXPECT_DOUBLE_EQ(std::stod(One("SELECT rechbetrag FROM auftrag")), net);
  EXPECT_NEAR(std::stod(One("SELECT rechbetrag2 FROM auftrag")), gross, 1e-9);
  EXPECT_EQ(One("SELECT davonbezahlt = rechbetrag2 FROM auftrag"), "1");

  // Cash entry of the new customer: 119 gross at 19 % is 100 net.
  EXPECT_EQ(One("SELECT neinaus||'|'||bezeichnung||'|'||buchungsnr||'|'||besitzerindex||'|'||"
                "lieferantindex||'|'||termin||'|'||uhrzeit||'|'||betrag||'|'||waehrung||'|'||"
                "mwst||'|'||bemerkung||'|'||erstelltvon FROM kasse"),
            "0|Zahlung|B-1|1|0|46400.0|0.625|100.0|1|19.0||MOB");

  // Hoof reports: the new horse by its new id, order and date as values.
  EXPECT_EQ(One("SELECT group_concat(pferdindex||':'||auftragindex||':'||typeof(auftragindex)||':'"
                "||datum||':'||z_ges||':'||behandlung||':'||pflegehinweis||':'||txt_hr, ' / ') "
                "FROM verbindbeschlag"),
            W("2:1:integer:46400.5:2:Beschlag:: / 1:1:integer:46400.5:gut:neu:Öl:d"));

  // Part one's records of the same run, for the cross references above.
  EXPECT_EQ(One("SELECT besitzerindex||'/'||pferdindex FROM verbind"), "1/2");
  EXPECT_EQ(One("SELECT thema FROM termine"), "kd/A/1");
  EXPECT_EQ(One("SELECT stallindex||'/'||pferdindex FROM verbindstall"), "1/2");
}

}  // namespace
}  // namespace kelvanor::testing
