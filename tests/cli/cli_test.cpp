// Runs the built kelvanor-cli as a separate process, with its own
// application-data folder and no terminal on stdin.
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/cli_runner.h"
#include "support/test_db.h"

namespace kelvanor {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using RunResult = testing::CliRun;

class CliTest : public ::testing::Test {
 protected:
  TempDir dir_;

  void SetUp() override {
    if (::access(Binary().c_str(), X_OK) != 0) {
      FAIL() << "kelvanor-cli is not built: " << Binary();
    }
  }

  static std::string Binary() { return std::string(KELVANOR_BINARY_DIR) + "/kelvanor-cli"; }

  RunResult Run(const std::vector<std::string>& args) {
    return testing::RunCli(args, dir_.Path() + "/appdata", dir_.Path());
  }

  void ExpectUsageError(const std::vector<std::string>& args, const std::string& text) {
    std::string shown;
    for (const std::string& a : args) shown += a + " ";
    const RunResult r = Run(args);
    EXPECT_EQ(r.exitCode, 2) << shown << r.err;
    EXPECT_EQ(r.out, "") << shown;
    EXPECT_NE(r.err.find(text), std::string::npos) << shown << r.err;
    EXPECT_NE(r.err.find("Aufruf:"), std::string::npos) << shown << r.err;
  }
};

TEST_F(CliTest, VersionPrintsTheProgramVersion) {
  const RunResult r = Run({"version"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.err, "");
  EXPECT_TRUE(std::regex_match(r.out, std::regex("1\\.0\\.0\\.\\d+\n"))) << r.out;
  EXPECT_EQ(r.out, ExeVersionString() + "\n");
}

TEST_F(CliTest, HelpShowsTheSynopsis) {
  const RunResult r = Run({"--help"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_NE(r.out.find("kelvanor-cli [--db DATEI] sync [--yes | --no]"), std::string::npos);
}

TEST_F(CliTest, UsageErrorsExitWithTwoAndAGermanMessage) {
  ExpectUsageError({}, "kein Befehl");
  ExpectUsageError({"frobnicate"}, "Unbekannter Befehl: frobnicate");
  ExpectUsageError({"version", "x"}, "Zu viele Argumente");
  ExpectUsageError({"check-update", "--yes"}, "Unbekannte Option");
  ExpectUsageError({"export", "a", "b"}, "Zu viele Argumente");
  ExpectUsageError({"export", "--yes"}, "Unbekannte Option");
  ExpectUsageError({"import", "--no"}, "Unbekannte Option");
  ExpectUsageError({"import", "a", "--yes", "b"}, "Zu viele Argumente");
  ExpectUsageError({"sync", "dir"}, "Zu viele Argumente");
  ExpectUsageError({"sync", "--yes", "--no"}, "schlie\xC3\x9F" "en sich aus");
  ExpectUsageError({"--db"}, "--db");
  ExpectUsageError({"--db", "x.db"}, "kein Befehl");
  ExpectUsageError({"--db", "a.db", "--db", "b.db", "export"}, "mehrfach");
  ExpectUsageError({"export", "--db", "x.db"}, "vor dem Befehl");
  ExpectUsageError({"--verbose", "version"}, "Unbekannte Option: --verbose");
}

TEST_F(CliTest, ArgumentsAndMessagesStayUtf8) {
  ExpectUsageError({"\xC3\xBC" "bertragen"}, "Unbekannter Befehl: \xC3\xBC" "bertragen");
}

TEST_F(CliTest, DatabaseThatCannotBeOpenedEndsWithOneAndNamesTheFile) {
  const std::string missing = dir_.File("fehlt.db");
  const RunResult r = Run({"--db", missing, "export", dir_.File("out")});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("Datenbank"), std::string::npos) << r.err;
}

TEST_F(CliTest, NoDatabaseConfiguredPointsToDb) {
  WriteFile(dir_.Path() + "/appdata/dasTessavor/tessavor.ini", "[Allgemein]\ndb_pfad=/srv\n");
  const RunResult r = Run({"export"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("--db"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kelvanor
