// kelvanor-cli import, run as the real executable on a folder of change files.
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "import/import_fixture.h"
#include "support/test_db.h"

namespace kelvanor::testing {
namespace {

struct CliRun {
  int exitCode = -1;
  std::string out;
  std::string err;
};

class ImportCli : public ::testing::Test {
 protected:
  ImportCli() : db_(dir_.File("praxis.db")), changes_(dir_.File("changes")) {
    CreateHostDatabase(db_);
    WriteFile(dir_.File("appdata/dasTessavor/Kelvanor.ini"), "[general]\r\nname=test\r\n");
  }

  void Change(const std::string& file, const std::string& bytes) {
    WriteFile(changes_ + "/" + file, bytes);
  }

  // Standard input is never a terminal here.
  CliRun Run(const std::string& args) {
    const std::string cli = std::string(KELVANOR_BINARY_DIR) + "/kelvanor-cli";
    const std::string command = "APPDATA='" + dir_.File("appdata") + "' LC_ALL=C '" + cli +
                                "' --db '" + db_ + "' " + args + " </dev/null >'" +
                                dir_.File("out") + "' 2>'" + dir_.File("err") + "'";
    const int status = std::system(command.c_str());
    CliRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadFile(dir_.File("out"));
    run.err = ReadFile(dir_.File("err"));
    return run;
  }

  std::string Rows(const std::string& sql) { return QueryOne(db_, sql); }

  TempDir dir_;
  std::string db_;
  std::string changes_;
};

TEST_F(ImportCli, YesImportsAndPrintsTreeAndQuestionAsUtf8) {
  Change("mob_kunde_x.txt", W("kopf\r\nN/1;;Müller;;;;;;;;0;\r\nN/2;;Groß;;;;;;;;0;\r\n"));
  Change("mob_pferd_x.txt", "kopf\r\nN/1;Blitz;;;;46000;;;;;\r\n");
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows("SELECT group_concat(name) FROM besitzer"), W("Müller,Groß"));
  EXPECT_EQ(Rows("SELECT name FROM pferd"), "Blitz");
  EXPECT_NE(run.out.find("\n  mob_kunde_x.txt\n    kopf\n      = Kopfzeile (wird nicht importiert)\n"
                         "    N/1;;Müller;;;;;;;;0;\n      = Neuer Kunde Müller\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Folgende Mobildaten importieren?\n\n"
                         "mob_kunde_x.txt (2 Sätze), mob_pferd_x.txt (1 Satz)\n\n"
                         "2 neue Kunden, 1 neues Pferd\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.rfind("Neue Daten, Import am ", 0), 0u);
}

// Every received line says under it what it does, naming the records the
// line holds only by id as the practice knows them; the question sums the
// lines up by kind. The import of the same lines is not touched by it.
TEST_F(ImportCli, ThePreviewSaysInWordsWhatEveryLineDoes) {
  ExecOnFile(db_, W("INSERT INTO besitzer (id,name,vorname) VALUES (12,'Müller','Jörg');"
                    "INSERT INTO pferd (id,name) VALUES (40,'Fury');"
                    "INSERT INTO termine (id,beginn,beginnzeit,ende,endezeit,thema,ort) VALUES "
                    "(88,46363,0.4375,46363,0.46875,'Beschlag, <b>vorne</b>','Musterstadt');"
                    "INSERT INTO artikel (id,bezeichnung,mwst,vkpreis1euro) VALUES (3,'Hufeisen',19,50);"
                    "INSERT INTO leistungen (id,bezeichnung,mwst,preis1euro) VALUES "
                    "(4,'Beschlag vorne',19,40);"));
  Change("mob_kunde_x.txt", W("kopf\r\nN/1;Herr;Groß;Max;;;;;Au;;1;\r\n"
                              "A/12;Herr;Müller;Jörg;;;;;Au;;1;\r\nD/A/12\r\n"));
  Change("mob_stall_x.txt", "kopf\r\nN/2;Birkenhof;;;;;Celle;\r\nD/A/2\r\n");
  Change("mob_pferd_x.txt", "kopf\r\nN/7;Blitz;;;;46400;N/2;;;;\r\nD/A/40\r\n");
  Change("mob_kunde_pferd_x.txt", "kopf\r\nN/1;x|A/40\r\n");
  Change("mob_termin_x.txt", "kopf\r\nN/3;46400.5;46400.75;kd/N/1;Hof\r\nD/A/88\r\n");
  Change("mob_rech_x.txt", "kopf\r\nR1;R-7;A/12;A/40;46400;0;Art/3|Lst/4;1;Typ01;JA\r\n");
  Change("mob_kasse_x.txt", "kopf\r\nN/1;46400.5;K;Barzahlung;B-1;59.5;19;A/12;;;\r\n");
  Change("mob_report_x.txt", "kopf\r\nN/1;A/40;0;46400;;;;;;;;;;;;;\r\n");
  Change("mob_artikel_x.txt", "kopf\r\nN/9;Stollen;2.5;19;;;;\r\n");
  Change("mob_leistung_x.txt", "kopf\r\nN/8;Kontrolle;20;19;;;;\r\n");
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  for (const char* lineAndWords : {
           "    N/1;Herr;Groß;Max;;;;;Au;;1;\n      = Neuer Kunde Groß, Max (Au)\n",
           "    A/12;Herr;Müller;Jörg;;;;;Au;;1;\n      = Geänderter Kunde Müller, Jörg\n",
           "    D/A/12\n      = Gelöschter Kunde Müller, Jörg\n",
           "    N/2;Birkenhof;;;;;Celle;\n      = Neuer Stall Birkenhof (Celle)\n",
           "    D/A/2\n      = Ein gelöschter Stall wird nicht übernommen (ohne Wirkung)\n",
           "    N/7;Blitz;;;;46400;N/2;;;;\n      = Neues Pferd Blitz, Stall Birkenhof\n",
           "    D/A/40\n      = Gelöschtes Pferd Fury\n",
           "    N/1;x|A/40\n      = Neue Besitzerzuordnung: Pferd Fury zu Kunde Groß, Max\n",
           "    N/3;46400.5;46400.75;kd/N/1;Hof\n"
           "      = Neuer Termin 13.01.2027 12:00–18:00 Kunde Groß, Max, Hof\n",
           "    D/A/88\n      = Gelöschter Termin 07.12.2026 10:30–11:15 Beschlag, vorne, Musterstadt\n",
           "      = Neuer Auftrag Nr. R-7 für Müller, Jörg vom 13.01.2027, Summe 107,10 € (bezahlt)\n"
           "      = Pferd Fury: Hufeisen, Beschlag vorne\n",
           "      = Neue Kassenbuchung vom 13.01.2027: 59,50 € Barzahlung, Einnahme von Kunde "
           "Müller, Jörg\n",
           "    N/1;A/40;0;46400;;;;;;;;;;;;;\n      = Neues Hufprotokoll für Pferd Fury vom 13.01.2027\n",
           "    N/9;Stollen;2.5;19;;;;\n      = Neuer Artikel Stollen, 2,50 €\n",
           "    N/8;Kontrolle;20;19;;;;\n      = Neue Leistung Kontrolle, 20,00 €\n"}) {
    EXPECT_NE(run.out.find(lineAndWords), std::string::npos) << lineAndWords << "\n" << run.out;
  }
  EXPECT_NE(run.out.find("(1 Satz)\n\n1 neuer Kunde, 1 geänderter Kunde, 1 gelöschter Kunde, "
                         "1 neuer Stall, 1 neues Pferd, 1 gelöschtes Pferd, 1 neue "
                         "Besitzerzuordnung, 1 neuer Auftrag, 1 neuer Termin, 1 gelöschter Termin, "
                         "1 neue Kassenbuchung, 1 neues Hufprotokoll, 1 neuer Artikel, 1 neue "
                         "Leistung, 1 Zeile ohne Wirkung\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(Rows("SELECT papierkorb FROM termine WHERE id=88"), "1");
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM besitzer WHERE vorname='Max'"), "1");
}

TEST_F(ImportCli, WithoutYesAndWithoutTerminalImportsNothing) {
  Change("mob_kunde_x.txt", "kopf\r\nN/1;;Meier;;;;;;;;0;\r\n");
  const CliRun run = Run("import '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Rows("SELECT count(*) FROM besitzer"), "0");
  EXPECT_NE(run.out.find("mob_kunde_x.txt (1 Satz)"), std::string::npos);
  EXPECT_FALSE(run.err.empty());
}

TEST_F(ImportCli, AnErrorThatEndsTheImportExitsOneWithTheDatabaseUnchanged) {
  Change("mob_kunde_x.txt", "kopf\r\nN/1;;Meier;;;;;;;;0;\r\nN/2;;Auch;;;;;;;;1;\r\n");
  ExecOnFile(db_, "DROP TABLE settings");  // a damaged practice
  const std::string before = DumpDatabase(db_);
  const std::string bytesBefore = ReadFile(db_);
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Der Import ist fehlgeschlagen, es wurde nichts \xC3\xBC" "bernommen: "),
            std::string::npos)
      << run.err;
  EXPECT_EQ(DumpDatabase(db_), before);
  EXPECT_TRUE(ReadFile(db_) == bytesBefore) << "the database file changed";
}

// A line that was not imported is no plain success: the run exits 1 and
// says where the line is kept for the office.
TEST_F(ImportCli, LineErrorsGoToStderrAreKeptAndTheRestIsImported) {
  Change("mob_stall_x.txt", "kopf\r\nN/x;Kaputt\r\nN/2;Gut\r\n");
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("mob_stall_x.txt, Zeile 2 (Kaputt): Datensatz \"N/x\" enth\xC3\xA4lt "
                         "keine g\xC3\xBCltige Nummer"),
            std::string::npos)
      << run.err;
  const std::string kept = dir_.File("appdata/dasTessavor/mobil/nicht_importierte_Zeilen.txt");
  EXPECT_NE(run.out.find("Die nicht importierten Zeilen stehen in " + kept), std::string::npos)
      << run.out;
  // The received lines are backed up as after a sync's download.
  bool backedUp = false;
  for (const auto& entry : std::filesystem::directory_iterator(dir_.File("appdata/dasTessavor/mobil"))) {
    backedUp = backedUp || entry.path().string().find("_mob_from_server.txt") != std::string::npos;
  }
  EXPECT_TRUE(backedUp);
  EXPECT_NE(ReadFile(kept).find("mob_stall_x.txt, Zeile 2 (Kaputt)\r\nGrund: Datensatz \"N/x\" "
                                "enth\xE4lt keine g\xFCltige Nummer\r\nN/x;Kaputt\r\n"),
            std::string::npos)
      << ReadFile(kept);
  EXPECT_EQ(Rows("SELECT group_concat(name) FROM stall"), "Gut");
}

// Lines come from the server: an escape sequence in them must not reach the
// terminal (it could rewrite what the user reads), in the tree nor in a message.
TEST_F(ImportCli, ControlCharactersFromReceivedLinesShowAsQuestionMarks) {
  Change("mob_stall_x.txt", "kopf\r\nN/1;Stall\x1B]0;Titel\x07\x1B[2J\r\nN/\x1B[31mx;Kaputt\r\n");
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.out.find('\x1B'), std::string::npos) << run.out;
  EXPECT_EQ(run.err.find('\x1B'), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find('\x07'), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("    N/1;Stall?]0;Titel??[2J\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("Datensatz \"N/?[31mx\""), std::string::npos) << run.err;
}

TEST_F(ImportCli, DefaultFolderIsTheDownloadFolderOfLocalDir) {
  WriteFile(dir_.File("appdata/dasTessavor/Kelvanor.ini"),
            "[general]\r\nname=test\r\nlocal_dir=" + dir_.File("lokal") + "/\r\n");
  WriteFile(dir_.File("lokal/tmp_dl/mob_stall_x.txt"), "kopf\r\nN/1;Hof\r\n");
  const CliRun run = Run("import --yes");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows("SELECT name FROM stall"), "Hof");
  // A failed sync leaves this folder behind and the server keeps its lines:
  // what was imported once is not imported again, here or by the next sync,
  // and the preview says so instead of promising a new stable.
  const CliRun again = Run("import --yes");
  EXPECT_EQ(again.exitCode, 0) << again.err;
  EXPECT_NE(again.out.find("    N/1;Hof\n      = Schon bei einem früheren Import übernommen: "
                           "Neuer Stall Hof\n"),
            std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find("(1 Satz)\n\n1 schon übernommene Zeile\n"), std::string::npos)
      << again.out;
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM stall WHERE name='Hof'"), "1");
}

TEST_F(ImportCli, MissingFolderIsAUsageError) {
  const CliRun run = Run("import --yes '" + dir_.File("gibt-es-nicht") + "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_FALSE(run.err.empty());
}

}  // namespace
}  // namespace kelvanor::testing
