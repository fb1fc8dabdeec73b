// The batch interpreter that stands in for the Windows command interpreter:
// splitting, the built-in commands, program lookup, exit statuses, the
// console code page, and waiting with the pump.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

#include "batch_test_support.h"
#include "platform/batch.h"
#include "platform/process.h"
#include "support/test_db.h"

namespace kelvanor::testing {
namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

// ---------------------------------------------------------------------------
// Splitting

TEST(BatchSplitting, ProgramArgumentsFollowTheWindowsRuntimeRules) {
  EXPECT_EQ(SplitProgramArguments(R"("abc" d e)"), (Args{"abc", "d", "e"}));
  EXPECT_EQ(SplitProgramArguments(R"(a\\\b d"e f"g h)"), (Args{R"(a\\\b)", "de fg", "h"}));
  EXPECT_EQ(SplitProgramArguments(R"(a\\\"b c d)"), (Args{R"(a\"b)", "c", "d"}));
  EXPECT_EQ(SplitProgramArguments(R"(a\\\\"b c" d e)"), (Args{R"(a\\b c)", "d", "e"}));
  // Three quotes in a row inside a group give one literal quote and end it.
  EXPECT_EQ(SplitProgramArguments(R"(a"b"" c d)"), (Args{R"(ab")", "c", "d"}));
  EXPECT_EQ(SplitProgramArguments(R"("" x)"), (Args{"", "x"}));
  EXPECT_EQ(SplitProgramArguments("  \t "), Args{});
  // The well-known trap: a quoted Windows folder ending in a backslash
  // swallows its closing quote. The transfers therefore end such paths in "/".
  EXPECT_EQ(SplitProgramArguments(R"("C:\dir\" next)"), (Args{R"(C:\dir" next)"}));
}

TEST(BatchSplitting, InterpreterWordsKeepBackslashesAndMarkQuotes) {
  const std::vector<CommandWord> words = SplitCommandWords(R"( /S  /Q "C:\a b\tmp_dl\" x"y")");
  ASSERT_EQ(words.size(), 4u);
  EXPECT_EQ(words[0].text, "/S");
  EXPECT_FALSE(words[0].quoted);
  EXPECT_EQ(words[2].text, R"(C:\a b\tmp_dl\)");
  EXPECT_TRUE(words[2].quoted);
  EXPECT_EQ(words[3].text, "xy");
  EXPECT_TRUE(words[3].quoted);
}

// ---------------------------------------------------------------------------
// "%" as cmd reads it in a batch file

TEST(BatchPercents, ReadAsCmdReadsABatchFile) {
  const std::string bat = "/x/tmp.bat";
  const Args env{"Hof_Name=Anna", "V=abcdef"};
  auto expand = [&](const std::string& line) { return ExpandBatchPercents(line, bat, env); };
  // Doubled, every "%" stays as written.
  EXPECT_EQ(expand("curl.exe h/zip.php?kd=M%%FCller%%20Hof"), "curl.exe h/zip.php?kd=M%FCller%20Hof");
  // Undoubled, the percent-encoding is read as variables and arguments:
  // what Wine's cmd prints for the same line.
  EXPECT_EQ(expand("curl.exe h/zip.php?kd=M%FCller%20Hof"), "curl.exe h/zip.php?kd=M20Hof");
  EXPECT_EQ(expand("echo kd=M%FCller und B%E4cker%26Co"), "echo kd=ME4cker6Co");
  EXPECT_EQ(expand("\"C:/B\xC3\xBCro 100%/tmp_dl/\""), "\"C:/B\xC3\xBCro 100/tmp_dl/\"");
  // Variables in any case, arguments of a batch started without any.
  EXPECT_EQ(expand("[%hof_name%][%HOF_NAME%][%NIE_GESETZT%]"), "[Anna][Anna][]");
  EXPECT_EQ(expand("%0|%~0|%1%9%*|%~nx1"), "\"/x/tmp.bat\"|/x/tmp.bat||");
  EXPECT_EQ(expand("%V:~1,2%|%V:~-2%|%V:cd=X%|%V:*c=%"), "bc|ef|abXef|def");
  // "%NAME:" of an undefined variable vanishes, the rest is read on.
  EXPECT_EQ(expand("%U:~1%x"), "~1x");
}

// ---------------------------------------------------------------------------
// Running batch files

class BatchRun : public ::testing::Test {
 protected:
  // Runs `bytes` as tmp.bat in the working folder; output is captured.
  int Run(const std::string& bytes, const std::vector<std::string>& environment = {}) {
    WriteFile(folder.File("tmp.bat"), bytes);
    output.clear();
    BatchOptions options;
    options.environment = environment;
    options.output = &output;
    return RunAndWait(folder.File("tmp.bat"), pump, options);
  }
  bool Exists(const std::string& relative) const { return fs::exists(folder.File(relative)); }

  InTempFolder folder;
  CountingPump pump;
  std::string output;
};

TEST_F(BatchRun, CopyTakesQuotedPathsWithBlanksAndBackslashes) {
  WriteFile(folder.File("a b/src file.txt"), "payload\r\n");
  fs::create_directory(folder.File("out dir"));
  const std::string dir = folder.Path();

  EXPECT_EQ(Run("copy \"" + dir + "\\a b\\src file.txt\" \"" + dir + "\\out dir\\t.txt\"\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("out dir/t.txt")), "payload\r\n");

  // Into an existing folder: the file keeps its name. Relative paths work,
  // and the command word is not case-sensitive.
  EXPECT_EQ(Run("COPY \"a b\\src file.txt\" \"out dir\"\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("out dir/src file.txt")), "payload\r\n");

  // An existing target is overwritten.
  WriteFile(folder.File("old.txt"), "old");
  EXPECT_EQ(Run("copy \"a b/src file.txt\" old.txt\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("old.txt")), "payload\r\n");
}

TEST_F(BatchRun, PercentSignsAreReadAsCmdReadsThem) {
  EXPECT_EQ(Run("sh -c \"echo %%PATH%% [%KELVANOR_X%] 100%\"\r\n", {"kelvanor_x=1"}), 0);
  EXPECT_EQ(output, "%PATH% [1] 100\n");
}

TEST_F(BatchRun, CopyNeverWritesThroughALink) {
  WriteFile(folder.File("dl_anna.zip"), "archive");
  WriteFile(folder.File("outside/authorized_keys"), "key");
  fs::create_symlink(folder.File("outside/authorized_keys"), folder.File("dl_anna_1.zip"));
  EXPECT_EQ(Run("copy dl_anna.zip dl_anna_1.zip\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("outside/authorized_keys")), "key");
  EXPECT_FALSE(fs::is_symlink(folder.File("dl_anna_1.zip")));
  EXPECT_EQ(ReadFile(folder.File("dl_anna_1.zip")), "archive");

  // Nor does it read through one, or copy into a folder a link leads to.
  fs::create_symlink(folder.File("outside/authorized_keys"), folder.File("link.zip"));
  EXPECT_EQ(Run("copy link.zip copied.zip\r\n"), 1);
  EXPECT_FALSE(Exists("copied.zip"));
  fs::create_directory_symlink(folder.File("outside"), folder.File("to-outside"));
  EXPECT_EQ(Run("copy dl_anna.zip to-outside\r\n"), 0);
  EXPECT_FALSE(Exists("outside/dl_anna.zip"));
}

TEST_F(BatchRun, CopyFailuresReturnOne) {
  EXPECT_EQ(Run("copy \"missing.zip\" \"copy.zip\"\r\n"), 1);
  EXPECT_FALSE(Exists("copy.zip"));
  EXPECT_NE(output.find("nicht finden"), std::string::npos);

  WriteFile(folder.File("same.txt"), "x");
  EXPECT_EQ(Run("copy same.txt same.txt\r\n"), 1);
  EXPECT_EQ(ReadFile(folder.File("same.txt")), "x");

  EXPECT_EQ(Run("copy same.txt no\\such\\folder\\x.txt\r\n"), 1);
  EXPECT_EQ(Run("copy /Z same.txt x.txt\r\n"), 1);  // unknown switch
  EXPECT_EQ(Run("copy same.txt \"\"\r\n"), 1);
  EXPECT_FALSE(Exists("x.txt"));
}

TEST_F(BatchRun, DelRemovesFilesAndFailsOnWhatIsNotThere) {
  WriteFile(folder.File("sub/dl_anna.zip"), "zip");
  EXPECT_EQ(Run("del \"" + folder.Path() + "\\sub\\dl_anna.zip\"\r\n"), 0);
  EXPECT_FALSE(Exists("sub/dl_anna.zip"));

  EXPECT_EQ(Run("del \"sub\\dl_anna.zip\"\r\n"), 1);
  EXPECT_EQ(Run("del sub\r\n"), 1);  // a folder is not deleted by del
  EXPECT_TRUE(Exists("sub"));
}

TEST_F(BatchRun, RmdirRemovesTreesWithOrWithoutTrailingSeparator) {
  WriteFile(folder.File("tmp_dl/a.txt"), "a");
  WriteFile(folder.File("tmp_dl/deeper/b.txt"), "b");
  EXPECT_EQ(Run("rmdir /S /Q \"" + folder.Path() + "/tmp_dl/\"\r\n"), 0);
  EXPECT_FALSE(Exists("tmp_dl"));

  WriteFile(folder.File("tmp_dl/a.txt"), "a");
  EXPECT_EQ(Run("rmdir /s /q \"" + folder.Path() + "\\tmp_dl\\\"\r\n"), 0);
  EXPECT_FALSE(Exists("tmp_dl"));

  // Gone already, or not empty without /S: failure, nothing touched.
  EXPECT_EQ(Run("rmdir /S /Q \"tmp_dl/\"\r\n"), 1);
  WriteFile(folder.File("keep/a.txt"), "a");
  EXPECT_EQ(Run("rd keep\r\n"), 1);
  EXPECT_TRUE(Exists("keep/a.txt"));
  EXPECT_EQ(Run("rmdir /X keep\r\n"), 1);
  EXPECT_TRUE(Exists("keep/a.txt"));
  // The root is never removed, whatever the line says.
  EXPECT_EQ(Run("rmdir /S /Q \"\\\"\r\n"), 1);
}

TEST_F(BatchRun, ConsoleLettersNameTheRightFiles) {
  // tmp.bat holds "Büro" with the console code of ü (0x81) and "Straße"
  // with the console code of ß (0xE1); the file system has them in UTF-8.
  WriteFile(folder.File("B\xC3\xBCro/a.txt"), "a");
  EXPECT_EQ(Run("copy \"B\x81ro\\a.txt\" \"Stra\xE1" "e.txt\"\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("Stra\xC3\x9F" "e.txt")), "a");

  // Every byte is read in code page 850: 0xA0 is á, 0xE1 is ß (never the
  // Windows-1252 á), 0xFC is ³ (never the Windows-1252 ü).
  WriteFile(folder.File("M\xC3\xA1ria/a.txt"), "a");
  EXPECT_EQ(Run("copy \"M\xA0ria\\a.txt\" \"\xE1\xFC.txt\"\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("\xC3\x9F\xC2\xB3.txt")), "a");
  EXPECT_EQ(Run("rmdir /S /Q \"M\xA0ria\\\"\r\n"), 0);
  EXPECT_FALSE(Exists("M\xC3\xA1ria"));
  EXPECT_EQ(Run("rmdir /S /Q \"B\x81ro\\\"\r\n"), 0);
  EXPECT_FALSE(Exists("B\xC3\xBCro"));

  // Programs receive the letters in UTF-8.
  WriteScript(folder.File("args"), "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > args.out");
  EXPECT_EQ(Run("args.exe \"C:/Daten/B\x81ro\" \x8E\x84\x99\x94\x9A\r\n"), 0);
  EXPECT_EQ(ReadFile(folder.File("args.out")),
            "C:/Daten/B\xC3\xBCro\n\xC3\x84\xC3\xA4\xC3\x96\xC3\xB6\xC3\x9C\n");
}

TEST_F(BatchRun, ProgramsAreFoundInTheCurrentFolderFirstThenOnPath) {
  TempDir pathDir;
  WriteScript(pathDir.File("tool"), "echo from-path");
  WriteScript(pathDir.File("other"), "echo other \"$@\"");
  ::setenv("PATH", (pathDir.Path() + ":/usr/bin:/bin").c_str(), 1);

  EXPECT_EQ(Run("other.exe \"one two\" three\r\n"), 0);
  EXPECT_EQ(output, "other one two three\n");
  EXPECT_EQ(Run("tool.exe\r\n"), 0);
  EXPECT_EQ(output, "from-path\n");

  WriteScript(folder.File("tool"), "echo from-cwd");
  EXPECT_EQ(Run("tool.exe\r\n"), 0);
  EXPECT_EQ(output, "from-cwd\n");
  EXPECT_EQ(Run("\"tool\"\r\n"), 0);
  EXPECT_EQ(output, "from-cwd\n");

  // A file that may not be executed is passed over.
  WriteFile(folder.File("other"), "not a program");
  EXPECT_EQ(Run("other.exe x\r\n"), 0);
  EXPECT_EQ(output, "other x\n");
}

TEST_F(BatchRun, ExitStatusesComeBack) {
  WriteScript(folder.File("fails"), "exit 3");
  WriteScript(folder.File("killed"), "kill -TERM $$");
  EXPECT_EQ(Run("fails.exe\r\n"), 3);
  EXPECT_EQ(Run("killed.exe\r\n"), kExitSignalBase + SIGTERM);

  EXPECT_EQ(Run("nosuchprogram.exe -x\r\n"), kExitProgramNotFound);
  EXPECT_NE(output.find("nosuchprogram.exe"), std::string::npos);

  WriteFile(folder.File("broken"), "\x7f" "ELF garbage");
  ::chmod(folder.File("broken").c_str(), 0755);
  EXPECT_EQ(Run("broken\r\n"), kExitCannotExecute);

  // A "quoted" built-in name is a program, and there is none.
  EXPECT_EQ(Run("\"copy\" a b\r\n"), kExitProgramNotFound);

  EXPECT_EQ(RunAndWait(folder.File("no-such.bat"), pump), kExitCannotStart);
}

TEST_F(BatchRun, LinesRunInOrderUntilOneFails) {
  WriteFile(folder.File("a.txt"), "a");
  EXPECT_EQ(Run("copy a.txt b.txt\r\n\r\ncopy b.txt c.txt\r\n"), 0);
  EXPECT_TRUE(Exists("c.txt"));
  EXPECT_EQ(Run("del missing.txt\r\ndel a.txt\r\n"), 1);
  EXPECT_TRUE(Exists("a.txt"));
  EXPECT_EQ(Run(""), 0);
}

TEST_F(BatchRun, ProgramGetsQuietStdinTheEnvironmentAndItsOutputIsCaptured) {
  WriteScript(folder.File("show"), "cat; echo \"home=$CURL_HOME\"; echo to-stderr >&2");
  EXPECT_EQ(Run("show.exe\r\n", {"CURL_HOME=/some/where"}), 0);
  EXPECT_EQ(output, "home=/some/where\nto-stderr\n");
}

TEST_F(BatchRun, PumpRunsWhileTheProgramIsWaitedFor) {
  WriteScript(folder.File("slow"), "sleep 0.4; echo done");
  EXPECT_EQ(Run("slow.exe\r\n"), 0);
  EXPECT_EQ(output, "done\n");
  EXPECT_GE(pump.calls, 1);
}

TEST_F(BatchRun, APumpThatThrowsLeavesNoProcessBehind) {
  WriteScript(folder.File("long"), "echo $$ > long.pid; exec sleep 30");
  pump.onCall = [this](int calls) {
    if (calls >= 3 && Exists("long.pid") && !ReadFile(folder.File("long.pid")).empty())
      throw std::runtime_error("window closed");
  };
  const auto start = std::chrono::steady_clock::now();
  EXPECT_THROW(Run("long.exe\r\n"), std::runtime_error);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
  const pid_t pid = std::stoi(ReadFile(folder.File("long.pid")));
  EXPECT_NE(::kill(pid, 0), 0);  // killed and reaped, not a zombie
}

TEST_F(BatchRun, ALostChildEndsTheWaitInsteadOfHanging) {
  // With SIGCHLD ignored the kernel reaps children itself; the runner must
  // notice that instead of waiting for ever.
  struct sigaction ignore {}, old {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGCHLD, &ignore, &old);
  WriteScript(folder.File("quick"), "sleep 0.2");
  const int status = Run("quick.exe\r\n");
  ::sigaction(SIGCHLD, &old, nullptr);
  EXPECT_EQ(status, kExitCannotStart);
}

}  // namespace
}  // namespace kelvanor::testing
