// kelvanor-cli export on a generated demo practice: the built programs run as
// separate processes, with their own application-data folder.
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "platform/environment.h"
#include "support/cli_runner.h"
#include "support/test_db.h"

namespace kelvanor {
namespace {

namespace fs = std::filesystem;
using testing::ReadFile;
using testing::TempDir;

using Finished = testing::CliRun;

class ExportCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const std::string& program : {Cli(), Generator()}) {
      if (::access(program.c_str(), X_OK) != 0) FAIL() << "not built: " << program;
    }
    ASSERT_EQ(Start(Generator(), {"--customers", "40", "--seed", "1", demo_}).exitCode, 0);
  }

  static std::string Cli() { return testing::CliBinary(); }
  static std::string Generator() { return testing::BuiltProgram("tools/gen_practice"); }

  Finished Start(const std::string& program, const std::vector<std::string>& args) {
    return testing::RunProgram(program, args, appData_, dir_.Path());
  }

  TempDir dir_;
  std::string appData_ = dir_.File("appdata");
  std::string demo_ = dir_.File("demo.db");
};

const char* const kSteps =
    "Kunden\nKunden+Pferde\nPferde\nArtikel\nLeistungen\nLst.gruppen\nTermine\nmobv2.ini\n"
    "fertig!\n";

TEST_F(ExportCliTest, ExportsTheDemoPracticeIntoTheGivenFolder) {
  const std::string out = dir_.File("out");
  const Finished f = Start(Cli(), {"--db", demo_, "export", out});
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(f.err, kSteps);

  size_t files = 0;
  for (const auto& e : fs::directory_iterator(out)) {
    ++files;
    EXPECT_GT(fs::file_size(e.path()), 0u) << e.path();
  }
  EXPECT_EQ(files, 9u);
  const long long customers = testing::QueryCount(
      demo_, "SELECT id FROM besitzer WHERE id <> 0 AND papierkorb = 0 AND deaktiv = 0");
  const std::string lines = ReadFile(out + "/mob_kunde.txt");
  long long crlf = 0;
  for (size_t p = lines.find("\r\n"); p != std::string::npos; p = lines.find("\r\n", p + 2)) ++crlf;
  EXPECT_EQ(crlf, customers);
  // The demo's horses name only intervals its list holds: a mobile that
  // echoes one back must not have its line refused.
  EXPECT_EQ(testing::QueryCount(demo_, "SELECT id FROM pferd WHERE id <> 0 AND beschlagsrhythmus "
                                       "NOT IN (SELECT nid FROM zbeschlagsrhythmus)"),
            0);
  EXPECT_NE(ReadFile(out + "/mobv2.ini").find("ZorFtp-Version=\"" + ExeVersionString() + "\""),
            std::string::npos);
}

TEST_F(ExportCliTest, DefaultFolderIsMobileFolderUnderTheApplicationData) {
  // The application-data folder is made when missing: it holds the lock
  // that keeps a second Kelvanor off it.
  ASSERT_FALSE(fs::exists(appData_ + "/dasTessavor"));
  Finished f = Start(Cli(), {"--db", demo_, "export"});
  ASSERT_EQ(f.exitCode, 0) << f.err;
  EXPECT_EQ(f.err, kSteps);
  EXPECT_TRUE(fs::exists(appData_ + "/dasTessavor/mobil/mob_termin.txt"));
}

}  // namespace
}  // namespace kelvanor
