// The whole life of an installation, driven through kelvanor-cli sync against
// the reference sync server with real curl, zip and unzip.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/ini_file.h"
#include "support/cli_runner.h"
#include "support/sync_server.h"
#include "support/test_db.h"
#include "util/text.h"

namespace kelvanor::testing {
namespace {

namespace fs = std::filesystem;

const char* const kExportedFiles[] = {"mob_kunde.txt",    "mob_stall.txt",       "mob_kunde_pferd.txt",
                                      "mob_pferd.txt",    "mob_artikel.txt",     "mob_leistung.txt",
                                      "mob_leistgruppe.txt", "mob_termin.txt",   "mobv2.ini"};

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

class SyncLife : public ::testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<SyncServer>();
    appData = tmp.Path() + "/" + AppDataName();
    toolDir = appData + "/dasTessavor/";
    fs::create_directories(toolDir);
    dbPath = tmp.File("praxis.db");
    CreateHostDatabase(dbPath,
                       "INSERT INTO besitzer (id,name,vorname,ort,preisstufe) "
                       "VALUES (1,'Huber','Anna','Au',1);"
                       "INSERT INTO pferd (id,name,naechsterbeschlag) VALUES (1,'Fury',46400);"
                       "INSERT INTO verbind (id,pferdindex,besitzerindex) VALUES (1,1,1);"
                       "UPDATE _tblOffsets SET idMax=1 WHERE tbl IN ('Besitzer','Pferd','Verbind');"
                       "INSERT INTO settings (basiswaehrung,hauptwaehrung,MwSt,MwSt2) "
                       "VALUES ('EUR',1,19,7);");
    IniWriteString(W(toolDir + "tessavor.ini"), "Allgemein", "db_pfad", tmp.Path() + "/");
    IniWriteString(W(toolDir + "tessavor.ini"), "Allgemein", "db_name", "praxis.db");
    WriteToolIni("hof1");
  }

  virtual std::string AppDataName() const { return "appdata"; }

  void WriteToolIni(const std::string& name) {
    // Ini paths are Windows-1252 like every path of the tool.
    const std::string ini = W(toolDir + "Kelvanor.ini");
    IniWriteString(ini, "general", "name", name);
    IniWriteInteger(ini, "general", "debug", 1);
    IniWriteString(ini, "sync_server", "base", server->BaseUrl());
    IniWriteString(ini, "sync_server", "web", server->BaseUrl());
    IniWriteString(ini, "sync_server", "ftp", server->FtpUrl());
  }

  long Counter() { return IniReadInteger(W(toolDir + "Kelvanor.ini"), "general", "num_syncs", -1); }
  void SetCounter(long n) { IniWriteInteger(W(toolDir + "Kelvanor.ini"), "general", "num_syncs", n); }
  std::string MobileFolder() { return toolDir + "mobil/"; }
  CliRun Sync(const std::string& answer) { return RunCli({"sync", answer}, appData, tmp.Path()); }
  std::string Account() { return server->AccountDir(account); }
  void PutChange(const std::string& file, const std::string& content) {
    WriteFile(Account() + "/" + file, content);
  }
  bool ChangeFilesOnServer() {
    for (const auto& e : fs::directory_iterator(Account())) {
      const std::string n = e.path().filename().string();
      if (n.size() > 6 && n.compare(n.size() - 6, 6, "_x.txt") == 0) return true;
    }
    return false;
  }

  // A day of field work: a new customer, a horse in a new stable with its
  // owner link, an appointment, an order and a cash entry for the customer.
  // `tag` tells one day's records from another's.
  void PutFieldWork(const std::string& tag) {
    PutChange("mob_kunde_x.txt", "h\r\nN/7;;Kunde" + tag + ";;;;;;;;1;\r\n");
    PutChange("mob_stall_x.txt", "h\r\nN/2;Stall" + tag + ";;;;;;\r\n");
    PutChange("mob_pferd_x.txt", "h\r\nN/3;Pferd" + tag + ";;;;46500;N/2;;;;\r\n");
    PutChange("mob_kunde_pferd_x.txt", "h\r\nN/7;x|N/3\r\n");
    PutChange("mob_termin_x.txt", "h\r\nN/1;46500.5;46500.5625;kd/N/7;Termin" + tag + ";;;;;;\r\n");
    PutChange("mob_rech_x.txt", "h\r\nR1;R-" + tag + ";N/7;N/3;46500;0;;1;;\r\n");
    PutChange("mob_kasse_x.txt", "h\r\nN/1;46500.5;K;Kasse" + tag + ";B-1;119;19;N/7;;;\r\n");
  }

  // Every record of PutFieldWork(tag) is in the practice exactly once, and
  // the file is sound.
  void ExpectFieldWorkOnce(const std::string& tag) {
    EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
    const std::string customer = "(SELECT id FROM besitzer WHERE name='Kunde" + tag + "')";
    const std::string horse = "(SELECT id FROM pferd WHERE name='Pferd" + tag + "')";
    for (const std::string& sql :
         {"SELECT COUNT(*) FROM besitzer WHERE name='Kunde" + tag + "'",
          "SELECT COUNT(*) FROM stall WHERE name='Stall" + tag + "'",
          "SELECT COUNT(*) FROM pferd WHERE name='Pferd" + tag + "'",
          "SELECT COUNT(*) FROM verbindstall WHERE pferdindex=" + horse,
          "SELECT COUNT(*) FROM verbind WHERE besitzerindex=" + customer + " AND pferdindex=" + horse,
          "SELECT COUNT(*) FROM termine WHERE ort='Termin" + tag + "' AND thema='kd/A/'||" + customer,
          "SELECT COUNT(*) FROM auftrag WHERE rechnungsnr='R-" + tag + "' AND besitzerindex=" + customer,
          "SELECT COUNT(*) FROM vbauftragpferd WHERE npferdindex=" + horse,
          "SELECT COUNT(*) FROM kasse WHERE bezeichnung='Kasse" + tag + "' AND besitzerindex=" +
              customer}) {
      EXPECT_EQ(QueryOne(dbPath, sql), "1") << sql;
    }
  }

  int Backups() {
    int backups = 0;
    for (const auto& e : fs::directory_iterator(MobileFolder())) {
      if (Has(e.path().filename().string(), "_mob_from_server.txt")) ++backups;
    }
    return backups;
  }

  TempDir tmp;
  std::unique_ptr<SyncServer> server;
  std::string appData, toolDir, dbPath;
  std::string account = "hof1";
};

TEST_F(SyncLife, FirstSecondThirdAndQuietSync) {
  // First sync: export, zip, FTP upload, unzip on the server.
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "1) Datens\xC3\xA4tze aus dasTessavor exportieren.")) << r.out;
  EXPECT_TRUE(Has(r.out, "2) Datens\xC3\xA4tze auf den Server HOCH-laden."));
  EXPECT_TRUE(Has(r.out, "Zip (s. tmp.bat) ..."));
  EXPECT_TRUE(Has(r.out, "fertig!"));
  EXPECT_EQ(Counter(), 1);
  for (const char* file : kExportedFiles) {
    ASSERT_TRUE(fs::exists(Account() + "/" + file)) << file;
    EXPECT_EQ(ReadFile(Account() + "/" + file), ReadFile(MobileFolder() + file)) << file;
  }
  EXPECT_FALSE(fs::exists(Account() + "/mob.ini"));

  // The farrier works in the field: a new customer with a new horse in a new
  // stable, a changed customer, an appointment for the new customer.
  PutChange("mob_kunde_x.txt",
            "h\r\nN/7;Frau;B\xE4" "cker;J\xFClia;K7;;Am Anger 3;83022;Rosenheim;;2;\r\n"
            "A/1;Frau;Huber;Anna;;;;;Bad Aibling;;1;\r\n");
  PutChange("mob_stall_x.txt", "h\r\nN/2;Reitstall Sonnenhof;;;;;;\r\n");
  PutChange("mob_pferd_x.txt", "h\r\nN/3;Blitz;;;;46500;N/2;;;;\r\n");
  PutChange("mob_kunde_pferd_x.txt", "h\r\nN/7;x|N/3\r\n");
  PutChange("mob_termin_x.txt", "h\r\nN/1;46500.5;46500.5625;kd/N/7;Rosenheim;;;;;;\r\n");

  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Folgende Mobildaten importieren?")) << r.out;
  EXPECT_TRUE(Has(r.out, "mob_kunde_x.txt (2 S\xC3\xA4tze),")) << r.out;
  EXPECT_TRUE(Has(r.out, "5) Tmp-Mobil Datens\xC3\xA4tze lokal sichern."));
  EXPECT_EQ(Counter(), 2);
  const std::string newCustomer = QueryOne(dbPath, "SELECT id FROM besitzer WHERE name='B\xE4" "cker'");
  EXPECT_EQ(newCustomer, "2");
  EXPECT_EQ(QueryOne(dbPath, "SELECT ort FROM besitzer WHERE id=1"), "Bad Aibling");
  EXPECT_EQ(QueryOne(dbPath, "SELECT s.name FROM pferd p JOIN verbindstall v ON v.pferdindex=p.id "
                             "JOIN stall s ON s.id=v.stallindex WHERE p.name='Blitz'"),
            "Reitstall Sonnenhof");
  EXPECT_EQ(QueryOne(dbPath, "SELECT besitzerindex FROM verbind WHERE pferdindex="
                             "(SELECT id FROM pferd WHERE name='Blitz')"),
            newCustomer);
  EXPECT_EQ(QueryOne(dbPath, "SELECT thema FROM termine"), "kd/A/" + newCustomer);
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_TRUE(Has(ReadFile(Account() + "/mob_kunde.txt"), "B\xE4" "cker"));
  EXPECT_TRUE(Has(ReadFile(Account() + "/mob_kunde_pferd.txt"), "Blitz"));
  EXPECT_FALSE(fs::exists(MobileFolder() + "tmp_dl"));
  int backups = 0;
  for (const auto& e : fs::directory_iterator(MobileFolder())) {
    if (Has(e.path().filename().string(), "_mob_from_server.txt")) ++backups;
  }
  EXPECT_EQ(backups, 1);

  // Third sync answered "no": nothing imported, the change stays on the server.
  PutChange("mob_kunde_x.txt", "h\r\nN/8;;Abgelehnt;;;;;;;;1;\r\n");
  r = Sync("--no");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Abgelehnt'"), "0");
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 2);
  EXPECT_FALSE(fs::exists(MobileFolder() + "tmp_dl"));

  // No changes at all: the question whether to upload anyway.
  fs::remove(Account() + "/mob_kunde_x.txt");
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Keine \xC3\x84nderungen auf dem Server.")) << r.out;
  EXPECT_EQ(Counter(), 3);
}

TEST_F(SyncLife, WithoutAnswerAndWithoutTerminalNothingHappens) {
  CliRun r = RunCli({"sync"}, appData, tmp.Path());
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(Counter(), -1);
  EXPECT_FALSE(fs::exists(MobileFolder()));
}

TEST_F(SyncLife, ServerGoneTheSyncFailsAndTheCounterStays) {
  server.reset();
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "fehlgeschlagen")) << r.err;
  EXPECT_EQ(Counter(), -1);

  SetCounter(5);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "fehlgeschlagen")) << r.err;
  // A failed download is never taken for "no changes".
  EXPECT_FALSE(Has(r.out, "Keine \xC3\x84nderungen")) << r.out;
  EXPECT_EQ(Counter(), 5);
}

// Each script request in turn answers an error: the run stops at that step,
// says so, keeps the counter and loses nothing on either side.
TEST_F(SyncLife, EveryRequestFailingStopsAtItsStep) {
  for (int status : {404, 500}) {
    SetCounter(0);
    server->SetFailure("/mob/unzip.php", status);
    CliRun r = Sync("--yes");
    EXPECT_EQ(r.exitCode, 1) << status;
    EXPECT_TRUE(Has(r.err, "Server-Unzip.php")) << r.err;
    EXPECT_EQ(Counter(), 0);
    server->ClearFailures();

    SetCounter(1);
    PutChange("mob_kunde_x.txt", "h\r\nN/9;;Feld" + std::to_string(status) + ";;;;;;;;1;\r\n");
    for (const char* path : {"/mob/zip.php", "/mob/transfer/dl_hof1.zip"}) {
      server->SetFailure(path, status);
      r = Sync("--yes");
      EXPECT_EQ(r.exitCode, 1) << path << status;
      EXPECT_TRUE(Has(r.err, "fehlgeschlagen")) << path << r.err;
      EXPECT_FALSE(Has(r.out, "Keine \xC3\x84nderungen")) << path;
      EXPECT_EQ(Counter(), 1) << path;
      EXPECT_TRUE(ChangeFilesOnServer()) << path;
      server->ClearFailures();
    }

    // The delete request fails after the import: the run stops before the
    // upload, the counter stays, and the user is told.
    server->SetFailure("/mob/delmob.php", status);
    r = Sync("--yes");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "Server-Delmob.php")) << r.err;
    EXPECT_EQ(Counter(), 1);
    EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Feld" +
                                   std::to_string(status) + "'"),
              "1");
    server->ClearFailures();
    fs::remove(Account() + "/mob_kunde_x.txt");
  }
}

TEST_F(SyncLife, ADownloadThatIsNoZipFails) {
  SetCounter(1);
  PutChange("mob_kunde_x.txt", "h\r\nN/9;;Bleibt;;;;;;;;1;\r\n");
  server->SetBody("/mob/transfer/dl_hof1.zip", "<html>kein Archiv</html>");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Unzip")) << r.err;
  EXPECT_EQ(Counter(), 1);
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Bleibt'"), "0");
}

// Every path goes into the commands quoted once and in the console's code
// page, the umlaut as always and the á of "Mária" too (it used to reach zip
// as ß).
class SyncLifeInOddFolder : public SyncLife {
 protected:
  std::string AppDataName() const override { return "M\xC3\xA1ria B\xC3\xBCro Daten"; }
};

TEST_F(SyncLifeInOddFolder, LocalFolderWithBlanksUmlautsAndAccents) {
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "M\xC3\xA1ria B\xC3\xBCro Daten")) << r.out;
  for (const char* file : kExportedFiles) {
    ASSERT_TRUE(fs::exists(Account() + "/" + file)) << file;
  }
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;Wei\xDF;;;;;;;;1;\r\n");
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Wei\xDF'"), "1");
  EXPECT_FALSE(fs::exists(MobileFolder() + "tmp_dl"));
  EXPECT_EQ(Counter(), 2);
}

// A letter Windows-1252 lacks would turn the folder into another one ("?ukasz").
TEST(SyncLifeInFolderBeyondTheToolsLetters, IsRefusedBeforeAnything) {
  TempDir tmp;
  const std::string appData = tmp.Path() + "/\xC5\x81ukasz";
  fs::create_directories(fs::u8path(appData + "/dasTessavor"));
  CliRun r = RunCli({"sync", "--yes"}, appData, tmp.Path());
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "das Zeichen U+0141")) << r.err;
  EXPECT_FALSE(fs::exists(tmp.Path() + "/?ukasz"));
  EXPECT_FALSE(fs::exists(fs::u8path(appData + "/dasTessavor/Kelvanor.lock")));
}

TEST_F(SyncLife, AccountNameWithAQuoteIsRefusedBeforeAnything) {
  WriteToolIni("hof\"1");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "\"")) << r.err;
  EXPECT_EQ(Counter(), -1);
  EXPECT_FALSE(fs::exists(MobileFolder()));
}

TEST_F(SyncLife, AccountNameTheConsoleCannotShowIsRefusedBeforeAnything) {
  WriteToolIni("Schmiede\x99");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "enth\xC3\xA4lt das Zeichen '\xE2\x84\xA2'")) << r.err;
  EXPECT_EQ(Counter(), -1);
  EXPECT_FALSE(fs::exists(MobileFolder()));
}

TEST_F(SyncLife, AccountNameWithABlankFailsAtTheServerWithAClearMessage) {
  WriteToolIni("hof 1");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Server-Unzip.php")) << r.err;
  EXPECT_EQ(Counter(), -1);
}

// Whatever fails after the import has committed, the next syncs bring
// nothing twice: the journal skips the lines the server sends again, and
// every received line is backed up before the server is asked to drop it.
TEST_F(SyncLife, FaultsAfterTheImportBringNothingTwice) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);

  // The delete request fails after the import.
  PutFieldWork("A");
  server->SetFailure("/mob/delmob.php", 500);
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Server-Delmob.php")) << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  ASSERT_EQ(Backups(), 1);
  for (const auto& e : fs::directory_iterator(MobileFolder())) {
    if (Has(e.path().filename().string(), "_mob_from_server.txt")) {
      EXPECT_TRUE(Has(ReadFile(e.path().string()), "N/7;;KundeA;"));
    }
  }
  EXPECT_EQ(Counter(), 1);
  ExpectFieldWorkOnce("A");
  server->ClearFailures();

  // Meanwhile the farrier corrects the new customer and the cash entry: the
  // mobile writes each again under its first field.
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;KundeA;;;;;;;;1;\r\nN/7;;KundeA;;;0711;;;;;1;\r\n");
  PutChange("mob_kasse_x.txt", "h\r\nN/1;46500.5;K;KasseA;B-1;119;19;N/7;;;\r\n"
                               "N/1;46500.5;K;KasseA;B-1;120;19;N/7;;;\r\n");

  // The next sync gets the same lines, imports none of them again (the
  // corrected customer changes the one record, the booked cash entry is
  // named for the user to correct), and then the upload after the import fails.
  server->SetFailure("/mob/unzip.php", 500);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "5 Zeile(n) waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  EXPECT_TRUE(Has(r.out + r.err, "mob_kasse_x.txt N/1: schon bei einem fr\xC3\xBCheren Import")) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT telefon FROM besitzer WHERE name='KundeA'"), "0711");
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM kasse WHERE betrag=120"), "0");
  EXPECT_TRUE(Has(r.err, "Server-Unzip.php")) << r.err;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 1);
  ExpectFieldWorkOnce("A");
  server->ClearFailures();

  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Keine \xC3\x84nderungen auf dem Server.")) << r.out;
  EXPECT_EQ(Counter(), 2);
  ExpectFieldWorkOnce("A");

  // The tool dies (power cut, task manager) after the import committed, while
  // the delete request is under way and before the server has done it.
  PutFieldWork("B");
  server->SetBody("/mob/delmob.php", "OK");
  server->SetSlow("/mob/delmob.php", 60);
  server->RequestLog(true);
  const StartedProgram running = StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path());
  for (int i = 0; i < 600 && !Has(server->RequestLog(), "/mob/delmob.php"); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  ASSERT_TRUE(Has(server->RequestLog(), "/mob/delmob.php"));
  ::kill(running.pid, SIGKILL);
  WaitProgram(running);
  server->ClearFailures();
  EXPECT_TRUE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("B");

  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "schon bei einem fr\xC3\xBCheren Import")) << r.out;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 3);
  ExpectFieldWorkOnce("A");
  ExpectFieldWorkOnce("B");
}

// A practice database the tool cannot write is never reported as imported:
// the run stops before the delete request, so the server keeps everything.
TEST_F(SyncLife, AWriteProtectedDatabaseIsNeverReportedAsImported) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  // As root file modes do not count, so the tool runs as "nobody", from a
  // copy that nobody may run.
  const std::string bin = tmp.Path() + "/bin/kelvanor-cli";
  fs::create_directories(tmp.Path() + "/bin");
  fs::copy_file(CliBinary(), bin);
  const auto everyone = fs::perms::owner_all | fs::perms::group_all | fs::perms::others_all;
  fs::permissions(tmp.Path(), everyone);
  for (const auto& e : fs::recursive_directory_iterator(tmp.Path())) {
    fs::permissions(e.path(), e.is_directory() || e.path() == bin
                                  ? everyone
                                  : fs::perms::owner_read | fs::perms::owner_write |
                                        fs::perms::group_read | fs::perms::group_write |
                                        fs::perms::others_read | fs::perms::others_write);
  }
  const std::string before = QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer");
  auto syncAsNobody = [&] {
    return WaitProgram(StartProgram(bin, {"sync", "--yes"}, appData, tmp.Path(), true));
  };

  // The file is write-protected.
  fs::permissions(dbPath, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  CliRun r = syncAsNobody();
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "nichts \xC3\xBC" "bernommen")) << r.err;
  EXPECT_TRUE(Has(r.err, "schreibgesch\xC3\xBCtzt")) << r.err;
  EXPECT_FALSE(Has(r.out, "Server-Delmob.php")) << r.out;

  // The file may be written, its folder takes no journal file.
  fs::permissions(dbPath, everyone & ~(fs::perms::owner_exec | fs::perms::group_exec |
                                       fs::perms::others_exec));
  fs::permissions(tmp.Path(), everyone & ~(fs::perms::group_write | fs::perms::others_write));
  r = syncAsNobody();
  fs::permissions(tmp.Path(), everyone);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "nichts \xC3\xBC" "bernommen")) << r.err;
  EXPECT_TRUE(Has(r.err, "Der Ordner der Datenbank ist schreibgesch\xC3\xBCtzt")) << r.err;

  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer"), before);
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 1);

  // Once the database can be written, everything arrives once.
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  ExpectFieldWorkOnce("A");
}

// Two syncs on one application-data folder (the window started twice, or a
// scheduled sync beside the window): one runs, the other touches nothing.
TEST_F(SyncLife, TwoSyncsAtOnceOneRunsTheOtherIsRefused) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  server->SetSlow("/mob/zip.php", 2);  // keeps the first run busy meanwhile
  const StartedProgram first = StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path());
  const StartedProgram second = StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path());
  const CliRun a = WaitProgram(first);
  const CliRun b = WaitProgram(second);
  const CliRun& refused = a.exitCode == 0 ? b : a;
  EXPECT_EQ(a.exitCode + b.exitCode, 1) << a.err << b.err;
  EXPECT_EQ(refused.err, "Kelvanor l\xC3\xA4uft bereits.\n");
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(Counter(), 2);
  ExpectFieldWorkOnce("A");
}

// The line the mobile sends back for a record it was sent, with some of its
// fields changed: the uploaded data line, key turned into "A/", the fields a
// change line carries (the mobile keeps what it was sent in the others).
std::string ChangedLine(const std::string& uploaded, std::size_t fieldCount,
                        const std::map<std::size_t, std::string>& changes) {
  std::vector<std::string> fields;
  std::string rest = uploaded;
  for (std::size_t semicolon; (semicolon = rest.find(';')) != std::string::npos;) {
    fields.push_back(rest.substr(0, semicolon));
    rest.erase(0, semicolon + 1);
  }
  fields.push_back(rest);
  fields.resize(fieldCount);
  for (const auto& [field, value] : changes) fields[field] = value;
  std::string line;
  for (std::size_t i = 0; i < fields.size(); ++i) line += (i > 0 ? ";" : "") + fields[i];
  return line;
}

std::string UploadedLine(const std::string& file, const std::string& key) {
  for (const std::string& line : SplitLines(ReadFile(file))) {
    if (line.compare(0, key.size() + 1, key + ";") == 0) return line;
  }
  return std::string();
}

// A changed record takes only the fields changed on the mobile: what the
// office changed since the upload stays, fields the export cut off stay, and
// a field changed on both sides takes the mobile's value and is named.
TEST_F(SyncLife, ChangedRecordsTakeOnlyWhatTheMobileChanged) {
  const std::string longName(140, 'x');
  ExecOnFile(dbPath, "UPDATE besitzer SET kundennr='K-1', telefon='0711', email='anna@hof.de' "
                     "WHERE id=1;"
                     "INSERT INTO besitzer (id,name,vorname,kundennr,telefon,email,preisstufe) "
                     "VALUES (2,'Lang','" + longName + "','K-2','0800','lang@hof.de',3);"
                     "UPDATE _tblOffsets SET idMax=2 WHERE tbl='Besitzer';");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  const std::string anna = UploadedLine(Account() + "/mob_kunde.txt", "A/1");
  const std::string lang = UploadedLine(Account() + "/mob_kunde.txt", "A/2");
  const std::string fury = UploadedLine(Account() + "/mob_pferd.txt", "A/1");
  ASSERT_FALSE(anna.empty());
  ASSERT_LT(lang.size(), 160u);  // the export cut it

  // Meanwhile in the office: Anna's phone and e-mail, Fury's next shoeing.
  ExecOnFile(dbPath, "UPDATE besitzer SET telefon='0301', email='neu@hof.de' WHERE id=1;"
                     "UPDATE pferd SET naechsterbeschlag=46450 WHERE id=1;");
  // The conflicts of earlier runs stay in their file; this run's are added.
  const std::string conflictFile = MobileFolder() + "mob_konflikte.txt";
  WriteFile(conflictFile, "Datum;Datensatz;Feld;B\xFCro;Mobil\r\n01.01.2027 08:00:00;Kunde X (A/9);Ort;a;b\r\n");
  // In the field: Anna's street and e-mail, Lang's phone, Fury's name.
  PutChange("mob_kunde_x.txt", "h\r\n" + ChangedLine(anna, 12, {{6, "Am Hof 2"}, {9, "feld@hof.de"}}) +
                                   "\r\n" + ChangedLine(lang, 12, {{5, "0170 123"}}) + "\r\n");
  PutChange("mob_pferd_x.txt",
            "h\r\n" + ChangedLine(fury, 11, {{1, "Fury II"}, {3, ""}, {6, "A/0"}}) + "\r\n");
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;

  // The office's phone and the mobile's street both survive.
  EXPECT_EQ(QueryOne(dbPath, "SELECT telefon||'|'||strasse||'|'||kundennr FROM besitzer WHERE id=1"),
            "0301|Am Hof 2|K-1");
  // Changed on both sides: the mobile's value, and the conflict is named.
  EXPECT_EQ(QueryOne(dbPath, "SELECT email FROM besitzer WHERE id=1"), "feld@hof.de");
  EXPECT_TRUE(Has(r.err, "Konflikt: Kunde Huber, Anna (A/1): E-Mail im B\xC3\xBCro \"neu@hof.de\", "
                         "vom Mobilger\xC3\xA4t \"feld@hof.de\" (\xC3\xBC" "bernommen)")) << r.err;
  // The office's value is kept, and the log and the box say where.
  EXPECT_TRUE(Has(r.out, "Die Konflikte stehen in " + conflictFile)) << r.out;
  EXPECT_TRUE(Has(r.err, "Die Werte des B\xC3\xBCros stehen in " + conflictFile)) << r.err;
  const std::vector<std::string> kept = SplitLines(ReadFile(conflictFile));
  ASSERT_EQ(kept.size(), 3u) << ReadFile(conflictFile);
  EXPECT_EQ(kept[1], "01.01.2027 08:00:00;Kunde X (A/9);Ort;a;b");
  EXPECT_EQ(kept[2].substr(19), ";Kunde Huber, Anna (A/1);E-Mail;neu@hof.de;feld@hof.de");
  EXPECT_TRUE(Has(ReadFile(conflictFile), "feld@hof.de\r\n"));
  // The customer the export cut keeps what the mobile never saw.
  EXPECT_EQ(QueryOne(dbPath, "SELECT vorname||'|'||kundennr||'|'||email||'|'||preisstufe||'|'||"
                             "telefon FROM besitzer WHERE id=2"),
            longName + "|K-2|lang@hof.de|3|0170 123");
  // Fury keeps the office's date and takes the mobile's name.
  EXPECT_EQ(QueryOne(dbPath, "SELECT name||'|'||naechsterbeschlag FROM pferd WHERE id=1"),
            "Fury II|46450.0");
  // The preview said it in words.
  EXPECT_TRUE(Has(r.out, "Stra\xC3\x9F" "e: (leer) -> Am Hof 2")) << r.out;
  EXPECT_TRUE(Has(r.out, "Name: Fury -> Fury II")) << r.out;

  // No base kept (the first sync after an update of the tool): the practice's
  // own export tells what the cut dropped, so the cut customer still imports.
  fs::remove_all(toolDir + "Kelvanor-Basis");
  PutChange("mob_kunde_x.txt", "h\r\n" + ChangedLine(lang, 12, {{5, "0170 999"}}) + "\r\n");
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT kundennr||'|'||email||'|'||preisstufe||'|'||telefon "
                             "FROM besitzer WHERE id=2"),
            "K-2|lang@hof.de|3|0170 999");
}

}  // namespace
}  // namespace kelvanor::testing
