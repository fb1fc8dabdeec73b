#include "server_checks/version_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "net/dispatcher.h"
#include "net/http_test_server.h"
#include "platform/environment.h"
#include "support/cli_runner.h"
#include "support/sync_server.h"
#include "support/test_db.h"
#include "platform/file_system.h"

namespace kelvanor {
namespace {

using ::testing::HasSubstr;
using testing::HttpTestServer;
using testing::SyncServer;
using testing::TestCertificates;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

TEST(IsNewerVersionTest, ComparesNumberByNumber) {
  EXPECT_TRUE(IsNewerVersion("1.0.0.70", "1.0.0.68"));
  EXPECT_FALSE(IsNewerVersion("1.0.0.68", "1.0.0.68"));
  // A downgrade is never offered, a three-digit build always.
  EXPECT_FALSE(IsNewerVersion("1.0.0.8", "1.0.0.72"));
  EXPECT_TRUE(IsNewerVersion("1.0.0.72", "1.0.0.8"));
  EXPECT_TRUE(IsNewerVersion("1.0.0.100", "1.0.0.99"));
  EXPECT_FALSE(IsNewerVersion("1.0.0.99", "1.0.0.100"));
  EXPECT_TRUE(IsNewerVersion("1.0.1", "1.0.0.99"));
  EXPECT_FALSE(IsNewerVersion("1.0.0.60", "1.0.0.68"));
  // Missing parts count 0; leading zeros do not matter.
  EXPECT_TRUE(IsNewerVersion("1.0.0.68.1", "1.0.0.68"));
  EXPECT_FALSE(IsNewerVersion("1.0", "1.0.0.0"));
  EXPECT_FALSE(IsNewerVersion("1.0.0.068", "1.0.0.68"));
  EXPECT_TRUE(IsNewerVersion("2", "1.9.9.9"));
  EXPECT_TRUE(IsNewerVersion("1.0.0.123456789012345678901", "1.0.0.123456789012345678900"));
}

TEST(IsNewerVersionTest, AnythingButADottedVersionOffersNothing) {
  for (const char* garbage : {"", "abc", "1.0.0.x", "9.9 beta", "1..2", "1.0.", ".1", "-2.0",
                              "+2", "2,0", "2.0\r\n", "1.0.\xE4", "<html>9</html>"}) {
    EXPECT_FALSE(IsNewerVersion(garbage, "1.0.0.68")) << garbage;
  }
  // An own version that is no dotted version cannot be compared either.
  EXPECT_FALSE(IsNewerVersion("9.0", "unbekannt"));
}

TEST(UpdateOfferTextTest, FramesTheVersionWithTwoBlanks) {
  EXPECT_EQ(UpdateOfferText("1.0.0.70"),
            "Update auf die neue Version 1.0.0.70 verf\xFC" "gbar. Jetzt laden?");
}

class VersionCheckTest : public ::testing::Test {
 protected:
  VersionCheckTest() : server(Options(www.Path())) {}

  static HttpTestServer::Options Options(const std::string& root) {
    HttpTestServer::Options options;
    options.root = root;
    return options;
  }

  std::string Web() const { return "http://127.0.0.1:" + std::to_string(server.Port()); }
  std::string UpdateFolder() const { return program.Path() + "/"; }

  // What a check gave: its outcome and the version offered ("" for none).
  struct Checked {
    Outcome outcome;
    std::string offered;
  };
  Checked CheckAgainst(const std::string& web, const std::string& own = "1.0.0.68") {
    Checked checked;
    checked.outcome = CheckForUpdate(http, web, UpdateFolder(), own, checked.offered);
    return checked;
  }
  Checked Check(const std::string& serverText, const std::string& own = "1.0.0.68") {
    WriteFile(www.File("sync/version.txt"), serverText);
    return CheckAgainst(Web(), own);
  }

  TempDir www;
  TempDir program;
  HttpTestServer server;
  QueueDispatcher loop;
  THTTPGet http{loop};
};

TEST_F(VersionCheckTest, ANewerVersionIsOffered) {
  const Checked result = Check("1.0.0.70");
    EXPECT_EQ(result.offered, "1.0.0.70");
  EXPECT_TRUE(http.WaitThread);
  // The local copy stays.
  EXPECT_EQ(ReadFile(program.File("version.txt")), "1.0.0.70");
}

TEST_F(VersionCheckTest, TheSameOrASmallerVersionOrGarbageIsNotOffered) {
  EXPECT_EQ(Check("1.0.0.68").offered, "");
  EXPECT_EQ(Check("1.0.0.8").offered, "");
  EXPECT_EQ(Check("1.0.0.67").offered, "");
  EXPECT_EQ(Check("Wartungsarbeiten").offered, "");
  EXPECT_NE(Check("1.0.0.100").offered, "");
}

TEST_F(VersionCheckTest, LineBreaksBlanksAndControlCharactersAreTrimmed) {
  Checked result = Check("  1.0.1 \r\n\r\n");
    EXPECT_EQ(result.offered, "1.0.1");

  result = Check("\t1.0.0.70\n");
    EXPECT_EQ(result.offered, "1.0.0.70");

  // Trimmed to the own version: nothing to offer.
  EXPECT_EQ(Check("1.0.0.68\r\n").offered, "");
  EXPECT_EQ(Check(" \r\n\t\r\n").offered, "");
  EXPECT_EQ(Check("").offered, "");
}

TEST_F(VersionCheckTest, AnErrorPageOffersNothingAndIsNoError) {
  // No version.txt on the server: its 404 page says "not found".
  Checked result = CheckAgainst(Web());
  EXPECT_TRUE(result.outcome.IsOk());
  EXPECT_EQ(result.offered, "");
  EXPECT_THAT(ReadFile(program.File("version.txt")), HasSubstr("not found"));

  // The words count wherever they stand, also in a page served with 200.
  EXPECT_EQ(Check("9.9 - the file doesn't exist").offered, "");
  EXPECT_EQ(Check("9.9\r\nversion does not exist").offered, "");
  EXPECT_NE(Check("9.9").offered, "");
}

TEST_F(VersionCheckTest, AnUnreachableServerIsAClearErrorAndNoStaleOffer) {
  // A version file left from an earlier check must not be read again.
  WriteFile(program.File("version.txt"), "9.9.9.9");
  const std::string web = "http://127.0.0.1:1";
  const Checked result = CheckAgainst(web);
  EXPECT_FALSE(result.outcome.IsOk());
  EXPECT_EQ(result.outcome.Message(),
            "Die Versionsdatei konnte nicht vom Server geladen werden: " + web +
                "/sync/version.txt");
  EXPECT_FALSE(FileExists(program.File("version.txt")));
}

const char kIncomplete[] =
    "Update nicht gestartet: mob.exe konnte nicht vollst\xE4ndig vom Server geladen werden.";

// The update against the reference server, over http and over https with
// certificates made for the test. The stand-in update leaves a mark, so we
// see whether it ran.
class UpdateStartTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!testing::MakeTestCertificates(certs.Path(), "trusted", trusted) ||
        !testing::MakeTestCertificates(certs.Path(), "other", other)) {
      GTEST_SKIP() << "openssl is not available";
    }
    server = std::make_unique<SyncServer>(SyncServer::Https{trusted.serverCert, trusted.serverKey});
    WriteFile(server->WwwFile("sync/mob.exe"), "#!/bin/sh\necho started > '" + Marker() + "'\n");
    http.CACertFile = trusted.caCert;
  }

  std::string Marker() const { return program.File("started.txt"); }
  std::string UpdateFolder() const { return program.Path() + "/"; }
  // "" when the update was started, else why not.
  std::string Update(const std::string& web, const std::string& publisher = "") {
    const Outcome started = DownloadAndStartUpdate(http, web, UpdateFolder(), publisher);
    if (!started.IsOk()) {
      EXPECT_EQ(started.Step(), "Update");
    }
    return started.Message();
  }
  // Waits for the stand-in's mark as long as a started update could need.
  bool UpdateRan(int seconds) const {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!FileExists(Marker()) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return FileExists(Marker());
  }

  TempDir certs;
  TempDir program;
  TestCertificates trusted, other;
  std::unique_ptr<SyncServer> server;
  QueueDispatcher loop;
  THTTPGet http{loop};
};

TEST_F(UpdateStartTest, OverHttpsWithATrustedCertificateTheUpdateRuns) {
  EXPECT_EQ(Update(server->HttpsUrl()), "");
  struct stat st {};
  ASSERT_EQ(::stat(program.File("mob.exe").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);
  EXPECT_TRUE(UpdateRan(20));
}

TEST_F(UpdateStartTest, OverPlainHttpNothingRunsAndTheFileIsGone) {
  // A copy from an earlier attempt goes as well.
  WriteFile(program.File("mob.exe"), "old");
  // A publisher name does not help: on Linux no file carries a signature.
  EXPECT_EQ(Update(server->BaseUrl(), "Hufbeschlag Testverlag GmbH"),
            "Update nicht gestartet: mob.exe kam nicht \xFC" "ber eine gepr\xFC"
            "fte HTTPS-Verbindung und ist nicht signiert.");
  EXPECT_FALSE(FileExists(program.File("mob.exe")));
  EXPECT_FALSE(UpdateRan(1));
  EXPECT_THAT(server->RequestLog(), HasSubstr("/sync/mob.exe"));
}

TEST_F(UpdateStartTest, AnUntrustedCertificateStartsNothing) {
  SyncServer impostor(SyncServer::Https{other.serverCert, other.serverKey});
  WriteFile(impostor.WwwFile("sync/mob.exe"), "#!/bin/sh\necho started > '" + Marker() + "'\n");
  EXPECT_EQ(Update(impostor.HttpsUrl()), kIncomplete);
  EXPECT_FALSE(FileExists(program.File("mob.exe")));
  EXPECT_FALSE(UpdateRan(1));
}

TEST_F(UpdateStartTest, AFailedDownloadStartsNothingAndRaisesNothing) {
  server->FailNext("/sync/mob.exe", 404);
  EXPECT_EQ(Update(server->HttpsUrl()),
            "Update nicht gestartet: der Server hat mob.exe nicht geliefert (HTTP 404).");
  EXPECT_FALSE(FileExists(program.File("mob.exe")));

  server->SetCut("/sync/mob.exe", 5);
  EXPECT_EQ(Update(server->HttpsUrl()), kIncomplete);
  EXPECT_FALSE(FileExists(program.File("mob.exe")));

  std::string why;
  EXPECT_NO_THROW(why = Update("https://127.0.0.1:1"));
  EXPECT_THAT(why, HasSubstr("Update nicht gestartet"));
  EXPECT_FALSE(UpdateRan(1));
}

TEST_F(UpdateStartTest, WhileADownloadRunsASecondStartTouchesNothing) {
  server->SetSlow("/sync/mob.exe", 1.0);
  http.WaitThread = false;
  http.DownloadFile(server->HttpsUrl() + "/sync/mob.exe", program.File("mob.exe"));
  ASSERT_TRUE(http.Running());
  EXPECT_EQ(Update(server->HttpsUrl()),
            "Update nicht gestartet: es wird bereits ein Update geladen.");
  EXPECT_TRUE(http.Running());
  while (http.Running()) {
    loop.ProcessPending();
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  // The first download was left to finish; nothing was started.
  EXPECT_TRUE(http.Result());
  EXPECT_TRUE(FileExists(program.File("mob.exe")));
  EXPECT_FALSE(UpdateRan(1));
}

// kelvanor-cli writes version.txt into the application data's update
// folder, so the cases run one after another in a single test.
TEST(CheckUpdateCliTest, PrintsANewerVersionOnlyAndFailsWhenTheFileCannotBeFetched) {
  TempDir www;
  TempDir appData;
  TempDir scratch;
  HttpTestServer::Options options;
  options.root = www.Path();
  HttpTestServer server(options);
  auto useWeb = [&](const std::string& web) {
    WriteFile(appData.File("dasTessavor/Kelvanor.ini"),
              "[general]\r\nname=anna\r\n[sync_server]\r\nweb=" + web + "\r\n");
  };
  useWeb("http://127.0.0.1:" + std::to_string(server.Port()));

  WriteFile(www.File("sync/version.txt"), "99.0\r\n");
  testing::CliRun run = testing::RunCli({"check-update"}, appData.Path(), scratch.Path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "99.0\n");

  WriteFile(www.File("sync/version.txt"), ExeVersionString());
  run = testing::RunCli({"check-update"}, appData.Path(), scratch.Path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err, "");

  // A version followed by 60 MB of carriage returns is no version file: the
  // download stops soon after the limit, nothing is offered, and the file
  // is gone, with little memory used.
  WriteFile(www.File("sync/version.txt"), "99.0" + std::string(60u * 1000 * 1000, '\r'));
  run = testing::RunCli({"check-update"}, appData.Path(), scratch.Path());
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.out, "");
  EXPECT_LT(run.peakMemoryKb, 100 * 1024);
  EXPECT_FALSE(std::filesystem::exists(appData.File("dasTessavor/Kelvanor-Update/version.txt")));

  useWeb("http://127.0.0.1:1");
  run = testing::RunCli({"check-update"}, appData.Path(), scratch.Path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("Die Versionsdatei konnte nicht vom Server geladen werden: "
                                 "http://127.0.0.1:1/sync/version.txt"));
}

}  // namespace
}  // namespace kelvanor
