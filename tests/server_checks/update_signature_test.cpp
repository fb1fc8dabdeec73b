// The update's Authenticode path on Windows (under Wine in the tests): a
// program fetched in the clear starts only when it is signed by the
// configured publisher. The stand-ins are signed at build time by
// tests/windows/sign_stand_ins.sh and leave "started.txt" beside themselves
// when they run. On Linux no program carries such a signature; the update
// is tested there against the reference server (version_check_test.cpp).
#include "server_checks/version_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "support/test_db.h"
#include "platform/file_system.h"

namespace kelvanor {
namespace {

#ifdef _WIN32

using testing::TempDir;

class UpdateSignatureTest : public ::testing::Test {
 protected:
  // "" when the stand-in was started, else why not.
  std::string Start(const std::string& name, const std::string& publisherName) {
    return StartUpdateIfGenuine(Downloaded(name), false, publisherName).Message();
  }
  // The stand-in `name` as a freshly downloaded mob.exe.
  std::string Downloaded(const std::string& name) {
    const std::string file = program.File("mob.exe");
    std::filesystem::copy_file(std::string(KELVANOR_BINARY_DIR) + "/signing/" + name, file,
                               std::filesystem::copy_options::overwrite_existing);
    return file;
  }
  bool StandInRan(int seconds) const {
    const std::string marker = program.File("started.txt");
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!FileExists(marker) && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return FileExists(marker);
  }

  const std::string publisher = "Hufbeschlag Testverlag GmbH";
  const std::string notOverHttps = "Update nicht gestartet: mob.exe kam nicht \xFC" "ber eine "
                                   "gepr\xFC" "fte HTTPS-Verbindung und ";
  TempDir program;
};

TEST_F(UpdateSignatureTest, SignedByThePublisherItStartsWithoutHttps) {
  EXPECT_EQ(Start("signed.exe", publisher), "");
  EXPECT_TRUE(StandInRan(30));
}

TEST_F(UpdateSignatureTest, AnyOtherSignatureStartsNothingAndTheFileIsGone) {
  EXPECT_EQ(Start("other_publisher.exe", publisher),
            notOverHttps + "ist von \"Fremder Verlag GmbH\" signiert statt von \"" + publisher +
                "\".");
  EXPECT_FALSE(FileExists(program.File("mob.exe")));
  EXPECT_EQ(Start("signed.exe", ""),
            notOverHttps + "ist von \"" + publisher +
                "\" signiert, in Kelvanor.ini ist aber kein Herausgeber (publisher) eingetragen.");
  EXPECT_EQ(Start("self_signed.exe", publisher),
            notOverHttps + "tr\xE4gt eine ung\xFCltige Signatur.");
  EXPECT_EQ(Start("tampered.exe", publisher),
            notOverHttps + "tr\xE4gt eine ung\xFCltige Signatur.");
  EXPECT_EQ(Start("unsigned.exe", publisher),
            notOverHttps + "ist nicht signiert.");
  EXPECT_FALSE(FileExists(program.File("mob.exe")));
  EXPECT_FALSE(StandInRan(2));
}

#endif

}  // namespace
}  // namespace kelvanor
