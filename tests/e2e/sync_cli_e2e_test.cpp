// The whole life of an installation, driven through kelvanor-cli sync against
// the reference sync server with real curl, zip and unzip.
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "db/database_copy.h"
#include "db/dbase.h"
#include "platform/ini_file.h"
#include "platform/instance_lock.h"
#include "support/cli_runner.h"
#include "support/scoped_env.h"
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

  // The practice's files: the database and all beside it named so (its
  // journal, WAL, the tool's restore points and history).
  std::vector<fs::path> PracticeFiles() const {
    std::vector<fs::path> files;
    for (const auto& e : fs::directory_iterator(tmp.Path())) {
      if (e.path().filename().string().rfind("praxis.db", 0) == 0) files.push_back(e.path());
    }
    return files;
  }

  // Keeps the practice's files, and the application-data folder when asked,
  // for a run killed halfway to start again from: PutPracticeBack.
  void KeepPractice(bool withAppData) {
    fs::create_directories(KeptFolder());
    if (withAppData) fs::copy(appData, KeptFolder() + "/appdata", fs::copy_options::recursive);
    for (const fs::path& file : PracticeFiles()) {
      fs::copy(file, KeptFolder() + "/" + file.filename().string(), fs::copy_options::recursive);
    }
  }
  void PutPracticeBack() {
    const bool withAppData = fs::exists(KeptFolder() + "/appdata");
    if (withAppData) fs::remove_all(appData);
    for (const fs::path& file : PracticeFiles()) fs::remove_all(file);
    for (const auto& e : fs::directory_iterator(KeptFolder())) {
      const std::string name = e.path().filename().string();
      fs::copy(e.path(), name == "appdata" ? appData : tmp.Path() + "/" + name,
               fs::copy_options::recursive);
    }
  }
  std::string KeptFolder() const { return tmp.Path() + "/vorher"; }

  TempDir tmp;
  std::unique_ptr<SyncServer> server;
  std::string appData, toolDir, dbPath;
  std::string account = "hof1";
};

// kelvanor-cli check-connection: a line per address, exit 0 when each
// answers, 1 with the address and "nicht erreichbar" when one does not; the
// server is asked for no script and stores no file.
TEST_F(SyncLife, CheckConnectionSaysWhatAnswersAndChangesNothing) {
  server->RequestLog(true);
  CliRun r = RunCli({"check-connection"}, appData, tmp.Path());
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  const std::string port = std::to_string(server->HttpPort());
  EXPECT_TRUE(Has(r.out, "Skripte: " + server->BaseUrl() + " (Port " + port +
                             "): erreichbar, unverschlüsselt;")) << r.out;
  EXPECT_TRUE(Has(r.out, "Upload: " + server->FtpUrl() + " (Port " +
                             std::to_string(server->FtpPort()) +
                             "): erreichbar, Anmeldung gelungen, unverschlüsselt;")) << r.out;
  EXPECT_TRUE(Has(r.err, "Prüfe Upload: " + server->FtpUrl() + " ...")) << r.err;
  const std::string requests = server->RequestLog();
  EXPECT_FALSE(Has(requests, ".php")) << requests;
  EXPECT_FALSE(Has(requests, "\"STOR\"")) << requests;
  EXPECT_FALSE(fs::exists(server->FtpDir() + "/up_hof1.zip"));
  EXPECT_EQ(Counter(), -1);

  const std::string ini = W(toolDir + "Kelvanor.ini");
  IniWriteString(ini, "sync_server", "base", "http://127.0.0.1:1");
  r = RunCli({"check-connection"}, appData, tmp.Path());
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Skripte: http://127.0.0.1:1 (Port 1): nicht erreichbar: Verbindung "
                         "abgelehnt")) << r.out;
  IniWriteString(ini, "sync_server", "base", server->BaseUrl());
  IniWriteString(ini, "sync_server", "ftp", "ftp://127.0.0.1:1");
  r = RunCli({"check-connection"}, appData, tmp.Path());
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Upload: ftp://127.0.0.1:1 (Port 1): nicht erreichbar: Verbindung "
                         "abgelehnt")) << r.out;
  EXPECT_EQ(RunCli({"check-connection", "jetzt"}, appData, tmp.Path()).exitCode, 2);
}

TEST_F(SyncLife, FirstSecondThirdAndQuietSync) {
  // First sync: export, zip, FTP upload, unzip on the server.
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  // First of all, after its dated line, the run says how the practice's
  // data travels.
  EXPECT_EQ(r.out.find("Verbindung zum Sync-Server: unverschlüsselt (HTTP, FTP)\n"),
            r.out.find('\n') + 1)
      << r.out;
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
  EXPECT_TRUE(Has(r.out, "mob_kunde_x.txt (2 S\xC3\xA4tze), ")) << r.out;
  EXPECT_TRUE(Has(r.out, "5) Empfangene Daten gesichert: ")) << r.out;
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
  EXPECT_TRUE(Has(r.out, "Nicht importiert: Die Mobildaten bleiben auf dem Server und kommen bei "
                         "der n\xC3\xA4" "chsten Synchronisation wieder.")) << r.out;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Abgelehnt'"), "0");
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 2);
  EXPECT_FALSE(fs::exists(MobileFolder() + "tmp_dl"));

  // No changes at all (a change file holding only its header brings none):
  // the question whether to upload anyway.
  PutChange("mob_kunde_x.txt", "h\r\n");
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
  const std::string unreachable =
      "Fehler: Der Server ist nicht erreichbar. Bitte sp\xC3\xA4ter erneut synchronisieren.\n";
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, unreachable)) << r.err;
  EXPECT_FALSE(Has(r.err, "curl")) << r.err;
  EXPECT_TRUE(Has(r.out, "Exit-Code 7")) << r.out;  // the technical detail stays in the log
  EXPECT_EQ(Counter(), -1);

  SetCounter(5);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err, unreachable + "Es wurde nichts ver\xC3\xA4ndert.\n");
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
    EXPECT_TRUE(Has(r.err, "(unzip.php)")) << r.err;
    EXPECT_EQ(Counter(), 0);
    server->ClearFailures();

    SetCounter(1);
    PutChange("mob_kunde_x.txt", "h\r\nN/9;;Feld" + std::to_string(status) + ";;;;;;;;1;\r\n");
    for (const char* path : {"/mob/zip.php", "/mob/transfer/dl_hof1.zip"}) {
      // A missing archive after zip.php's OK means no changes (see
      // NoArchiveMeansNoChanges).
      if (status == 404 && std::string(path) != "/mob/zip.php") continue;
      server->SetFailure(path, status);
      r = Sync("--yes");
      EXPECT_EQ(r.exitCode, 1) << path << status;
      EXPECT_TRUE(Has(r.err, "nicht bereitstellen (zip.php)") ||
                  Has(r.err, "nicht vom Server geladen werden")) << path << r.err;
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
    EXPECT_TRUE(Has(r.err, "Fehler: Die Mobildaten sind in die Datenbank \xC3\xBC" "bernommen.\n")) << r.err;
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
  EXPECT_TRUE(Has(r.err, "ist kein lesbares Zip-Archiv")) << r.err;
  EXPECT_EQ(Counter(), 1);
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Bleibt'"), "0");
}

// An archive that unpacks to 40 MB of line feeds is refused before unzip
// writes anything: the run ends with a clear message and little memory, and
// the server keeps its change files.
TEST_F(SyncLife, AnArchiveBeyondTheLimitsIsRefusedWithLittleMemory) {
  SetCounter(1);
  PutChange("mob_kunde_x.txt", "h\r\nN/9;;Bleibt;;;;;;;;1;\r\n");
  server->ServeArchive(account, {{"mob_kunde_x.txt", ArchiveEntry::Kind::kFile, "\n",
                                  40u * 1000 * 1000}});
  CliRun r = Sync("--no");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "\"mob_kunde_x.txt\" mit mehr als 16777216 Bytes")) << r.err;
  EXPECT_LT(r.peakMemoryKb, 100 * 1024);
  EXPECT_EQ(Counter(), 1);
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_FALSE(fs::exists(MobileFolder() + "tmp_dl/mob_kunde_x.txt"));
}

// Every path goes into the commands quoted once and in the console's code
// page, the umlaut as always and the á of "Mária" too (it used to reach zip
// as ß); its "%" reaches every program as written.
class SyncLifeInOddFolder : public SyncLife {
 protected:
  std::string AppDataName() const override { return "M\xC3\xA1ria B\xC3\xBCro 100% Daten"; }
};

TEST_F(SyncLifeInOddFolder, LocalFolderWithBlanksUmlautsAndAccents) {
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "M\xC3\xA1ria B\xC3\xBCro 100% Daten")) << r.out;
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

// The blank goes into the URLs as %20, which tmp.bat keeps as written.
TEST_F(SyncLife, AccountNameWithABlankReachesTheServerAsWritten) {
  WriteToolIni("hof 1");
  account = "hof 1";
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(fs::exists(Account() + "/mob_kunde.txt"));
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;Leerzeichen;;;;;;;;1;\r\n");
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='Leerzeichen'"), "1");
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 2);
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
  EXPECT_TRUE(Has(r.err, "(delmob.php)")) << r.err;
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
  // Before the question the lines read as what the import will make of
  // them: nothing new, so the office fears no second customer.
  for (const char* words :
       {"    N/2;StallA;;;;;;\n      = Schon bei einem früheren Import übernommen: Neuer Stall "
        "StallA\n",
        "      = Schon bei einem früheren Import übernommen, seitdem auf dem Mobilgerät geändert: "
        "Geänderter Kunde KundeA\n",
        "      = Schon bei einem früheren Import übernommen, seitdem auf dem Mobilgerät geändert; "
        "die Änderung wird nicht übernommen, bitte von Hand nachtragen: Neue Kassenbuchung vom ",
        "\n\n1 geänderter Kunde, 1 Änderung zum Nachtragen von Hand, 5 schon übernommene "
        "Zeilen\n"}) {
    EXPECT_TRUE(Has(r.out, words)) << words << "\n" << r.out;
  }
  EXPECT_FALSE(Has(r.out, "= Neue")) << r.out;
  EXPECT_TRUE(Has(r.out, "5 Zeilen waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  EXPECT_TRUE(Has(r.out + r.err,
                  "mob_kasse_x.txt, Zeile 3 (KasseA): schon bei einem fr\xC3\xBCheren Import"))
      << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT telefon FROM besitzer WHERE name='KundeA'"), "0711");
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM kasse WHERE betrag=120"), "0");
  EXPECT_TRUE(Has(r.err, "(unzip.php)")) << r.err;
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
  EXPECT_TRUE(Has(r.out, "\n\n7 schon übernommene Zeilen\n")) << r.out;
  EXPECT_FALSE(Has(r.out, "= Neue")) << r.out;
  EXPECT_TRUE(Has(r.out, "7 Zeilen waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 3);
  ExpectFieldWorkOnce("A");
  ExpectFieldWorkOnce("B");
}

// A run that is killed leaves its folder of temporary files (the settings
// of its curl commands) behind; the next start removes it, never the folder
// of a Kelvanor that still runs, here one of another installation on the
// same machine.
TEST_F(SyncLife, AKilledRunsTemporaryFolderIsRemovedByTheNextStartWhileARunningOnesStays) {
  const std::string temporary = tmp.Path() + "/temp";
  fs::create_directories(temporary);
  const ScopedEnv temporaryFolder("TMPDIR", temporary.c_str());
  auto curlFolders = [&] {
    std::set<std::string> folders;
    for (const auto& e : fs::directory_iterator(temporary)) {
      const std::string name = e.path().filename().string();
      if (name.rfind("kelvanor-curl-", 0) == 0) folders.insert(name);
    }
    return folders;
  };
  auto zipRequests = [&] {
    const std::string log = server->RequestLog();
    std::size_t count = 0;
    for (std::size_t at = log.find("/mob/zip.php"); at != std::string::npos;
         at = log.find("/mob/zip.php", at + 1)) {
      ++count;
    }
    return count;
  };
  auto waitFor = [&](std::size_t folders, std::size_t requests) {
    for (int i = 0; i < 600 && (curlFolders().size() < folders || zipRequests() < requests); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return curlFolders();
  };
  // A run that ends leaves nothing.
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  EXPECT_EQ(curlFolders(), std::set<std::string>{});

  // Another installation (its own application-data folder and practice)
  // syncs and waits for the server.
  const std::string otherAppData = tmp.Path() + "/appdata2";
  const std::string otherToolDir = otherAppData + "/dasTessavor/";
  fs::create_directories(tmp.Path() + "/zweite");
  fs::create_directories(otherToolDir);
  fs::copy_file(dbPath, tmp.Path() + "/zweite/praxis.db");
  IniWriteString(W(otherToolDir + "tessavor.ini"), "Allgemein", "db_pfad", tmp.Path() + "/zweite/");
  IniWriteString(W(otherToolDir + "tessavor.ini"), "Allgemein", "db_name", "praxis.db");
  const std::string otherIni = W(otherToolDir + "Kelvanor.ini");
  IniWriteString(otherIni, "general", "name", "hof2");
  IniWriteInteger(otherIni, "general", "num_syncs", 1);
  IniWriteString(otherIni, "sync_server", "base", server->BaseUrl());
  IniWriteString(otherIni, "sync_server", "web", server->BaseUrl());
  IniWriteString(otherIni, "sync_server", "ftp", server->FtpUrl());
  server->SetSlow("/mob/zip.php", 60);
  server->RequestLog(true);
  const StartedProgram running =
      StartProgram(CliBinary(), {"sync", "--yes"}, otherAppData, tmp.Path());
  const std::set<std::string> runningFolders = waitFor(1, 1);
  ASSERT_EQ(runningFolders.size(), 1u);

  // This installation's sync is killed while it waits too.
  const StartedProgram killed = StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path());
  const std::set<std::string> both = waitFor(2, 2);
  ASSERT_EQ(both.size(), 2u);
  ::kill(killed.pid, SIGKILL);
  WaitProgram(killed);
  EXPECT_EQ(curlFolders(), both);

  // The next start of this installation removes the killed run's folder and
  // leaves the running one's as it is.
  const CliRun exported = RunCli({"export", tmp.Path() + "/export"}, appData, tmp.Path());
  EXPECT_EQ(exported.exitCode, 0) << exported.err;
  EXPECT_EQ(curlFolders(), runningFolders);
  EXPECT_TRUE(fs::exists(temporary + "/" + *runningFolders.begin() + "/.curlrc"));

  // Once the other one is killed too, its folder goes with the next start;
  // a sync that runs to its end leaves none.
  ::kill(running.pid, SIGKILL);
  WaitProgram(running);
  server->ClearFailures();
  const CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(curlFolders(), std::set<std::string>{});
}

// After a failed delete request the office deletes records of the run (the
// first ones it created) and marks another as its own: while any record of
// the run is there, none of its lines comes again, and what the office
// deleted stays deleted.
TEST_F(SyncLife, TheOfficeDeletingOrEditingImportedRecordsBringsNothingTwice) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  std::string customers = "h\r\n";
  for (const char* n : {"1", "2", "3", "4", "5"}) {
    customers += std::string("N/") + n + ";;Neu" + n + ";;;;;;;;1;\r\n";
  }
  PutChange("mob_kunde_x.txt", customers);
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  server->ClearFailures();
  ExecOnFile(dbPath, "DELETE FROM besitzer WHERE name IN ('Neu1','Neu2','Neu3');"
                     "UPDATE besitzer SET erstelltvon='BUERO' WHERE name='Neu4'");
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "\n\n5 schon \xC3\xBC" "bernommene Zeilen\n")) << r.out;
  EXPECT_EQ(QueryOne(dbPath, "SELECT group_concat(name) FROM (SELECT name FROM besitzer "
                             "WHERE name LIKE 'Neu%' ORDER BY name)"),
            "Neu4,Neu5");
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
  EXPECT_FALSE(ChangeFilesOnServer());
}

// After a failed delete request the mobile writes a new customer's line and
// a cash entry's line anew in their place (phone and amount corrected, the
// first lines gone): the customer is the one imported, changed field by
// field (the office's place since stays), and the cash entry is named for
// the office; neither is created twice.
TEST_F(SyncLife, AMobileRewritingItsLinesInPlaceGetsNoSecondRecord) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutChange("mob_kunde_x.txt", "h\r\nN/5;;Neumann;Nina;;0711;;;;;1;\r\n");
  PutChange("mob_kasse_x.txt", "h\r\nN/1;46500.5;K;Barzahlung;B-1;50;19;N/5;;;\r\n");
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  server->ClearFailures();
  ExecOnFile(dbPath, "UPDATE besitzer SET ort='Au' WHERE name='Neumann'");
  PutChange("mob_kunde_x.txt", "h\r\nN/5;;Neumann;Nina;;0301234;;;;;1;\r\n");
  PutChange("mob_kasse_x.txt", "h\r\nN/1;46500.5;K;Barzahlung;B-1;60;19;N/5;;;\r\n");

  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "= Neue")) << r.out;
  EXPECT_TRUE(Has(r.out, "seitdem auf dem Mobilger\xC3\xA4t ge\xC3\xA4ndert: Ge\xC3\xA4nderter "
                         "Kunde Neumann, Nina\n      = Telefon: 0711 -> 0301234\n")) << r.out;
  EXPECT_TRUE(Has(r.out, "1 ge\xC3\xA4nderter Kunde, 1 \xC3\x84nderung zum Nachtragen von Hand")) << r.out;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*)||'|'||telefon||'|'||ort FROM besitzer "
                             "WHERE name='Neumann'"),
            "1|0301234|Au");
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM kasse WHERE bezeichnung='Barzahlung'"), "1");
  EXPECT_TRUE(Has(ReadFile(MobileFolder() + "nicht_importierte_Zeilen.txt"),
                  "\nN/1;46500.5;K;Barzahlung;B-1;60;19;N/5;;;\r\n"));
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
  EXPECT_FALSE(ChangeFilesOnServer());
}

// What real servers answer instead of the reference server's plain "OK":
// a failure under status 200, a redirect to another page, no archive at all.
// Each run ends with the truth, and every record arrives exactly once.
TEST_F(SyncLife, RealServersAnswersEndInTheTruth) {
  // A script that refuses the account: the message points to "Konto ...".
  server->SetFailure("/mob/unzip.php", 403, "Konto hof1 ist gesperrt");
  CliRun refused = Sync("--yes");
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(Has(refused.err, "Fehler: Der Server hat das Konto \"hof1\" abgelehnt.\n"
                               "Antwort des Servers: \"Konto hof1 ist gesperrt\"\n"
                               "Bitte den Kontonamen unter \"Konto ...\" pr\xC3\xBC" "fen.\n"))
      << refused.err;
  EXPECT_EQ(Counter(), -1);
  server->ClearFailures();

  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");

  // zip.php failed and said so under 200: nothing imported, nothing deleted.
  server->SetBody("/mob/zip.php", "<br />\n<b>Fatal error</b>:  Allowed memory size exhausted");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Antwort des Servers: \"Fatal error: Allowed memory size exhausted\""))
      << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='KundeA'"), "0");
  EXPECT_TRUE(ChangeFilesOnServer());
  server->ClearFailures();

  // The delete request lands on the provider's start page: imported, not
  // deleted, and said so; the next sync brings nothing twice.
  server->SetRedirect("/mob/delmob.php", "/start.html");
  server->SetBody("/start.html", "<h1>Willkommen</h1>");
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Die Mobildaten sind in die Datenbank \xC3\xBC" "bernommen.")) << r.err;
  EXPECT_TRUE(Has(r.err, "umgezogen")) << r.err;
  EXPECT_TRUE(Has(r.err, "/start.html?kd=hof1 weitergeleitet")) << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 1);
  ExpectFieldWorkOnce("A");
  server->ClearFailures();

  // Then the upload's unzip.php warns and does nothing: the mobile stays on
  // old data, and the counter too.
  server->SetBody("/mob/unzip.php", "<b>Warning</b>:  ZipArchive::extractTo(): Invalid or "
                                    "uninitialized Zip object<br />\nOK");
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Das Mobilger\xC3\xA4t arbeitet weiter mit dem alten Stand")) << r.err;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_FALSE(Has(ReadFile(Account() + "/mob_kunde.txt"), "KundeA"));
  EXPECT_EQ(Counter(), 1);
  ExpectFieldWorkOnce("A");
  server->ClearFailures();

  // A zip.php that writes no archive without change files: no changes, and
  // the upload still owed is named in the question.
  server->SetNoEmptyArchive();
  r = Sync("--no");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Kein Archiv auf dem Server")) << r.out;
  EXPECT_TRUE(Has(r.out, "Bei \"Nein\" arbeitet das Mobilger\xC3\xA4t weiter mit dem alten Stand."))
      << r.out;
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(ReadFile(Account() + "/mob_kunde.txt"), "KundeA"));
  EXPECT_EQ(Counter(), 2);
  ExpectFieldWorkOnce("A");
}

// Lines the importer cannot read, a file saved as UTF-16, a customer line
// that fails and a change of a customer the office binned: each is named,
// kept for the office before the server is asked to drop it, and blocks
// nothing; everything else arrives once, and the next syncs go through.
TEST_F(SyncLife, LinesNotImportedAreNamedKeptAndBlockNoSync) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  ExecOnFile(dbPath, "UPDATE besitzer SET papierkorb=1 WHERE id=1");  // Anna Huber, binned
  PutFieldWork("A");
  const std::vector<std::string> notImported = {
      "N/8;;Preislos;;;;;;;;x;", "n/9;;Klein;;;;;;;;1;", "A/1;Frau;Huber;Anna;;;;;Rosenheim;;1;",
      " N/5;Stall mit Blank;;;;;;", "N/2;A/1;1;46400;<U+0141>"};
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;KundeA;;;;;;;;1;\r\n" + notImported[0] + "\r\n" +
                                   notImported[1] + "\r\n" + notImported[2] + "\r\n");
  PutChange("mob_stall_x.txt", "h\r\n" + notImported[3] + "\r\nN/2;StallA;;;;;;\r\n");
  std::string utf16 = "\xFF\xFE";
  for (const char16_t unit : std::u16string(u"h\r\nN/1;A/1;1;46400;gut\r\nN/2;A/1;1;46400;\u0141")) {
    utf16 += static_cast<char>(unit & 0xFF);
    utf16 += static_cast<char>(unit >> 8);
  }
  PutChange("mob_report_x.txt", utf16);
  const std::string kept = MobileFolder() + "nicht_importierte_Zeilen.txt";
  auto expectEveryLineKept = [&](std::size_t times) {
    const std::string list = ReadFile(kept);
    for (const std::string& line : notImported) {
      std::size_t found = 0;
      for (std::size_t at = list.find("\n" + line + "\r\n"); at != std::string::npos;
           at = list.find("\n" + line + "\r\n", at + 1)) {
        ++found;
      }
      EXPECT_EQ(found, times) << line << "\n" << list;
    }
  };
  auto expectEverythingElseOnce = [&] {
    ExpectFieldWorkOnce("A");
    EXPECT_EQ(QueryOne(dbPath, "SELECT group_concat(z_ges) FROM verbindbeschlag"), "gut");
    EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name IN ('Preislos','Klein')"),
              "0");
    EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM stall"), "1");
    EXPECT_EQ(QueryOne(dbPath, "SELECT ort||papierkorb FROM besitzer WHERE id=1"), "Au1");
  };

  // The delete request fails: the lines not imported are kept already.
  server->SetFailure("/mob/delmob.php", 500);
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "(delmob.php)")) << r.err;
  EXPECT_TRUE(Has(r.err, "mob_kunde_x.txt, Zeile 3 (Preislos): Preisstufe \"x\" ist keine ganze "
                         "Zahl \xC2\xAB" "N/8;;Preislos;")) << r.err;
  EXPECT_TRUE(Has(r.err, "mob_kunde_x.txt, Zeile 5 (Huber, Anna): Kunde A/1 (Huber, Anna) liegt "
                         "in der Praxis im Papierkorb")) << r.err;
  EXPECT_TRUE(Has(r.err, "mob_stall_x.txt, Zeile 2 (Stall mit Blank): Zeile nicht lesbar")) << r.err;
  EXPECT_TRUE(Has(r.err, "mob_report_x.txt, Zeile 3: Das Zeichen U+0141")) << r.err;
  EXPECT_TRUE(Has(r.out, "Die nicht importierten Zeilen stehen in ")) << r.out;
  EXPECT_TRUE(Has(r.out, "Ergebnis: importiert; L\xC3\xB6schen auf dem Server nachholen; "))
      << r.out;
  EXPECT_TRUE(ChangeFilesOnServer());
  expectEveryLineKept(1);
  expectEverythingElseOnce();
  server->ClearFailures();

  // The next sync names them again and goes through to the end.
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "fertig!")) << r.out;
  EXPECT_TRUE(Has(r.out, "Ergebnis: fertig, ")) << r.out;
  EXPECT_TRUE(Has(r.out, " Zeilen nicht \xC3\xBC" "bernommen\n")) << r.out;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_EQ(Counter(), 2);
  expectEveryLineKept(2);
  expectEverythingElseOnce();

  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Keine \xC3\x84nderungen auf dem Server.")) << r.out;
  EXPECT_EQ(Counter(), 3);
  expectEverythingElseOnce();
}

// No step follows a link: the lock beside the database (it was made through
// a dangling link, in another folder) and the list of lines not imported (it
// was read through a link and replaced by a copy of what the link led to).
// Each is refused by name, and nothing is deleted on the server.
TEST_F(SyncLife, LinksInPlaceOfTheLockAndTheListAreNotFollowed) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  const std::string elsewhere = tmp.Path() + "/anderswo";
  fs::create_directories(elsewhere);
  const std::string lock = dbPath + ".Kelvanor_hof1.lock";
  fs::remove(lock);
  fs::create_symlink(elsewhere + "/sperre", lock);
  PutFieldWork("A");
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;KundeA;;;;;;;;1;\r\nN/8;;Preislos;;;;;;;;x;\r\n");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Die Sperrdatei " + lock + " im Ordner der Praxis-Datenbank ist eine "
                         "Verkn\xC3\xBCpfung")) << r.err;
  EXPECT_FALSE(Has(r.out, "Download")) << r.out;
  EXPECT_TRUE(fs::is_empty(elsewhere));
  EXPECT_TRUE(fs::is_symlink(lock));
  fs::remove(lock);

  // Nor is the import journal read or written through a link.
  const std::string journal = dbPath + ".Kelvanor-Importjournal_hof1.db";
  fs::remove(journal);  // nothing imported yet
  WriteFile(elsewhere + "/journal.db", "");
  fs::create_symlink(elsewhere + "/journal.db", journal);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Das Importjournal " + journal + " kann nicht benutzt werden")) << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer"), "1");
  EXPECT_EQ(fs::file_size(elsewhere + "/journal.db"), 0u);
  fs::remove(journal);
  fs::remove(elsewhere + "/journal.db");

  const std::string list = MobileFolder() + "nicht_importierte_Zeilen.txt";
  const std::string notes = elsewhere + "/notizen.txt";
  WriteFile(notes, "eigene Notizen\r\n");
  fs::create_symlink(notes, list);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Die Liste " + list + " ist eine Verkn\xC3\xBCpfung.")) << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(ReadFile(notes), "eigene Notizen\r\n");
  EXPECT_TRUE(fs::is_symlink(list));
  ExpectFieldWorkOnce("A");

  // With the link gone the list is a file of its own, and the sync ends.
  fs::remove(list);
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.out, "fertig!")) << r.out;
  EXPECT_TRUE(Has(ReadFile(list), "\nN/8;;Preislos;;;;;;;;x;\r\n"));
  EXPECT_FALSE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer"), "2");
}

// A change file of a kind this version does not know, beside a known one: it
// is named in the question, backed up and listed for the office, and deleted
// on the server only with the office's "Ja".
TEST_F(SyncLife, AChangeFileOfAnUnknownKindIsNamedKeptAndDeletedOnlyWithYes) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;KundeA;;;;;;;;1;\r\n");
  PutChange("mob_rechnung_x.txt", "Kopf\r\nR/1;Rechnung 17;99,50\r\n");
  CliRun r = Sync("--no");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Diese Dateien kennt Kelvanor nicht: mob_rechnung_x.txt. Ihre Zeilen "
                         "werden nicht importiert")) << r.out;
  EXPECT_TRUE(Has(r.out, "1 neuer Kunde, 1 Zeile unbekannter Art")) << r.out;
  EXPECT_TRUE(fs::exists(Account() + "/mob_rechnung_x.txt"));

  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(ChangeFilesOnServer());
  EXPECT_TRUE(Has(ReadFile(MobileFolder() + "nicht_importierte_Zeilen.txt"),
                  "\nR/1;Rechnung 17;99,50\r\n"));
  std::string backups;
  for (const auto& e : fs::directory_iterator(MobileFolder())) {
    if (Has(e.path().filename().string(), "_mob_from_server.txt")) backups += ReadFile(e.path());
  }
  EXPECT_TRUE(Has(backups, "mob_rechnung_x.txt\r\nKopf\r\nR/1;Rechnung 17;99,50\r\n")) << backups;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='KundeA'"), "1");
}

// A delete request that answers 200 and deletes nothing, and a zip.php that
// leaves the last archive in place when nothing is left to pack: the lines
// come again and are skipped, as long as a download holds them.
TEST_F(SyncLife, ADeleteThatOnlySaysItWorkedBringsNothingTwice) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  server->SetBody("/mob/delmob.php", "OK");
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "7 Zeilen waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  ExpectFieldWorkOnce("A");

  server->ClearFailures();
  server->SetZipKeepsOldArchive();
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  EXPECT_FALSE(ChangeFilesOnServer());
  // Later: the archive left in place is old, and zip.php's count says the
  // server holds nothing.
  const std::string archive = server->Root() + "/transfer/dl_hof1.zip";
  fs::last_write_time(archive, fs::last_write_time(archive) - std::chrono::hours(1));
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "Keine \xC3\x84nderungen auf dem Server.")) << r.out;
  ExpectFieldWorkOnce("A");
  EXPECT_EQ(Counter(), 5);
}

// A zip.php that answers OK but leaves the archive as it was (a provider's
// cache in front of the transfer folder, a zip command failing on a full
// quota), or leaves none: what the archive hides is never deleted on the
// server, what it shows arrives once, and the office is told. An archive
// older than what an earlier sync saw complete is not imported at all.
TEST_F(SyncLife, AnOldOrMissingArchiveNeverLetsTheDeleteDropUnseenLines) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  server->ClearFailures();
  const std::string archive = server->Root() + "/transfer/dl_hof1.zip";
  const std::string firstArchive = tmp.File("dl_hof1_alt.zip");
  fs::copy_file(archive, firstArchive);
  const auto packedThen = fs::last_write_time(archive);

  // The farrier adds a customer; zip.php no longer packs.
  PutChange("mob_kunde_x.txt", "h\r\nN/7;;KundeA;;;;;;;;1;\r\nN/8;;KundeB;;;;;;;;1;\r\n");
  server->SetZipStale();
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Der Server hat ein altes Archiv mit den \xC3\x84nderungen vom "
                         "Mobilger\xC3\xA4t geliefert (gepackt am "))
      << r.err;
  EXPECT_TRUE(Has(r.out, "\n\n7 schon \xC3\xBC" "bernommene Zeilen")) << r.out;
  EXPECT_TRUE(ChangeFilesOnServer());
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='KundeB'"), "0");
  ExpectFieldWorkOnce("A");

  // Packed again: the new customer arrives, nothing twice, the server is emptied.
  server->ClearFailures();
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='KundeB'"), "1");
  EXPECT_FALSE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");

  // The farrier adds another; a cache hands out the first archive again,
  // older than what the last sync saw complete: the journal has forgotten
  // its lines since, so none of it is imported, and nothing is deleted.
  PutChange("mob_kunde_x.txt", "h\r\nN/9;;KundeC;;;;;;;;1;\r\n");
  fs::copy_file(firstArchive, archive, fs::copy_options::overwrite_existing);
  fs::last_write_time(archive, packedThen);
  server->SetZipStale();
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "veraltetes Archiv")) << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");
  server->ClearFailures();

  // zip.php answers OK and leaves no archive: never "no changes".
  server->SetZipLeavesNoArchive();
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "fehlt auf dem Server")) << r.err;
  EXPECT_FALSE(Has(r.out, "Keine \xC3\x84nderungen")) << r.out;
  EXPECT_TRUE(ChangeFilesOnServer());
  server->ClearFailures();
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name IN ('KundeB','KundeC')"),
            "2");
  ExpectFieldWorkOnce("A");
  EXPECT_FALSE(ChangeFilesOnServer());

  // A zip.php that updates the last archive keeps the files the server has
  // dropped since: their lines would come a second time.
  server->SetZipUpdatesOldArchive();
  PutFieldWork("D");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutChange("mob_kunde_x.txt", "h\r\nN/10;;KundeE;;;;;;;;1;\r\n");
  r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "enth\xC3\xA4lt 7 \xC3\x84nderungsdateien, zip.php hat aber nur 1 gepackt"))
      << r.err;
  EXPECT_TRUE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("D");
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer WHERE name='KundeE'"), "0");
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
}

// After a failed delete request the office restores last night's copy of the
// database: the run is not in it, so the next sync imports its lines again.
TEST_F(SyncLife, ARestoredDatabaseGetsTheLinesAgain) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  fs::copy_file(dbPath, tmp.File("gestern.db"));
  PutFieldWork("A");
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  ExpectFieldWorkOnce("A");
  server->ClearFailures();
  fs::copy_file(tmp.File("gestern.db"), dbPath, fs::copy_options::overwrite_existing);
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_FALSE(Has(r.out, "waren schon")) << r.out;
  EXPECT_FALSE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");
}

// The earlier version kept the journal and the base in the application-data
// folder; an unfinished run it journaled there is taken over, not lost.
TEST_F(SyncLife, TheJournalAndBaseOfTheEarlierVersionAreTakenOver) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  server->ClearFailures();
  // What that version had written for the same run, where it wrote it.
  const std::string journal = dbPath + ".Kelvanor-Importjournal_hof1.db";
  const std::string legacy = toolDir + "Kelvanor-Importjournal_hof1.db";
  WriteFile(legacy, "");
  ExecOnFile(legacy, "ATTACH DATABASE '" + journal + "' AS neu;"
                     "CREATE TABLE imported_line (file TEXT NOT NULL, line_hex TEXT NOT NULL, "
                     "occurrence INTEGER NOT NULL, PRIMARY KEY (file, line_hex, occurrence));"
                     "CREATE TABLE id_map (seq INTEGER PRIMARY KEY, table_key TEXT NOT NULL, "
                     "mobile_id INTEGER NOT NULL, db_id INTEGER NOT NULL);"
                     "INSERT INTO imported_line SELECT file, line_hex, occurrence FROM neu.line;"
                     "INSERT INTO id_map (table_key, mobile_id, db_id) "
                     "SELECT table_key, mobile_id, db_id FROM neu.id_map;");
  fs::remove(journal);
  fs::rename(dbPath + ".Kelvanor-Basis_hof1", toolDir + "Kelvanor-Basis");

  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "7 Zeilen waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  ExpectFieldWorkOnce("A");
  EXPECT_FALSE(fs::exists(legacy));
  EXPECT_FALSE(fs::exists(toolDir + "Kelvanor-Basis"));
  EXPECT_TRUE(fs::exists(dbPath + ".Kelvanor-Basis_hof1/mob_kunde.txt"));
}

// Two workstations, or two Windows users, sync one practice database with one
// account, each from its own application-data folder: the journal and the
// lock beside the database are theirs together.
TEST_F(SyncLife, TwoApplicationDataFoldersOnOneDatabaseShareJournalAndLock) {
  const std::string appData2 = tmp.Path() + "/appdata2";
  const std::string toolDir2 = appData2 + "/dasTessavor/";
  fs::create_directories(toolDir2);
  fs::copy_file(toolDir + "tessavor.ini", toolDir2 + "tessavor.ini");
  fs::copy_file(toolDir + "Kelvanor.ini", toolDir2 + "Kelvanor.ini");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  IniWriteInteger(W(toolDir2 + "Kelvanor.ini"), "general", "num_syncs", 1);

  // The first imports and its delete request fails; then the second syncs.
  PutFieldWork("A");
  server->SetFailure("/mob/delmob.php", 500);
  EXPECT_EQ(Sync("--yes").exitCode, 1);
  server->ClearFailures();
  CliRun r = RunCli({"sync", "--yes"}, appData2, tmp.Path());
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "7 Zeilen waren schon bei einem fr\xC3\xBCheren Import")) << r.out;
  EXPECT_FALSE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");

  // Both at once: one runs, the other is told why and touches nothing.
  PutFieldWork("B");
  server->SetSlow("/mob/zip.php", 2);
  const StartedProgram first = StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path());
  const StartedProgram second = StartProgram(CliBinary(), {"sync", "--yes"}, appData2, tmp.Path());
  const CliRun a = WaitProgram(first);
  const CliRun b = WaitProgram(second);
  EXPECT_EQ(a.exitCode + b.exitCode, 1) << a.err << b.err;
  EXPECT_TRUE(Has((a.exitCode == 0 ? b : a).err,
                  "Das Konto hof1 wird gerade an einem anderen Arbeitsplatz"))
      << a.err << b.err;
  EXPECT_FALSE(ChangeFilesOnServer());
  ExpectFieldWorkOnce("A");
  ExpectFieldWorkOnce("B");
}

// A practice in WAL mode, where SQLite commits the practice and the journal
// each on its own: the tool is killed at every fsync or fdatasync of an
// importing sync in turn, then synced normally, and every record is there
// once each time.
TEST_F(SyncLife, AWalPracticeKilledAtEveryDurabilityPointGetsEverythingOnce) {
  ExecOnFile(dbPath, "PRAGMA journal_mode=WAL;");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  // Everything a sync changes on this side: the application-data folder and
  // the database with the files beside it.
  KeepPractice(true);
  auto restore = [&] {
    PutPracticeBack();
    for (const auto& e : fs::directory_iterator(Account())) {
      if (Has(e.path().filename().string(), "_x.txt")) fs::remove(e.path());
    }
    PutFieldWork("A");
  };
  auto syncCrashing = [&](const std::vector<std::string>& environment) {
    std::vector<std::string> env = {std::string("LD_PRELOAD=") + KELVANOR_CRASH_AT_SYNC_LIBRARY};
    env.insert(env.end(), environment.begin(), environment.end());
    return WaitProgram(
        StartProgram(CliBinary(), {"sync", "--yes"}, appData, tmp.Path(), false, env));
  };

  restore();
  const std::string counted = tmp.File("fsyncs.txt");
  CliRun r = syncCrashing({"KELVANOR_SYNC_COUNT_FILE=" + counted});
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ExpectFieldWorkOnce("A");
  const int points = std::stoi(ReadFile(counted));
  ASSERT_GT(points, 10);
  for (int point = 1; point <= points; ++point) {
    SCOPED_TRACE("killed at fsync " + std::to_string(point) + " of " + std::to_string(points));
    restore();
    const CliRun killed = syncCrashing({"KELVANOR_CRASH_AT_SYNC=" + std::to_string(point)});
    EXPECT_EQ(killed.exitCode, -1) << killed.out << killed.err;
    r = Sync("--yes");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_FALSE(ChangeFilesOnServer());
    ExpectFieldWorkOnce("A");
  }
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
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "nichts \xC3\xBC" "bernommen")) << r.err;
  EXPECT_TRUE(Has(r.err, "Der Ordner der Datenbank ist schreibgesch\xC3\xBCtzt")) << r.err;

  // A folder that never took the tool's own files beside the database (a
  // write-protected share): said before anything is fetched.
  for (const auto& e : fs::directory_iterator(tmp.Path())) {
    if (Has(e.path().filename().string(), "praxis.db.Kelvanor")) fs::remove_all(e.path());
  }
  r = syncAsNobody();
  fs::permissions(tmp.Path(), everyone);
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "keine eigenen Dateien anlegen (ist der Ordner schreibgesch\xC3\xBCtzt?)"))
      << r.err;
  EXPECT_TRUE(Has(r.err, "nichts \xC3\xBC" "bernommen")) << r.err;
  EXPECT_FALSE(Has(r.out, "Download")) << r.out;

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
  // Where the office's values cannot be kept (a folder in the file's place),
  // none is overwritten and the server keeps the lines.
  const std::string keptBefore = ReadFile(conflictFile);
  fs::remove(conflictFile);
  fs::create_directory(conflictFile);
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_TRUE(Has(r.err, "Die Konflikte konnten nicht gesichert werden")) << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT email FROM besitzer WHERE id=1"), "neu@hof.de");
  EXPECT_TRUE(ChangeFilesOnServer());
  fs::remove(conflictFile);
  WriteFile(conflictFile, keptBefore);

  r = Sync("--yes");
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
  fs::remove_all(dbPath + ".Kelvanor-Basis_hof1");
  PutChange("mob_kunde_x.txt", "h\r\n" + ChangedLine(lang, 12, {{5, "0170 999"}}) + "\r\n");
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT kundennr||'|'||email||'|'||preisstufe||'|'||telefon "
                             "FROM besitzer WHERE id=2"),
            "K-2|lang@hof.de|3|0170 999");
}

// Each account compares with what its own mobile was sent: another account
// synced in between (hof1, hof2, hof1) leaves hof1's base alone, so a field
// hof1's mobile never touched keeps what the office wrote since.
TEST_F(SyncLife, EachAccountComparesWithWhatItsMobileWasSent) {
  ExecOnFile(dbPath, "UPDATE besitzer SET telefon='0711' WHERE id=1;");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  const std::string anna = UploadedLine(Account() + "/mob_kunde.txt", "A/1");
  ASSERT_FALSE(anna.empty());
  ExecOnFile(dbPath, "UPDATE besitzer SET telefon='0301' WHERE id=1;");
  WriteToolIni("hof2");
  SetCounter(0);
  ASSERT_EQ(Sync("--yes").exitCode, 0);

  WriteToolIni("hof1");
  PutChange("mob_kunde_x.txt", "h\r\n" + ChangedLine(anna, 12, {{6, "Am Hof 2"}}) + "\r\n");
  CliRun r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT telefon||'|'||strasse FROM besitzer WHERE id=1"),
            "0301|Am Hof 2");
}

}  // namespace
}  // namespace kelvanor::testing

namespace kelvanor::testing {
namespace {

// The way back: an import undone leaves the practice as it was before it,
// table by table, and its backup brings every record back exactly once.
class WayBack : public SyncLife {
 protected:
  std::string Content() {
    TDBase db(dbPath);
    return ContentFingerprint(db);
  }
  CliRun Cli(const std::vector<std::string>& args) { return RunCli(args, appData, tmp.Path()); }
  std::string OnlyBackup() {
    for (const auto& e : fs::directory_iterator(MobileFolder())) {
      if (Has(e.path().filename().string(), "_mob_from_server.txt")) return e.path().string();
    }
    return std::string();
  }

  void UndoAndImportAgain() {
    ASSERT_EQ(Sync("--yes").exitCode, 0);
    const std::string before = Content();
    PutFieldWork("A");
    CliRun r = Sync("--yes");
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectFieldWorkOnce("A");
    const std::string imported = Content();

    // The office changes a record: the undo would take that with it.
    ExecOnFile(dbPath, "UPDATE besitzer SET ort='Bern' WHERE id=1");
    r = Cli({"undo-import", "--yes"});
    EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
    EXPECT_TRUE(Has(r.err, "geändert")) << r.err;
    EXPECT_TRUE(Has(r.err, "praxis.db.Kelvanor-Wiederherstellung_hof1/")) << r.err;
    EXPECT_EQ(QueryOne(dbPath, "SELECT ort FROM besitzer WHERE id=1"), "Bern");
    ExecOnFile(dbPath, "UPDATE besitzer SET ort='Au' WHERE id=1");
    ASSERT_EQ(Content(), imported);

    r = Cli({"undo-import"});  // no terminal, no --yes
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_EQ(Content(), imported);
    {
      // Another workstation syncs the account.
      const std::unique_ptr<InstanceLock> syncing = InstanceLock::TryAcquire(
          dbPath + ".Kelvanor_hof1.lock", InstanceLock::Reach::kEveryMachine);
      ASSERT_NE(syncing, nullptr);
      r = Cli({"undo-import", "--yes"});
      EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
      EXPECT_TRUE(Has(r.err, "synchronisiert")) << r.err;
    }
    {
      // The host program writes: the undo waits a moment, then gives up.
      TDBase host(dbPath);
      ASSERT_TRUE(host.Execute("BEGIN IMMEDIATE"));
      r = Cli({"undo-import", "--yes"});
      EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
      EXPECT_TRUE(Has(r.err, "gesperrt")) << r.err;
      host.Execute("ROLLBACK");
    }
    EXPECT_EQ(Content(), imported);
    r = Cli({"undo-import", "--yes"});
    ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_TRUE(Has(r.out, "rückgängig gemacht: 1 neuer Kunde")) << r.out;
    EXPECT_EQ(Content(), before);
    EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
    r = Cli({"undo-import", "--yes"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(Has(r.err, "bereits rückgängig gemacht")) << r.err;

    const std::string backup = OnlyBackup();
    ASSERT_FALSE(backup.empty());
    for (int twice = 0; twice < 2; ++twice) {
      r = Cli({"import", "--backup", backup, "--yes"});
      ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
      ExpectFieldWorkOnce("A");
    }

    r = Cli({"history"});
    ASSERT_EQ(r.exitCode, 0) << r.err;
    const std::vector<std::string> kinds = {"Import aus Sicherung  fertig",
                                            "Import aus Sicherung  fertig",
                                            "Import rückgängig gemacht  fertig",
                                            "Synchronisation  fertig",
                                            "Erste Synchronisation  fertig"};
    std::size_t at = 0;
    for (const std::string& kind : kinds) {
      at = r.out.find(kind, at);
      ASSERT_NE(at, std::string::npos) << kind << "\n" << r.out;
      // Each run begins with its date line: "09.12.2026 14:05  ".
      const std::size_t line = r.out.rfind('\n', at) == std::string::npos ? 0 : r.out.rfind('\n', at) + 1;
      EXPECT_EQ(at - line, 18u) << r.out.substr(line, 40);
      EXPECT_EQ(r.out[line + 2], '.');
    }
  }
};

TEST_F(WayBack, UndoneAndImportedAgainInARollbackPractice) { UndoAndImportAgain(); }

TEST_F(WayBack, UndoneAndImportedAgainInAWalPractice) {
  ExecOnFile(dbPath, "PRAGMA journal_mode=WAL;");
  UndoAndImportAgain();
  EXPECT_EQ(QueryOne(dbPath, "PRAGMA journal_mode"), "wal");
}

// Whatever stands in the way of the restore point, the import does not
// start: nothing is written and the server keeps the farrier's lines.
// Backups that are no backups of this account are refused, named.
TEST_F(WayBack, WhatIsNotSoundIsRefusedAndChangesNothing) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  PutFieldWork("A");
  WriteFile(dbPath + ".Kelvanor-Wiederherstellung_hof1", "eine Datei");
  CliRun r = Sync("--yes");
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.out + r.err, "Wiederherstellungspunkt")) << r.out << r.err;
  EXPECT_EQ(QueryOne(dbPath, "SELECT COUNT(*) FROM besitzer"), "1");
  EXPECT_TRUE(ChangeFilesOnServer());
  r = Cli({"history", "--last", "1"});
  EXPECT_TRUE(Has(r.out, "  Synchronisation  abgebrochen\n  ")) << r.out;
  EXPECT_TRUE(Has(r.out, "Wiederherstellungspunkt")) << r.out;
  fs::remove(dbPath + ".Kelvanor-Wiederherstellung_hof1");
  // A damaged history is put aside; the sync goes on and says so.
  WriteFile(dbPath + ".Kelvanor-Verlauf_hof1.db", std::string(3000, 'x'));
  r = Sync("--yes");
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  EXPECT_TRUE(Has(r.out, "beginnt neu")) << r.out;
  ExpectFieldWorkOnce("A");
  const std::string imported = Content();

  const std::string backup = OnlyBackup();
  const std::string good = ReadFile(backup);
  auto refused = [&](const std::string& bytes, const std::string& why) {
    WriteFile(tmp.File("sicherung.txt"), bytes);
    const CliRun run = Cli({"import", "--backup", tmp.File("sicherung.txt"), "--yes"});
    EXPECT_EQ(run.exitCode, 1) << why << run.out << run.err;
    EXPECT_TRUE(Has(run.err, why)) << run.err;
    EXPECT_LT(run.peakMemoryKb, 200 * 1024) << why;
    EXPECT_EQ(Content(), imported) << why;
  };
  refused(good.substr(0, good.size() - 5), "unvollständig");
  std::string utf16 = "\xFF\xFE";
  for (char c : good) utf16 += std::string(1, c) + '\0';
  refused(utf16, "UTF-16");
  refused("Neue Daten, Import am 1.1.2026\r\nmob_kunde_x.txt\r\n" + std::string(50u << 20, '\n') + "\r\n",
          "Zeilen");
  refused("Kunden;Liste\r\n", "beginnt nicht mit");
  // The mobil folder is shared by the accounts of one Kelvanor.
  WriteFile(dbPath + ".Kelvanor-Verlauf_hof2.db", "");
  ExecOnFile(dbPath + ".Kelvanor-Verlauf_hof2.db",
             "CREATE TABLE run (backup TEXT); INSERT INTO run VALUES ('" + tmp.File("sicherung.txt") +
                 "');");
  refused(good, "Kontos hof2");

  // A restore point damaged or deleted by hand: refused, named, unchanged.
  std::string point;
  for (const auto& e : fs::directory_iterator(dbPath + ".Kelvanor-Wiederherstellung_hof1")) {
    point = e.path().string();
  }
  ASSERT_FALSE(point.empty());
  std::string damaged = ReadFile(point);
  for (std::size_t at = 100; at < damaged.size(); at += 512) damaged[at] = '\x5A';
  WriteFile(point, damaged);
  r = Cli({"undo-import", "--yes"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, point)) << r.err;
  EXPECT_EQ(Content(), imported);
  fs::remove(point);
  r = Cli({"undo-import", "--yes"});
  EXPECT_EQ(r.exitCode, 1) << r.out << r.err;
  EXPECT_TRUE(Has(r.err, "fehlt")) << r.err;
  EXPECT_EQ(Content(), imported);
}

// A kill -9 at any durability point of an undo leaves the practice as it was
// before the undo or as after it, sound, and its records can come back from
// the backup exactly once.
TEST_F(WayBack, AnUndoKilledAtEveryDurabilityPointLeavesBeforeOrAfter) {
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  const std::string before = Content();
  PutFieldWork("A");
  ASSERT_EQ(Sync("--yes").exitCode, 0);
  const std::string imported = Content();
  KeepPractice(false);
  auto restore = [&] { PutPracticeBack(); };
  auto undoCrashing = [&](const std::string& setting) {
    return WaitProgram(StartProgram(
        CliBinary(), {"undo-import", "--yes"}, appData, tmp.Path(), false,
        {std::string("LD_PRELOAD=") + KELVANOR_CRASH_AT_SYNC_LIBRARY, setting}));
  };
  const std::string counted = tmp.File("fsyncs.txt");
  CliRun r = undoCrashing("KELVANOR_SYNC_COUNT_FILE=" + counted);
  ASSERT_EQ(r.exitCode, 0) << r.out << r.err;
  ASSERT_EQ(Content(), before);
  const int points = std::stoi(ReadFile(counted));
  ASSERT_GT(points, 2);
  const std::string backup = OnlyBackup();
  int undone = 0, notYet = 0;
  for (int point = 1; point <= points; ++point) {
    SCOPED_TRACE("killed at fsync " + std::to_string(point) + " of " + std::to_string(points));
    restore();
    const CliRun killed = undoCrashing("KELVANOR_CRASH_AT_SYNC=" + std::to_string(point));
    EXPECT_EQ(killed.exitCode, -1) << killed.out << killed.err;
    // Opened for writing first, as the host program would: a journal the
    // kill left behind is rolled back.
    const std::string now = Content();
    EXPECT_TRUE(now == before || now == imported);
    ++(now == before ? undone : notYet);
    EXPECT_EQ(QueryOne(dbPath, "PRAGMA integrity_check"), "ok");
    // Undone or not, the undo can be finished, and the backup then brings
    // each record once.
    r = Cli({"undo-import", "--yes"});
    EXPECT_EQ(Content(), before) << r.out << r.err;
    r = Cli({"import", "--backup", backup, "--yes"});
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    ExpectFieldWorkOnce("A");
  }
  // A killed run stays in the history, as interrupted.
  r = Cli({"history"});
  EXPECT_TRUE(Has(r.out, "Import rückgängig gemacht  unterbrochen")) << r.out;
  // The kills fell on both sides of the undo's commit.
  EXPECT_GT(undone, 0);
  EXPECT_GT(notYet, 0);
  std::printf("undo: %d durability points, %d killed before its commit, %d after\n", points,
              notYet, undone);
}

}  // namespace
}  // namespace kelvanor::testing
