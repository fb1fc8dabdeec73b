#include "app/version_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "net/dispatcher.h"
#include "net/http_test_server.h"
#include "platform/environment.h"
#include "support/cli_runner.h"
#include "support/test_db.h"
#include "platform/file_system.h"

namespace kelvanor {
namespace {

using ::testing::HasSubstr;
using testing::HttpTestServer;
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
            "Update auf neue Version  1.0.0.70  verf\xFC" "gbar. Jetzt laden?");
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
  std::string ProgramFolder() const { return program.Path() + "/"; }

  // What a check gave: its outcome and the version offered ("" for none).
  struct Checked {
    Outcome outcome;
    std::string offered;
  };
  Checked CheckAgainst(const std::string& web, const std::string& own = "1.0.0.68") {
    Checked checked;
    checked.outcome = CheckForUpdate(http, web, ProgramFolder(), own, checked.offered);
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

TEST_F(VersionCheckTest, TheUpdateIsDownloadedMadeExecutableAndStarted) {
  // The "update" leaves a mark, so we see that it ran on its own.
  const std::string marker = program.File("started.txt");
  WriteFile(www.File("sync/mob.exe"), "#!/bin/sh\necho started > '" + marker + "'\n");
  DownloadAndStartUpdate(http, Web(), ProgramFolder());

  struct stat st {};
  ASSERT_EQ(::stat(program.File("mob.exe").c_str(), &st), 0);
  EXPECT_NE(st.st_mode & S_IXUSR, 0u);
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (!FileExists(marker) && std::chrono::steady_clock::now() < give_up) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(FileExists(marker));
}

TEST_F(VersionCheckTest, AFailedUpdateDownloadStartsNothingAndRaisesNothing) {
  // The server has no mob.exe: its error page is saved and cannot start.
  EXPECT_NO_THROW(DownloadAndStartUpdate(http, Web(), ProgramFolder()));
  EXPECT_THAT(ReadFile(program.File("mob.exe")), HasSubstr("not found"));
  EXPECT_NO_THROW(DownloadAndStartUpdate(http, "http://127.0.0.1:1", ProgramFolder()));
}

// kelvanor-cli writes version.txt beside itself, so the cases run one after
// another in a single test.
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

  useWeb("http://127.0.0.1:1");
  run = testing::RunCli({"check-update"}, appData.Path(), scratch.Path());
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_THAT(run.err, HasSubstr("Die Versionsdatei konnte nicht vom Server geladen werden: "
                                 "http://127.0.0.1:1/sync/version.txt"));
}

}  // namespace
}  // namespace kelvanor
