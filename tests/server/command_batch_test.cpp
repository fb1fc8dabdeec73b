// The command batch: tmp.bat holds exactly the command and CR LF, the exit
// status comes back, curl gets the configuration that makes HTTP errors
// fail, and the download folder is emptied and removed as the download needs.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "server/command_batch.h"
#include "platform/batch.h"
#include "support/linux_only.h"
#include "support/test_db.h"
#include "util/errors.h"

namespace kelvanor::testing {
namespace {

namespace fs = std::filesystem;

class NullPump : public IMessagePump {
 public:
  void ProcessPendingMessages() override { ++calls; }
  int calls = 0;
};

// local_dir in Windows-1252 ("Büro"), in the console code page, in UTF-8.
struct LocalDir {
  TempDir root;
  std::string ansi = root.Path() + "/B\xFCro mobil/";
  std::string oem = root.Path() + "/B\x81ro mobil/";
  std::string utf8 = root.Path() + "/B\xC3\xBCro mobil/";
  LocalDir() { fs::create_directories(fs::u8path(utf8)); }
};

TEST(RunCommand, WritesExactlyTheCommandAndCrLfThenRunsIt) {
  KELVANOR_LINUX_ONLY("cmd's del reports success for a missing file, the stand-in fails");
  LocalDir local;
  NullPump pump;
  WriteFile(local.utf8 + "tmp_dl/dl_anna.zip", "zip");
  // The driver's form: the local folder in the console code page, a trailing "/".
  const std::string command = "rmdir /S /Q \"" + local.oem + "tmp_dl/\"";

  EXPECT_EQ(RunCommand(command, local.ansi, pump), 0);
  EXPECT_EQ(ReadFile(local.utf8 + "tmp.bat"), command + "\r\n");
  EXPECT_FALSE(fs::exists(local.utf8 + "tmp_dl"));
#ifndef _WIN32
  // It holds the FTP login: nobody else may read it.
  struct stat st {};
  ASSERT_EQ(::stat((local.utf8 + "tmp.bat").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);
#endif

  // Every "%" doubled, so cmd (and the stand-in) hands each on as written.
  std::string echoed;
  EXPECT_EQ(RunCommand("sh -c \"echo kd=M%FCller%20Hof %PATH%\"", local.ansi, pump, &echoed), 0);
  EXPECT_EQ(ReadFile(local.utf8 + "tmp.bat"), "sh -c \"echo kd=M%%FCller%%20Hof %%PATH%%\"\r\n");
  EXPECT_EQ(echoed, "kd=M%FCller%20Hof %PATH%\n");

  // The bytes are written as built: the console code of ü stays 0x81.
  std::string output;
  const std::string second = "del \"" + local.ansi + "B\x81ro.txt\"";
  EXPECT_EQ(RunCommand(second, local.ansi, pump, &output), 1);
  EXPECT_EQ(ReadFile(local.utf8 + "tmp.bat"), second + "\r\n");
  EXPECT_NE(output.find("nicht gefunden"), std::string::npos);
}

TEST(RunCommand, ReportsTheProgramsExitStatus) {
  LocalDir local;
  NullPump pump;
  std::string output;
  EXPECT_EQ(RunCommand("no-such-tool.exe x", local.ansi, pump, &output), 9009);
#ifdef _WIN32
  const std::string exitFour = "cmd /c exit 4";
#else
  const std::string exitFour = "sh -c \"exit 4\"";
#endif
  EXPECT_EQ(RunCommand(exitFour, local.ansi, pump, &output), 4);
  EXPECT_EQ(ReadFile(local.utf8 + "tmp.bat"), exitFour + "\r\n");
}

TEST(RunCommand, AFolderThatCannotHoldTmpBatIsAnInputOutputError) {
  LocalDir local;
  NullPump pump;
  try {
    RunCommand("del x", local.ansi + "missing/", pump);
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    EXPECT_NE(std::string(e.what()).find("tmp.bat"), std::string::npos);
  }
}

TEST(RunCommand, CurlReadsAConfigurationThatMakesHttpErrorsFail) {
  const std::string folder = CurlConfigFolder();
  ASSERT_FALSE(folder.empty());
  const std::string rc = ReadFile(folder + "/" + kCurlConfigFileName);
  // An HTTP error fails with the server's answer kept; a redirect is
  // followed to http and https only; the answer comes before curl's line and
  // the report that tells where the last request went.
  for (const char* option :
       {"\nfail-with-body\n", "\nlocation\n", "\nproto-redir = \"=http,https\"\n", "\nno-buffer\n",
        "\nsilent\n", "\nshow-error\n",
        "\nwrite-out = \"\\n@@kelvanor-curl %{response_code} %{num_redirects} %{url_effective}\\n"
        "@@kelvanor-time %{time_total}|%header{date}|%header{last-modified}\\n\"\n",
        // Past every cache, which would hide what the mobile wrote since.
        "\nheader = \"Cache-Control: no-cache\"\n"})
    EXPECT_NE(rc.find(option), std::string::npos) << option;
  EXPECT_EQ(rc.find("insecure"), std::string::npos);

  // What a started program sees (the real curl runs in the transfer tests).
  LocalDir local;
  NullPump pump;
  std::string output;
#ifdef _WIN32
  // The "%" of tmp.bat reach the inner cmd as written, and it expands them.
  EXPECT_EQ(RunCommand("cmd /c echo [%CURL_HOME%]", local.ansi, pump, &output), 0);
  EXPECT_NE(output.find("[" + folder + "]"), std::string::npos) << output;
#else
  EXPECT_EQ(RunCommand("sh -c \"echo $CURL_HOME\"", local.ansi, pump, &output), 0);
  EXPECT_EQ(output, folder + "\n");
#endif
}

TEST(EmptyAndRemoveFolder, DeletesEveryPlainFileThenTheFolder) {
  LocalDir local;
  const std::string dir = local.utf8 + "tmp_dl/";
  WriteFile(dir + "mob_kunde_x.txt", "x");
  WriteFile(dir + ".hidden", "x");
  WriteFile(dir + "readonly.txt", "x");
  fs::permissions(fs::u8path(dir + "readonly.txt"), fs::perms::owner_read | fs::perms::group_read |
                                           fs::perms::others_read);
#ifndef _WIN32  // symbolic links need a privilege on Windows
  ::symlink("/nonexistent", (dir + "dangling").c_str());
#endif

  EmptyAndRemoveFolder(local.ansi + "tmp_dl/");
  EXPECT_FALSE(fs::exists(fs::u8path(dir)));
}

TEST(EmptyAndRemoveFolder, SubfoldersGoTooAndNoLinkIsFollowed) {
  KELVANOR_LINUX_ONLY("links need a privilege on Windows; tests/windows/cli_sync_under_wine.sh leaves one in tmp_dl");
  LocalDir local;
  const std::string dir = local.utf8 + "tmp_dl/";
  const std::string outside = local.utf8 + "outside/";
  WriteFile(outside + "keep.txt", "keep");
  WriteFile(dir + "mob_kunde_x.txt", "x");
  WriteFile(dir + "sub/inner/deep.txt", "x");
  fs::create_directory_symlink(fs::u8path(outside), fs::u8path(dir + "sub/to-outside"));
  fs::create_symlink(fs::u8path(outside + "keep.txt"), fs::u8path(dir + "file-link"));

  EmptyAndRemoveFolder(local.ansi + "tmp_dl/");
  EXPECT_FALSE(fs::exists(fs::symlink_status(fs::u8path(dir))));
  EXPECT_EQ(ReadFile(outside + "keep.txt"), "keep");

  // The folder itself a link: the link goes, what it points to stays.
  fs::create_directory_symlink(fs::u8path(outside), fs::u8path(local.utf8 + "tmp_dl"));
  EmptyAndRemoveFolder(local.ansi + "tmp_dl/");
  EXPECT_FALSE(fs::exists(fs::symlink_status(fs::u8path(local.utf8 + "tmp_dl"))));
  EXPECT_EQ(ReadFile(outside + "keep.txt"), "keep");

  try {
    EmptyAndRemoveFolder(local.ansi + "never-made/");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    const std::string message = e.what();
    EXPECT_NE(message.find("kann nicht gel\xF6scht werden"), std::string::npos) << message;
    EXPECT_NE(message.find(local.ansi + "never-made"), std::string::npos) << message;
  }
}

}  // namespace
}  // namespace kelvanor::testing
