#include "platform/code_signature.h"
#include "platform/environment.h"
#include "platform/instance_lock.h"
#include "platform/temporary_folder.h"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <system_error>
#include <vector>

#include "platform/batch.h"
#include "platform/file_system.h"
#include "support/linux_only.h"
#include "support/scoped_env.h"
#include "support/test_db.h"
#include "util/errors.h"

namespace kelvanor {
namespace {

using testing::ScopedEnv;

TEST(GetEnvVar, UnsetAndEmptyBothGiveEmptyText) {
  {
    ScopedEnv env("KELVANOR_TEST_VAR", nullptr);
    EXPECT_EQ(GetEnvVar("KELVANOR_TEST_VAR"), "");
  }
  {
    ScopedEnv env("KELVANOR_TEST_VAR", "");
    EXPECT_EQ(GetEnvVar("KELVANOR_TEST_VAR"), "");
  }
  ScopedEnv env("KELVANOR_TEST_VAR", "/home/hufschmied");
  EXPECT_EQ(GetEnvVar("KELVANOR_TEST_VAR"), "/home/hufschmied");
}

TEST(GetEnvVar, Utf8ValuesArriveAsWindows1252) {
  KELVANOR_LINUX_ONLY("the environment holds UTF-8 bytes only on Linux");
  ScopedEnv env("KELVANOR_TEST_VAR", "/home/j\xC3\xBCrgen");
  EXPECT_EQ(GetEnvVar("KELVANOR_TEST_VAR"), "/home/j\xFCrgen");
}

TEST(ExeVersionString, FourNumbersOfTheProjectVersion) {
  const std::string version = ExeVersionString();
  EXPECT_TRUE(std::regex_match(version, std::regex(R"(\d+\.\d+\.\d+\.\d+)"))) << version;
  EXPECT_EQ(version, std::to_string(KELVANOR_VERSION_MAJOR) + "." +
                         std::to_string(KELVANOR_VERSION_MINOR) + "." +
                         std::to_string(KELVANOR_VERSION_PATCH) + "." +
                         std::to_string(KELVANOR_VERSION_BUILD));
}

TEST(ExecutableFolder, IsTheFolderOfTheRunningTestProgram) {
  const std::string folder = ExecutableFolder();
  ASSERT_FALSE(folder.empty());
  EXPECT_EQ(folder.back(), kPathSep);
#ifdef _WIN32
  // Under Wine the build folder is reached through a drive letter.
  EXPECT_TRUE(std::filesystem::exists(SystemPath(folder + "tests_platform.exe")))
#else
  EXPECT_TRUE(std::filesystem::equivalent(folder, std::string(KELVANOR_BINARY_DIR) + "/tests"))
#endif
      << folder;
}

TEST(InstanceLock, OnlyOneHolderAtATimeAndFreeAgainWhenReleased) {
  testing::TempDir dir;
  const std::string path = dir.Path() + "/Kelvanor.lock";
  auto first = InstanceLock::TryAcquire(path);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(InstanceLock::TryAcquire(path), nullptr);
  first.reset();
  EXPECT_NE(InstanceLock::TryAcquire(path), nullptr);
  EXPECT_THROW(InstanceLock::TryAcquire(dir.Path() + "/missing/Kelvanor.lock"), EInOutError);
}

// The lock of a database and account reaches other machines through the file
// server; asking for it a second time in the same process must neither get
// it nor let go of it.
TEST(InstanceLock, TheDatabaseLockHasOneHolderAndAskingAgainKeepsIt) {
  testing::TempDir dir;
  const std::string path = dir.Path() + "/praxis.db.Kelvanor_hof.lock";
  auto first = InstanceLock::TryAcquire(path, InstanceLock::Reach::kEveryMachine);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(InstanceLock::TryAcquire(path, InstanceLock::Reach::kEveryMachine), nullptr);
#ifndef _WIN32
  const pid_t child = ::fork();
  if (child == 0) {
    const int fd = ::open(path.c_str(), O_RDWR);
    struct flock range {};
    range.l_type = F_WRLCK;
    range.l_whence = SEEK_SET;
    range.l_len = 1;
    ::_exit(fd >= 0 && ::fcntl(fd, F_SETLK, &range) != 0 ? 0 : 1);
  }
  int status = -1;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "another process got the lock";
#endif
  first.reset();
  EXPECT_NE(InstanceLock::TryAcquire(path, InstanceLock::Reach::kEveryMachine), nullptr);
}

// A link in the lock's place, dangling into another folder: the lock is
// neither made nor taken where it leads.
TEST(InstanceLock, ALinkInTheLocksPlaceIsRefused) {
  KELVANOR_LINUX_ONLY("the test makes a symbolic link");
  testing::TempDir dir;
  const std::string elsewhere = dir.Path() + "/anderswo";
  std::filesystem::create_directories(elsewhere);
  const std::string path = dir.Path() + "/praxis.db.Kelvanor_hof.lock";
  std::filesystem::create_symlink(elsewhere + "/sperre", path);
  for (const auto reach : {InstanceLock::Reach::kThisMachine, InstanceLock::Reach::kEveryMachine}) {
    try {
      InstanceLock::TryAcquire(path, reach);
      ADD_FAILURE() << "the lock was taken through the link";
    } catch (const EInOutError& e) {
      EXPECT_EQ(std::string(e.what()), LockIsALink(path));
    }
  }
  EXPECT_EQ(InstanceLock::HolderProcessId(path), 0u);
  EXPECT_TRUE(std::filesystem::is_empty(elsewhere));
}

// Folders of the tool in the system's folder for temporary files: a start
// removes what runs that ended left behind, held or made before folders were
// held, and leaves alone the folder a running process holds (this one: a
// second lock on the file is refused in the holder's own process too), a
// folder of such a name holding anything the tool does not write there
// (another file, a folder, a link: not only ours), a link of such a name and
// what links lead to. (A killed process's folder: the end-to-end sync test.)
TEST(HeldTemporaryFolder, AFolderNobodyHoldsGoesAndWhatIsNotOnlyOursStays) {
  testing::TempDir dir;
  const std::string base = dir.Path() + "/temp";
  std::filesystem::create_directories(base);
#ifdef _WIN32
  const ScopedEnv tmp("TMP", base.c_str());
  const ScopedEnv temp("TEMP", base.c_str());
#else
  const ScopedEnv tmp("TMPDIR", base.c_str());
#endif
  const std::string prefix = "kelvanor-curl-";
  const std::vector<std::string> own = {kCurlConfigFileName};
  auto exists = [](const std::string& path) {
    std::error_code ignored;
    return std::filesystem::exists(std::filesystem::symlink_status(path, ignored));
  };
  auto leftBehind = [&](const std::string& tail, bool held) {
    const std::string folder = base + "/" + prefix + tail;
    testing::WriteFile(folder + "/" + kCurlConfigFileName, "fail-with-body\n");
    if (held) testing::WriteFile(folder + "/" + HeldTemporaryFolder::kHoldFileName, "");
    return folder;
  };
  std::unique_ptr<HeldTemporaryFolder> held = HeldTemporaryFolder::Make(prefix);
  ASSERT_NE(held, nullptr);
  EXPECT_EQ(std::filesystem::path(held->Path()).parent_path(), std::filesystem::path(base));
  testing::WriteFile(held->Path() + "/" + kCurlConfigFileName, "in use\n");
  const std::string ended = leftBehind("beendet", true);
  const std::string older = leftBehind("aelter", false);
  const std::string withMore = leftBehind("mehr", true);
  testing::WriteFile(withMore + "/unter/datei", "x");
  const std::string file = base + "/" + prefix + "datei";
  testing::WriteFile(file, "keine Ordner");

  EXPECT_EQ(RemoveAbandonedTemporaryFolders(prefix, own), 2u);
  EXPECT_FALSE(exists(ended));
  EXPECT_FALSE(exists(older));
  EXPECT_EQ(testing::ReadFile(held->Path() + "/" + kCurlConfigFileName), "in use\n");
  EXPECT_EQ(testing::ReadFile(withMore + "/unter/datei"), "x");
  EXPECT_EQ(testing::ReadFile(file), "keine Ordner");

  const std::string outside = dir.Path() + "/draussen";
  testing::WriteFile(outside + "/wichtig", "bleibt");
  std::error_code linked;
  std::filesystem::create_directory_symlink(outside, base + "/" + prefix + "link", linked);
  const std::string withLink = leftBehind("mitlink", true);
  if (!linked) std::filesystem::create_directory_symlink(outside, withLink + "/ziel", linked);
  if (!linked) {
    EXPECT_EQ(RemoveAbandonedTemporaryFolders(prefix, own), 0u);
    EXPECT_TRUE(exists(base + "/" + prefix + "link"));
    EXPECT_TRUE(exists(withLink + "/ziel"));
    EXPECT_EQ(testing::ReadFile(outside + "/wichtig"), "bleibt");
  }

  // The holder lets it go and removes it.
  const std::string path = held->Path();
  held.reset();
  EXPECT_FALSE(exists(path));
}

TEST(CodeSignature, AFileWithoutASignatureIsNotSigned) {
  testing::TempDir dir;
  testing::WriteFile(dir.File("mob.exe"), "#!/bin/sh\necho update\n");
  const CodeSignature signature = ReadCodeSignature(dir.File("mob.exe"), "Hufbeschlag GmbH");
  EXPECT_EQ(signature.state, CodeSignature::State::kNotSigned);
  EXPECT_EQ(signature.signer, "");
  EXPECT_FALSE(signature.byPublisher);
}

#ifdef _WIN32
// Signed at build time by tests/windows/sign_stand_ins.sh.
std::string StandIn(const std::string& name) {
  return std::string(KELVANOR_BINARY_DIR) + "/signing/" + name;
}

TEST(CodeSignature, AuthenticodeIsCheckedAndTheSignerNamed) {
  const std::string publisher = "Hufbeschlag Testverlag GmbH";
  CodeSignature signature = ReadCodeSignature(StandIn("signed.exe"), publisher);
  ASSERT_EQ(signature.state, CodeSignature::State::kValid)
      << "the test CA must be trusted (scripts/test-windows.sh adds it to Wine's prefix)";
  EXPECT_EQ(signature.signer, publisher);
  EXPECT_TRUE(signature.byPublisher);
  // The name must be the same, letter for letter.
  EXPECT_FALSE(ReadCodeSignature(StandIn("signed.exe"), "Hufbeschlag Testverlag").byPublisher);
  EXPECT_FALSE(ReadCodeSignature(StandIn("signed.exe"), "hufbeschlag testverlag gmbh").byPublisher);
  EXPECT_FALSE(ReadCodeSignature(StandIn("signed.exe"), "").byPublisher);

  signature = ReadCodeSignature(StandIn("other_publisher.exe"), publisher);
  EXPECT_EQ(signature.state, CodeSignature::State::kValid);
  EXPECT_EQ(signature.signer, "Fremder Verlag GmbH");
  EXPECT_FALSE(signature.byPublisher);

  EXPECT_EQ(ReadCodeSignature(StandIn("unsigned.exe"), publisher).state,
            CodeSignature::State::kNotSigned);
  // Changed after signing; a certificate nobody vouches for; one that has
  // run out; one made for a web server: each with the publisher's name.
  for (const char* name :
       {"tampered.exe", "self_signed.exe", "expired.exe", "server_certificate.exe"}) {
    signature = ReadCodeSignature(StandIn(name), publisher);
    EXPECT_EQ(signature.state, CodeSignature::State::kInvalid) << name;
    EXPECT_FALSE(signature.byPublisher) << name;
  }
}
#endif

}  // namespace
}  // namespace kelvanor
