// One import run over every change file, with the records of the later files
// naming records the earlier files created: files -> tree -> database.
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

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

  // The first half's records of the same run, for the cross references above.
  EXPECT_EQ(One("SELECT besitzerindex||'/'||pferdindex FROM verbind"), "1/2");
  EXPECT_EQ(One("SELECT thema FROM termine"), "kd/A/1");
  EXPECT_EQ(One("SELECT stallindex||'/'||pferdindex FROM verbindstall"), "1/2");
}

// A practice of `n` customers with horses in one or two stables, articles and
// services with numbers that are numbers, texts or NULL, suppliers and
// appointments; ids and counters as the host keeps them.
std::string LargePracticeSql(int n) {
  std::string sql =
      "BEGIN;"
      "INSERT INTO settings (basiswaehrung, hauptwaehrung) VALUES ('EUR', 1);"
      "INSERT INTO zauftragstyp (nid, text) VALUES (1, 'Rechnung'), (3, 'Lieferschein');"
      "INSERT INTO zbeschlagsrhythmus (nid, text) VALUES (1, '6 Wochen'), (2, '8 Wochen');";
  for (int i = 1; i <= n; ++i) {
    const std::string id = std::to_string(i);
    sql += "INSERT INTO besitzer (id, anrede, name, vorname, kundennr, preisstufe, debitornr) "
           "VALUES (" + id + ", 'Herr', 'M\xFCller " + id + "', " + (i % 7 ? "'Jan'" : "NULL") +
           ", 'K" + id + "', " + std::to_string(i % 5) + ", " + std::to_string(10000 + i) + ");";
    sql += "INSERT INTO pferd (id, name, naechsterbeschlag) VALUES (" + id + ", 'Pferd " + id +
           "', 46400);";
    sql += "INSERT INTO verbindstall (id, stallindex, pferdindex) VALUES (" + id + ", " +
           std::to_string(1 + i % 20) + ", " + id + ");";
    sql += "INSERT INTO termine (id, beginn, beginnzeit, thema) VALUES (" + id + ", 46400, 0.5, "
           "'alt');";
  }
  for (int i = 1; i <= 20; ++i) {
    const std::string id = std::to_string(i);
    sql += "INSERT INTO stall (id, name) VALUES (" + id + ", 'Stall " + id + "');";
    sql += "INSERT INTO artikel (id, nr, bezeichnung, mwst, vkpreis1euro, vkpreis2euro, "
           "vkpreis3euro) VALUES (" + id + ", " + (i % 3 == 0 ? "'A-" + id + "'" : i % 3 == 1 ? "'" + id + "'" : "NULL") +
           ", 'Eisen " + id + "', 19, " + id + ".5, 2, 3);";
    sql += "INSERT INTO leistungen (id, nr, bezeichnung, mwst, arbeitsdauer, preis1euro, "
           "preis2euro) VALUES (" + id + ", '" + std::to_string(100 + i) + "', 'Beschlag " + id +
           "', 7, " + (i % 2 ? "30" : "NULL") + ", 40, 45.25);";
    sql += "INSERT INTO lieferant (id, name) VALUES (" + id + ", 'Lieferant " + id + "');";
  }
  // Horse 2 of every ten stands in two stables.
  sql += "INSERT INTO verbindstall (id, stallindex, pferdindex) SELECT 100000 + id, 20, id "
         "FROM pferd WHERE id % 10 = 2;";
  const std::string max = std::to_string(n);
  sql += "UPDATE _tblOffsets SET idMax = " + max + " WHERE tbl IN ('Besitzer', 'Pferd', "
         "'Termine', 'VerbindStall'); UPDATE _tblOffsets SET idMax = 20 WHERE tbl IN ('Stall', "
         "'Artikel', 'Leistungen', 'Lieferant');"
         "COMMIT;";
  return sql;
}

// Every kind of line the mobile sends, `rounds` times: new, changed and
// deleted records, references within the run and to the practice, and lines
// that fail on their own.
std::map<std::string, std::vector<std::string>> LargeChangeSet(int rounds, int practice) {
  std::vector<std::string> kunde{"h"}, stall{"h"}, pferd{"h"}, links{"h"}, termin{"h"},
      artikel{"h"}, leistung{"h"}, rech{"h"}, kasse{"h"}, report{"h"};
  for (int r = 1; r <= rounds; ++r) {
    const std::string n = std::to_string(r);
    const std::string old = std::to_string(1 + (r * 37) % practice);
    const std::string other = std::to_string(1 + (r * 53) % practice);
    const std::string stable = std::to_string(1 + r % 20);
    const std::string day = "46400." + std::to_string(r % 10) + "25";
    kunde.push_back("N/" + n + ";Frau;O'Neu \"" + n + "\";Anna;K-" + n + ";0171;Weg " + n +
                    ";21335;L\xFCneburg;a@b.de;" + std::to_string(r % 6) + ";0170");
    kunde.push_back("A/" + old + ";Herr;Ge\xE4ndert " + n + ";;K" + old + ";;;;;;2;");
    if (r % 5 == 0) kunde.push_back("D/A/" + other);
    if (r % 7 == 0) kunde.push_back("D/N/" + n);
    if (r % 8 == 0) kunde.push_back("D/N/" + std::to_string(100000 + r));
    stall.push_back("N/" + n + ";Hof " + n + ";Herr Wei\xDF;040;Weg;21337;Ort;D");
    stall.push_back("A/" + stable + ";Stall neu " + n + ";;;;;;");
    pferd.push_back("N/" + n + ";Fohlen " + n + ";;6 Wochen;;" + day + ";N/" + n + ";;;;");
    pferd.push_back("A/" + old + ";Pferd " + old + ";;8 Wochen;;" + day + ";A/" +
                    (r % 2 ? stable : "20") + ";;;;");
    if (r % 9 == 0) pferd.push_back("N/" + std::to_string(100000 + r) + ";Kaputt;;;;;A/1;;;;");
    if (r % 11 == 0) pferd.push_back("D/A/" + other);
    links.push_back("N/" + n + ";x|N/" + n + "|y");
    links.push_back("A/" + old + ";x|A/" + other);
    if (r % 9 == 0) links.push_back("A/1;x|N/" + std::to_string(100000 + r));
    termin.push_back("N/" + n + ";" + day + ";" + day + ";kd/N/" + n + "/Beschlag;Hof");
    termin.push_back("A/" + old + ";" + day + ";;pfd/N/" + n + ";Ort " + n);
    if (r % 13 == 0) termin.push_back("D/A/" + other);
    artikel.push_back("N/" + n + ";Stift " + n + ";1.5;19;2;3;4;5;;;;");
    leistung.push_back("N/" + n + ";Kontrolle " + n + ";20;7;;;;;;;;");
    rech.push_back("R" + n + ";0;N/" + n + ";N/" + n + "|A/" + old + ";" + day + ";0;Art/" +
                   stable + "|N/Art/" + n + ";Lst/" + stable + "|N/Lst/" + n + ";" +
                   std::to_string(r % 7) + ";Typ0" + std::to_string(r % 4) + ";" +
                   (r % 2 ? "JA" : ""));
    rech.push_back("R" + n + "b;M-" + n + ";A/" + other + ";A/" + old + ";" + day +
                   ";0;Art/" + stable + "|Lst/" + stable + "|Art/99;2;Typ01;");
    kasse.push_back("N/" + n + ";" + day + ";K;Zahlung " + n + ";B-" + n + ";119;19;N/" + n +
                    ";;;");
    kasse.push_back("A/" + n + ";" + day + ";A;Eisen;B-" + n + ";59.5;7;Lieferant " + stable +
                    ";;;");
    report.push_back("N/" + n + ";N/" + n + ";" + n + ";" + day + ";gut;alt;neu;x;Pflege;1;2;3;"
                     "4;a;b;c;d");
    report.push_back("N/" + n + "b;A/" + old + ";'" + n + "';NULL;;;;;;;;;;;;;");
  }
  return {{"mob_kunde_x.txt", kunde},       {"mob_stall_x.txt", stall},
          {"mob_pferd_x.txt", pferd},       {"mob_kunde_pferd_x.txt", links},
          {"mob_termin_x.txt", termin},     {"mob_artikel_x.txt", artikel},
          {"mob_leistung_x.txt", leistung}, {"mob_rech_x.txt", rech},
          {"mob_kasse_x.txt", kasse},       {"mob_report_x.txt", report}};
}

// FNV-1a: the same number for the same bytes on every platform.
uint64_t Fingerprint(const std::string& bytes) {
  uint64_t hash = 14695981039346656037ull;
  for (const char c : bytes) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 1099511628211ull;
  }
  return hash;
}

// What the import stores, value and storage class, must not change when the
// way it writes does. The fingerprint was taken from the import as it stood
// when every record was written as SQL text.
TEST_F(WholeRun, ALargeMixedRunStoresExactlyWhatItAlwaysStored) {
  const int practice = 300;
  Exec(LargePracticeSql(practice));
  for (const auto& [file, lines] : LargeChangeSet(250, practice)) WriteChangeFile(file, lines);
  RunImport();
  EXPECT_EQ(Errors().size(), 250u / 9 * 2);
  EXPECT_EQ(Summary().notices.size(), 250u / 8);
  // The moment of the run is the one value that differs from run to run.
  for (const char* table : {"besitzer", "stall", "pferd", "termine", "artikel", "leistungen",
                            "auftrag", "kasse"}) {
    Exec(std::string("UPDATE ") + table + " SET erstelltam = 'jetzt' WHERE erstelltvon = 'MOB'");
  }
  Exec("UPDATE besitzer SET aufgenommenam = 'jetzt' WHERE erstelltvon = 'MOB';"
       "UPDATE papierkorb SET loeschdatum = 'jetzt'");
  EXPECT_EQ(Count("SELECT * FROM auftrag"), 500);
  EXPECT_EQ(Count("SELECT * FROM verbindauftrag"), 1750);
  EXPECT_EQ(Count("SELECT * FROM papierkorb"), 126);
  EXPECT_EQ(Fingerprint(Dump()), 2351352896818398226ull);
}

}  // namespace
}  // namespace kelvanor::testing
