// kelvanor-cli import, run as the real executable on a folder of change files.
#include <sys/wait.h>

#include <cstdlib>
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
  EXPECT_NE(run.out.find("\n  mob_kunde_x.txt\n    kopf\n    N/1;;Müller;;;;;;;;0;\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("Folgende Mobildaten importieren?\n\n"
                         "mob_kunde_x.txt (2 Sätze),mob_pferd_x.txt (1 Sätze)\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.rfind("Neue Daten, Import am ", 0), 0u);
}

TEST_F(ImportCli, WithoutYesAndWithoutTerminalImportsNothing) {
  Change("mob_kunde_x.txt", "kopf\r\nN/1;;Meier;;;;;;;;0;\r\n");
  const CliRun run = Run("import '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_EQ(Rows("SELECT count(*) FROM besitzer"), "0");
  EXPECT_NE(run.out.find("mob_kunde_x.txt (1 Sätze)"), std::string::npos);
  EXPECT_FALSE(run.err.empty());
}

TEST_F(ImportCli, AnErrorThatEndsTheImportExitsOneWithTheDatabaseUnchanged) {
  Change("mob_kunde_x.txt", "kopf\r\nN/1;;Meier;;;;;;;;0;\r\nN/2;;Auch;;;;;;;;1;\r\n");
  ExecOnFile(db_, "DROP TABLE settings");  // a damaged practice
  const std::string before = DumpDatabase(db_);
  const std::string bytesBefore = ReadFile(db_);
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("Import abgebrochen: "), std::string::npos) << run.err;
  EXPECT_EQ(DumpDatabase(db_), before);
  EXPECT_TRUE(ReadFile(db_) == bytesBefore) << "the database file changed";
}

// A line that was not imported is no plain success: the run exits 1 and
// says where the line is kept for the office.
TEST_F(ImportCli, LineErrorsGoToStderrAreKeptAndTheRestIsImported) {
  Change("mob_stall_x.txt", "kopf\r\nN/x;Kaputt\r\nN/2;Gut\r\n");
  const CliRun run = Run("import --yes '" + changes_ + "'");
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("mob_stall_x.txt, Zeile 2 (Kaputt): 'x' ist kein gültiger Integerwert"),
            std::string::npos)
      << run.err;
  const std::string kept = dir_.File("appdata/dasTessavor/mobil/nicht_importierte_Zeilen.txt");
  EXPECT_NE(run.err.find("Die nicht importierten Zeilen stehen in " + kept), std::string::npos)
      << run.err;
  EXPECT_NE(ReadFile(kept).find("mob_stall_x.txt, Zeile 2 (Kaputt)\r\nGrund: 'x' ist kein "
                                "g\xFCltiger Integerwert\r\nN/x;Kaputt\r\n"),
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
  EXPECT_NE(run.err.find("'?[31mx'"), std::string::npos) << run.err;
}

TEST_F(ImportCli, DefaultFolderIsTheDownloadFolderOfLocalDir) {
  WriteFile(dir_.File("appdata/dasTessavor/Kelvanor.ini"),
            "[general]\r\nname=test\r\nlocal_dir=" + dir_.File("lokal") + "/\r\n");
  WriteFile(dir_.File("lokal/tmp_dl/mob_stall_x.txt"), "kopf\r\nN/1;Hof\r\n");
  const CliRun run = Run("import --yes");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(Rows("SELECT name FROM stall"), "Hof");
  // A failed sync leaves this folder behind and the server keeps its lines:
  // what was imported once is not imported again, here or by the next sync.
  EXPECT_EQ(Run("import --yes").exitCode, 0);
  EXPECT_EQ(Rows("SELECT COUNT(*) FROM stall WHERE name='Hof'"), "1");
}

TEST_F(ImportCli, MissingFolderIsAUsageError) {
  const CliRun run = Run("import --yes '" + dir_.File("gibt-es-nicht") + "'");
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_FALSE(run.err.empty());
}

}  // namespace
}  // namespace kelvanor::testing
