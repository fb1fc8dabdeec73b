#include "platform/ini_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/linux_only.h"
#include "support/test_db.h"
#include "util/errors.h"

namespace kelvanor {
namespace {

using testing::IniText;
using testing::ReadFile;
using testing::TempDir;
using testing::W;
using testing::WriteFile;

class IniFileTest : public ::testing::Test {
 protected:
  TempDir dir_;
  std::string ini_ = dir_.File("Kelvanor.ini");

  void Given(const std::string& content) { WriteFile(ini_, content); }
  long Int(const std::string& value, long fallback = -7) {
    Given("[general]\nv=" + value + "\n");
    return IniReadInteger(ini_, "general", "v", fallback);
  }
};

TEST_F(IniFileTest, MissingFileAndMissingKeysReadAsDefaults) {
  EXPECT_EQ(IniReadString(ini_, "general", "name", "dflt"), "dflt");
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 5), 5);
  EXPECT_TRUE(IniReadBool(ini_, "general", "debug", true));

  Given("[general]\nname=x\n");
  EXPECT_EQ(IniReadString(ini_, "general", "server", "dflt"), "dflt");
  EXPECT_EQ(IniReadString(ini_, "other", "name", "dflt"), "dflt");
}

TEST_F(IniFileTest, NamesCompareWithoutCaseAndValuesAreTrimmed) {
  Given("; comment\r\n[General]\r\n  Name  =  Schmied Meier  \r\nNUM_SYNCS=3\r\n");
  EXPECT_EQ(IniReadString(ini_, "general", "name", ""), "Schmied Meier");
  EXPECT_EQ(IniReadString(ini_, "GENERAL", "nAmE", ""), "Schmied Meier");
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 3);
}

TEST_F(IniFileTest, PresentButEmptyValueIsEmptyNotTheDefault) {
  Given("[general]\nname=\n");
  EXPECT_EQ(IniReadString(ini_, "general", "name", "dflt"), "");
}

TEST_F(IniFileTest, QuotesKeepBlanksAndAreRemoved) {
  Given("[general]\nlocal_dir=\"  /data/mobil/ \"\nq=\"\"\n");
  EXPECT_EQ(IniReadString(ini_, "general", "local_dir", ""), "  /data/mobil/ ");
  EXPECT_EQ(IniReadString(ini_, "general", "q", "x"), "");
}

TEST_F(IniFileTest, SingleQuotesAreRemovedLikeDoubleOnes) {
  Given("[Allgemein]\ndb_pfad='C:\\Praxis\\'\ndb_name = ' praxis.db '\nmixed='a\"\n"
        "inner=it's\none='\nnested=\"'x'\"\n");
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "db_pfad", ""), "C:\\Praxis\\");
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "db_name", ""), " praxis.db ");
  // Only a matching pair around the whole value is a pair of quotes.
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "mixed", ""), "'a\"");
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "inner", ""), "it's");
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "one", ""), "'");
  EXPECT_EQ(IniReadString(ini_, "Allgemein", "nested", ""), "'x'");
}

TEST_F(IniFileTest, FirstOfTwoEqualKeysCounts) {
  Given("[general]\nname=first\nname=second\n[general]\nname=third\n");
  EXPECT_EQ(IniReadString(ini_, "general", "name", ""), "first");
}

TEST_F(IniFileTest, IntegersAreDecimalOrHexAndAnythingElseIsTheDefault) {
  EXPECT_EQ(Int("42"), 42);
  EXPECT_EQ(Int("-3"), -3);
  EXPECT_EQ(Int("+8"), 8);
  EXPECT_EQ(Int("0x1F"), 31);
  EXPECT_EQ(Int("0X1f"), 31);
  EXPECT_EQ(Int("007"), 7);
  // Blanks around the number are tolerated, also when kept by quotes.
  EXPECT_EQ(Int("\" 12 \""), 12);

  EXPECT_EQ(Int("12abc"), -7);
  EXPECT_EQ(Int("abc"), -7);
  EXPECT_EQ(Int(""), -7);
  EXPECT_EQ(Int("0x"), -7);
  EXPECT_EQ(Int("0xZZ"), -7);
  EXPECT_EQ(Int("-0x10"), -7);
  EXPECT_EQ(Int("1.5"), -7);
  EXPECT_EQ(Int("1 2"), -7);
  EXPECT_EQ(Int("-"), -7);
  EXPECT_EQ(Int("99999999999999999999999"), -7);
  EXPECT_EQ(Int("0xFFFFFFFFFFFFFFFFFF"), -7);
}

TEST_F(IniFileTest, BooleansAreNumbers) {
  auto Bool = [this](const std::string& value, bool fallback) {
    Given("[general]\ndebug=" + value + "\n");
    return IniReadBool(ini_, "general", "debug", fallback);
  };
  EXPECT_FALSE(Bool("0", true));
  EXPECT_TRUE(Bool("1", false));
  EXPECT_TRUE(Bool("-1", false));
  EXPECT_TRUE(Bool("0x10", false));
  EXPECT_FALSE(Bool("0x0", true));
  EXPECT_FALSE(Bool("true", false));  // not a number: the default
  EXPECT_TRUE(Bool("yes", true));
}

TEST_F(IniFileTest, EveryReadSeesTheFileAsItIsNow) {
  Given("[general]\nnum_syncs=1\n");
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 1);
  Given("[general]\nnum_syncs=2\n");
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 2);
}

TEST_F(IniFileTest, WritingCreatesTheFile) {
  IniWriteString(ini_, "general", "name", "kunde1");
  IniWriteInteger(ini_, "general", "num_syncs", 65535);
  EXPECT_EQ(ReadFile(ini_), IniText("[general]\nname=kunde1\nnum_syncs=65535\n"));
  EXPECT_EQ(IniReadString(ini_, "general", "name", ""), "kunde1");
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 65535);
}

TEST_F(IniFileTest, WritingAKeyChangesOnlyItsLine) {
  const std::string before =
      "; Einstellungen\r\n"
      "\r\n"
      "[General]\r\n"
      "# the account\r\n"
      "Name = alt\r\n"
      "num_syncs=4\r\n"
      "\r\n"
      "[sync_server]\r\n"
      "base=http://127.0.0.1:8080\r\n"
      "; closing remark\r\n";
  Given(before);
  IniWriteString(ini_, "general", "NAME", "neu");
  std::string expected = before;
  expected.replace(expected.find("Name = alt"), 10, "Name = neu");
  EXPECT_EQ(ReadFile(ini_), expected);
}

TEST_F(IniFileTest, NewKeyJoinsItsSectionAndNewSectionGoesAtTheEnd) {
  Given("[general]\nname=a\n; about the server\n[sync_server]\nbase=http://x\n; end");
  IniWriteInteger(ini_, "General", "num_syncs", 1);
  IniWriteString(ini_, "extra", "k", "v");
  EXPECT_EQ(ReadFile(ini_),
            IniText("[general]\nname=a\nnum_syncs=1\n; about the server\n[sync_server]\n"
                    "base=http://x\n; end\n\n[extra]\nk=v\n"));
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 1);
  EXPECT_EQ(IniReadString(ini_, "sync_server", "base", ""), "http://x");
}

TEST_F(IniFileTest, UnicodeSignatureAtTheStartDoesNotHideTheFirstSection) {
  Given("\xEF\xBB\xBF[general]\r\nnum_syncs=4\r\n");
  IniWriteInteger(ini_, "general", "num_syncs", 5);
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 5);
  EXPECT_EQ(ReadFile(ini_), "\xEF\xBB\xBF[general]\r\nnum_syncs=5\r\n");
}

TEST_F(IniFileTest, WritingTheFirstOfTwoEqualKeysIsWhatTheNextReadSees) {
  Given("[general]\nname=first\n[other]\nx=1\n[general]\nname=second\n");
  IniWriteString(ini_, "general", "name", "new");
  EXPECT_EQ(IniReadString(ini_, "general", "name", ""), "new");
  EXPECT_EQ(ReadFile(ini_),
            IniText("[general]\nname=new\n[other]\nx=1\n[general]\nname=second\n"));
}

TEST_F(IniFileTest, Windows1252BytesRoundTripUnconverted) {
  const std::string name = W("Müller-Groß €") + "\x81";
  IniWriteString(ini_, "general", "name", name);
  EXPECT_EQ(ReadFile(ini_), IniText("[general]\nname=" + name + "\n"));
  EXPECT_EQ(IniReadString(ini_, "general", "name", ""), name);
}

TEST_F(IniFileTest, ValuesTheReaderWouldAlterAreQuoted) {
  for (const std::string value : {" lead", "trail ", "\"quoted\"", "\"", "a\"b\"", "'single'"}) {
    IniWriteString(ini_, "general", "v", value);
    EXPECT_EQ(IniReadString(ini_, "general", "v", "?"), value) << ReadFile(ini_);
  }
}

TEST_F(IniFileTest, MissingFolderGivesAGermanErrorAndNoFile) {
  const std::string path = dir_.File("fehlt/Kelvanor.ini");
  try {
    IniWriteString(path, "general", "name", "x");
    FAIL() << "no error";
  } catch (const EInOutError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind(W("Einstellungen können nicht gespeichert werden: ") + path, 0), 0u)
        << message;
  }
  EXPECT_FALSE(std::filesystem::exists(dir_.File("fehlt")));
}

TEST_F(IniFileTest, RewritingKeepsThePermissionsAndRespectsWriteProtection) {
  namespace fs = std::filesystem;
  Given("[general]\nftp_pass=geheim\n");
  fs::permissions(ini_, fs::perms::owner_read | fs::perms::owner_write);
  IniWriteInteger(ini_, "general", "num_syncs", 2);
#ifndef _WIN32  // Windows keeps only a read-only flag, no permission bits
  EXPECT_EQ(fs::status(ini_).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif

  if (testing::RunningAsRoot()) GTEST_SKIP() << "root writes through any protection";
  fs::permissions(ini_, fs::perms::owner_read);
  EXPECT_THROW(IniWriteInteger(ini_, "general", "num_syncs", 3), EInOutError);
  EXPECT_EQ(IniReadInteger(ini_, "general", "num_syncs", 0), 2);
}

TEST_F(IniFileTest, LineBreakInAValueIsRefusedAndTheFileStays) {
  Given("[general]\nname=a\n");
  EXPECT_THROW(IniWriteString(ini_, "general", "name", "b\n[general]\nnum_syncs=0"), EInOutError);
  EXPECT_EQ(ReadFile(ini_), "[general]\nname=a\n");
}

}  // namespace
}  // namespace kelvanor
