#include "platform/environment.h"
#include "platform/instance_lock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <regex>

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

}  // namespace
}  // namespace kelvanor
