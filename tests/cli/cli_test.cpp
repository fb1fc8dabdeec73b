// Runs the built kelvanor-cli as a separate process, with its own
// application-data folder and no terminal on stdin.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/test_db.h"

namespace kelvanor {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

struct RunResult {
  int exitCode = -1;
  std::string out;
  std::string err;
};

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
    const std::string outPath = dir_.File("stdout");
    const std::string errPath = dir_.File("stderr");
    const std::string appData = "APPDATA=" + dir_.Path() + "/appdata";
    const pid_t pid = ::fork();
    if (pid == 0) {
      const int in = ::open("/dev/null", O_RDONLY);
      const int out = ::open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      ::dup2(in, 0);
      ::dup2(out, 1);
      ::dup2(err, 2);
      std::vector<char*> argv;
      const std::string binary = Binary();
      argv.push_back(const_cast<char*>(binary.c_str()));
      for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
      argv.push_back(nullptr);
      char* envp[] = {const_cast<char*>(appData.c_str()), const_cast<char*>("LANG=C.UTF-8"),
                      nullptr};
      ::execve(binary.c_str(), argv.data(), envp);
      ::_exit(127);
    }
    RunResult result;
    int status = 0;
    if (pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status)) {
      result.exitCode = WEXITSTATUS(status);
    }
    result.out = ReadFile(outPath);
    result.err = ReadFile(errPath);
    return result;
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
