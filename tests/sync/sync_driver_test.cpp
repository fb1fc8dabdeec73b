// The sync driver against the reference server, seen through a recording view:
// what the user is shown, and what a second click in the middle of a run does.
#include "sync/sync_driver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <memory>

#include "platform/ini_file.h"
#include "support/sync_server.h"
#include "support/test_db.h"
#include "util/daynumber.h"
#include "util/w1252.h"

namespace kelvanor {
namespace {

using testing::CreateHostDatabase;
using testing::SyncServer;
using testing::TempDir;
using testing::WriteFile;

class RecordingView : public SyncView {
 public:
  std::vector<std::string> memo, errors, infos, questions, importQuestions;
  bool answer = true;
  bool busy = false;
  std::function<void()> onPump;

  void ProcessPendingMessages() override {
    if (onPump) onPump();
  }
  void Log(const std::string& line) override { memo.push_back(line); }
  void OfferImport(const std::string& q) override { importQuestions.push_back(q); }
  bool Ask(const std::string& q) override {
    questions.push_back(q);
    return answer;
  }
  void ReportError(const std::string& m) override { errors.push_back(m); }
  void ReportInfo(const std::string& m) override { infos.push_back(m); }
  void Busy(bool b) override { busy = b; }
};

class SyncDriverTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folders.AppDataFolder = tmp.Path() + "/dasTessavor/";
    folders.ProgramFolder = tmp.Path() + "/prog/";
    folders.MobileFolder = folders.AppDataFolder + "mobil";
    std::filesystem::create_directories(folders.ProgramFolder);
    std::filesystem::create_directories(folders.AppDataFolder);
    CreateHostDatabase(tmp.File("praxis.db"));
    db = std::make_unique<TDBase>(tmp.File("praxis.db"));
    const std::string ini = folders.ToolIni();
    IniWriteString(ini, "general", "name", "hof");
    IniWriteString(ini, "sync_server", "base", server.BaseUrl());
    IniWriteString(ini, "sync_server", "web", server.BaseUrl());
    IniWriteString(ini, "sync_server", "ftp", server.FtpUrl());
    ReadSettings(folders, settings);
    cwd = std::filesystem::current_path();
  }
  void TearDown() override { std::filesystem::current_path(cwd); }

  long Counter() { return IniReadInteger(folders.ToolIni(), "general", "num_syncs", -1); }

  TempDir tmp;
  SyncServer server;
  Folders folders;
  Settings settings;
  std::unique_ptr<TDBase> db;
  RecordingView view;
  std::filesystem::path cwd;
};

TEST_F(SyncDriverTest, ASecondClickDuringARunStartsNothing) {
  SyncDriver driver(view, folders, settings, db.get());
  int clicksDuringRun = 0;
  view.onPump = [&] {
    if (clicksDuringRun++ < 3) driver.StartSync();  // the user clicks again while it runs
  };
  driver.StartSync();
  EXPECT_GT(clicksDuringRun, 0);
  EXPECT_TRUE(view.errors.empty()) << view.errors.front();
  EXPECT_EQ(std::count(view.memo.begin(), view.memo.end(), "fertig!"), 1);
  EXPECT_EQ(Counter(), 1);
  EXPECT_FALSE(view.busy);
  EXPECT_EQ(driver.GetState(), SyncDriver::State::kIdle);
}

TEST_F(SyncDriverTest, TheCounterWrapsAtSixteenBitsAndTheNextSyncIsAFirstSync) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 65535);
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();  // a later sync without changes, answered "yes"
  ASSERT_EQ(view.questions.size(), 1u);
  EXPECT_EQ(Counter(), 0);
  driver.StartSync();
  EXPECT_EQ(view.memo.end()[-1], "fertig!");
  EXPECT_NE(std::find(view.memo.begin(), view.memo.end(),
                      "1) Datens\xE4tze aus dasTessavor exportieren."),
            view.memo.end());
  EXPECT_EQ(Counter(), 1);
}

TEST_F(SyncDriverTest, DecliningTheUploadKeepsTheCounterAndSavesTheTree) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 3);
  WriteFile(server.AccountDir("hof") + "/mob_kunde_x.txt", "");  // a file without lines
  view.answer = false;
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  EXPECT_EQ(Counter(), 3);
  EXPECT_TRUE(view.importQuestions.empty());
  EXPECT_FALSE(std::filesystem::exists(folders.MobileFolder + "/tmp_dl"));
  int backups = 0;
  for (const auto& e : std::filesystem::directory_iterator(folders.MobileFolder)) {
    if (e.path().string().find("_mob_from_server.txt") != std::string::npos) ++backups;
  }
  EXPECT_EQ(backups, 1);
}

TEST_F(SyncDriverTest, AnImportThatFailsLeavesEverythingForTheNextTry) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 2);
  // A damaged practice ends the import.
  testing::ExecOnFile(tmp.File("praxis.db"), "DROP TABLE settings");
  WriteFile(server.AccountDir("hof") + "/mob_kunde_x.txt",
            "h\r\nN/1;;Gut;;;;;;;;1;\r\nN/2;;Auch gut;;;;;;;;2;\r\n");
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  ASSERT_EQ(driver.GetState(), SyncDriver::State::kWaitingForAnswer);
  driver.AnswerImport(true);
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_NE(view.errors[0].find("nichts \xFC" "bernommen"), std::string::npos) << view.errors[0];
  EXPECT_EQ(testing::QueryOne(tmp.File("praxis.db"), "SELECT COUNT(*) FROM besitzer"), "0");
  EXPECT_TRUE(std::filesystem::exists(server.AccountDir("hof") + "/mob_kunde_x.txt"));
  EXPECT_EQ(Counter(), 2);
  EXPECT_EQ(driver.GetState(), SyncDriver::State::kIdle);
}

// After a failed upload the mobile works on old data until an upload
// succeeds: the question without changes says what "Nein" leaves behind.
TEST_F(SyncDriverTest, AnUploadStillOwedIsNamedInTheQuestionWithoutChanges) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 1);
  const std::string plain = "Keine \xC4nderungen auf dem Server.\r\r\xC4nderungen vom PC/Laptop "
                            "zum Server \xFC" "bertragen?";
  const std::string owed = plain + "\r\rDie letzte \xDC" "bertragung zum Server ist "
                           "fehlgeschlagen: Bei \"Nein\" arbeitet das Mobilger\xE4t weiter mit "
                           "dem alten Stand.";
  SyncDriver driver(view, folders, settings, db.get());
  server.SetFailure("/mob/unzip.php", 500);
  driver.StartSync();
  ASSERT_EQ(view.errors.size(), 1u);
  server.ClearFailures();

  view.answer = false;
  driver.StartSync();
  view.answer = true;
  driver.StartSync();
  driver.StartSync();
  EXPECT_EQ(view.questions, (std::vector<std::string>{plain, owed, owed, plain}));
  EXPECT_EQ(std::count(view.memo.begin(), view.memo.end(),
                       "Nicht \xFC" "bertragen: Das Mobilger\xE4t arbeitet weiter mit dem alten "
                       "Stand."),
            1);
  EXPECT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(Counter(), 3);
}

// A link in the server's archive, named like the dated copy of the archive:
// the run stops before the question, with the entry named, and nothing of
// the server's change files is touched.
TEST_F(SyncDriverTest, ALinkInTheArchiveStopsTheRunBeforeTheQuestion) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 1);
  WriteFile(tmp.File("draussen/authorized_keys"), "key");
  WriteFile(server.AccountDir("hof") + "/mob_kunde_x.txt", "h\r\nN/1;;Gut;;;;;;;;1;\r\n");
  const std::string copy = "dl_hof_" + ShortDateText(NowCivil()) + ".zip";
  server.ServeArchive("hof", {{"mob_kunde_x.txt", testing::ArchiveEntry::Kind::kFile, "h\r\n"},
                              {copy, testing::ArchiveEntry::Kind::kLink,
                               tmp.File("draussen/authorized_keys")}});
  server.RequestLog(true);
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_NE(view.errors[0].find("\"" + copy + "\" als Verkn\xFCpfung"), std::string::npos)
      << view.errors[0];
  EXPECT_TRUE(view.importQuestions.empty());
  EXPECT_TRUE(view.questions.empty());
  EXPECT_EQ(driver.GetState(), SyncDriver::State::kIdle);
  EXPECT_EQ(testing::ReadFile(tmp.File("draussen/authorized_keys")), "key");
  EXPECT_TRUE(std::filesystem::exists(server.AccountDir("hof") + "/mob_kunde_x.txt"));
  EXPECT_EQ(server.RequestLog().find("delmob.php"), std::string::npos);
  EXPECT_EQ(Counter(), 1);
}

// The upload zips the data files from local_dir: the export writes them
// there, while the backups of received data stay in the mobil folder.
TEST_F(SyncDriverTest, AnotherLocalDirGetsTheExportAndTheMobilFolderTheBackups) {
  settings.local_dir = tmp.Path() + "/anderswo/";
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  ASSERT_TRUE(view.errors.empty()) << view.errors.front();
  EXPECT_TRUE(std::filesystem::exists(settings.local_dir + "mob_kunde.txt"));
  EXPECT_FALSE(std::filesystem::exists(folders.MobileFolder + "/mob_kunde.txt"));
  EXPECT_TRUE(std::filesystem::exists(server.AccountDir("hof") + "/mob_kunde.txt"));

  WriteFile(server.AccountDir("hof") + "/mob_kunde_x.txt", "h\r\nN/1;;Gut;;;;;;;;1;\r\n");
  driver.StartSync();
  ASSERT_EQ(driver.GetState(), SyncDriver::State::kWaitingForAnswer);
  driver.AnswerImport(true);
  ASSERT_TRUE(view.errors.empty()) << view.errors.front();
  EXPECT_EQ(testing::QueryOne(tmp.File("praxis.db"), "SELECT COUNT(*) FROM besitzer"), "1");
  int backups = 0;
  for (const auto& e : std::filesystem::directory_iterator(folders.MobileFolder)) {
    if (e.path().string().find("_mob_from_server.txt") != std::string::npos) ++backups;
  }
  EXPECT_EQ(backups, 1);
  EXPECT_EQ(Counter(), 2);
}

// The mobile writes while the question is open: what the user was not shown
// stays on the server (no delete request), the user is told, the export and
// upload run as usual, and the next sync brings the new lines alone.
TEST_F(SyncDriverTest, LinesWrittenWhileTheQuestionIsOpenStayForTheNextSync) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 2);
  const std::string customers = server.AccountDir("hof") + "/mob_kunde_x.txt";
  WriteFile(customers, "h\r\nN/1;;Erster;;;;;;;;1;\r\n");
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  ASSERT_EQ(driver.GetState(), SyncDriver::State::kWaitingForAnswer);
  WriteFile(customers, "h\r\nN/1;;Erster;;;;;;;;1;\r\nN/2;;Zweiter;;;;;;;;1;\r\n");
  driver.AnswerImport(true);
  EXPECT_TRUE(view.errors.empty()) << view.errors.front();
  ASSERT_EQ(view.infos.size(), 1u);
  EXPECT_NE(view.infos[0].find("neue Mobildaten"), std::string::npos) << view.infos[0];
  EXPECT_TRUE(std::filesystem::exists(customers));
  EXPECT_EQ(Counter(), 3);
  auto count = [&](const std::string& name) {
    return testing::QueryOne(tmp.File("praxis.db"),
                             "SELECT COUNT(*) FROM besitzer WHERE name='" + name + "'");
  };
  EXPECT_EQ(count("Erster"), "1");
  EXPECT_EQ(count("Zweiter"), "0");

  driver.StartSync();
  ASSERT_EQ(driver.GetState(), SyncDriver::State::kWaitingForAnswer);
  driver.AnswerImport(true);
  EXPECT_EQ(view.infos.size(), 1u);
  EXPECT_FALSE(std::filesystem::exists(customers));
  EXPECT_EQ(Counter(), 4);
  EXPECT_EQ(count("Erster"), "1");
  EXPECT_EQ(count("Zweiter"), "1");
  EXPECT_EQ(testing::QueryOne(tmp.File("praxis.db"), "PRAGMA integrity_check"), "ok");
}

TEST_F(SyncDriverTest, WithoutDatabaseNothingIsUploaded) {
  SyncDriver driver(view, folders, settings, nullptr);
  driver.StartSync();
  ASSERT_EQ(view.errors.size(), 1u);
  EXPECT_EQ(Counter(), -1);
  EXPECT_FALSE(std::filesystem::exists(server.FtpDir() + "/up_hof.zip"));
}

// The window keeps its database between runs; the office puts the file back
// from a copy meanwhile (renamed over it, as a restore does): the next run
// writes into the file that is there now, and says the earlier import is gone.
TEST_F(SyncDriverTest, ADatabasePutBackWhileTheWindowIsOpenIsTheOneWritten) {
  IniWriteInteger(folders.ToolIni(), "general", "num_syncs", 2);
  std::filesystem::copy_file(tmp.File("praxis.db"), tmp.File("kopie.db"));
  WriteFile(server.AccountDir("hof") + "/mob_kunde_x.txt", "h\r\nN/1;;Gut;;;;;;;;1;\r\n");
  server.SetFailure("/mob/delmob.php", 500);
  SyncDriver driver(view, folders, settings, db.get());
  driver.StartSync();
  driver.AnswerImport(true);
  ASSERT_EQ(testing::QueryOne(tmp.File("praxis.db"), "SELECT COUNT(*) FROM besitzer"), "1");
  server.ClearFailures();
  std::filesystem::rename(tmp.File("kopie.db"), tmp.File("praxis.db"));
  view.memo.clear();
  view.errors.clear();
  driver.StartSync();
  ASSERT_EQ(driver.GetState(), SyncDriver::State::kWaitingForAnswer);
  driver.AnswerImport(true);
  EXPECT_TRUE(view.errors.empty()) << view.errors.front();
  EXPECT_EQ(testing::QueryOne(tmp.File("praxis.db"), "SELECT COUNT(*) FROM besitzer"), "1");
  EXPECT_EQ(testing::QueryOne(tmp.File("praxis.db"), "PRAGMA integrity_check"), "ok");
  bool told = false;
  for (const std::string& line : view.memo) told = told || line.find(W1252("zurückgesetzt")) != std::string::npos;
  EXPECT_TRUE(told);
}

}  // namespace
}  // namespace kelvanor
