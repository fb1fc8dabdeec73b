// The test harness around the reference sync server: the tool's end-to-end
// tests rely on it starting, answering and being steerable from C++.
#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "support/sync_server.h"
#include "support/test_db.h"

namespace kelvanor::testing {
namespace {

TEST(SyncServerSupport, StartsServesAndStops) {
  pid_t pid = -1;
  {
    SyncServer server;
    pid = server.Pid();
    EXPECT_GT(server.HttpPort(), 0);
    EXPECT_GT(server.FtpPort(), 0);
    EXPECT_EQ(server.BaseUrl(), "http://127.0.0.1:" + std::to_string(server.HttpPort()));
    EXPECT_EQ(server.FtpUrl(), "ftp://127.0.0.1:" + std::to_string(server.FtpPort()));

    WriteFile(server.WwwFile("sync/version.txt"), "1.0.0.70");
    int status = 0;
    std::string page = server.Get("/sync", &status);
    EXPECT_EQ(status, 200);
    EXPECT_NE(page.find("/sync/mob.exe"), std::string::npos);
    EXPECT_EQ(server.Get("/sync/version.txt", &status), "1.0.0.70");
    EXPECT_EQ(status, 200);
  }
  // The destructor has reaped it.
  EXPECT_NE(::kill(pid, 0), 0);
}

TEST(SyncServerSupport, AccountFoldersAndScripts) {
  SyncServer server;
  EXPECT_EQ(server.AccountDir("anna"), server.Root() + "/accounts/anna");
  EXPECT_EQ(server.AccountDir(""), server.Root() + "/accounts/@empty");

  WriteFile(server.AccountDir("anna") + "/mob_kunde_x.txt", "N/1\r\n");
  int status = 0;
  EXPECT_EQ(server.Get("/mob/zip.php?kd=anna", &status), "OK zip dl_anna.zip 1\n");
  EXPECT_EQ(status, 200);
  std::string archive = ReadFile(server.TransferDir() + "/dl_anna.zip");
  EXPECT_EQ(archive.compare(0, 2, "PK"), 0);
  server.Get("/mob/zip.php?kd=a%2Fb", &status);
  EXPECT_EQ(status, 400);
}

TEST(SyncServerSupport, FailureInjection) {
  SyncServer server;
  WriteFile(server.WwwFile("sync/mob.exe"), std::string(100, 'x'));
  int status = 0;

  server.FailNext("/sync/mob.exe", 503);
  server.Get("/sync/mob.exe", &status);
  EXPECT_EQ(status, 503);
  EXPECT_EQ(server.Get("/sync/mob.exe", &status).size(), 100u);
  EXPECT_EQ(status, 200);

  server.SetFailure("/sync/mob.exe", 404);
  EXPECT_NE(server.Get("/sync/mob.exe", &status).find("not found"), std::string::npos);
  EXPECT_EQ(status, 404);
  server.ClearFailures();

  server.SetCut("/sync/mob.exe", 10);
  EXPECT_EQ(server.Get("/sync/mob.exe", &status), std::string(10, 'x'));
  server.ClearFailures();

  server.SetSlow("/sync/mob.exe", 0.2);
  server.SetNoLength("/sync/mob.exe");
  EXPECT_EQ(server.Get("/sync/mob.exe", &status).size(), 100u);
  EXPECT_NE(server.RequestLog().find("\"/sync/mob.exe\""), std::string::npos);

  EXPECT_THROW(server.SetFailure("/sync/mob.exe", 200), std::runtime_error);
}

TEST(SyncServerSupport, UnusableRootThrows) {
  TempDir dir;
  WriteFile(dir.File("plain-file"), "x");
  EXPECT_THROW(SyncServer(dir.File("plain-file")), std::runtime_error);
}

}  // namespace
}  // namespace kelvanor::testing
