#include "settings/settings.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "support/linux_only.h"
#include "support/scoped_env.h"
#include "support/test_db.h"
#include "util/errors.h"

namespace kelvanor {
namespace {

using testing::ReadFile;
using testing::TempDir;
using testing::W;
using testing::WriteFile;

using testing::ScopedEnv;

// Paths written with "/" as this system writes them ("\\" on Windows).
std::string N(const std::string& path) { return NativeSeparators(path); }

TEST(DetermineFolders, AppDataThenXdgConfigHomeThenHomeConfig) {
  KELVANOR_LINUX_ONLY("XDG_CONFIG_HOME and HOME are Linux fallbacks; Windows has APPDATA");
  ScopedEnv home("HOME", "/home/hs");
  {
    ScopedEnv appData("APPDATA", "/srv/appdata");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/home/hs/xdg");
    const Folders f = DetermineFolders();
    EXPECT_EQ(f.AppDataFolder, "/srv/appdata/dasTessavor/");
    EXPECT_EQ(f.MobileFolder, "/srv/appdata/dasTessavor/mobil");
    EXPECT_EQ(f.ToolIni(), "/srv/appdata/dasTessavor/Kelvanor.ini");
    EXPECT_EQ(f.HostIni(), "/srv/appdata/dasTessavor/tessavor.ini");
    ASSERT_FALSE(f.ProgramFolder.empty());
    EXPECT_EQ(f.ProgramFolder.back(), '/');
  }
  {
    ScopedEnv appData("APPDATA", "");
    ScopedEnv xdg("XDG_CONFIG_HOME", "/home/hs/xdg/");
    EXPECT_EQ(DetermineFolders().AppDataFolder, "/home/hs/xdg/dasTessavor/");
  }
  {
    ScopedEnv appData("APPDATA", nullptr);
    ScopedEnv xdg("XDG_CONFIG_HOME", nullptr);
    EXPECT_EQ(DetermineFolders().AppDataFolder, "/home/hs/.config/dasTessavor/");
    ScopedEnv noHome("HOME", nullptr);
    EXPECT_EQ(DetermineFolders().AppDataFolder, "/dasTessavor/");
  }
}

// A practice installed like on a user's machine: APPDATA/dasTessavor/ with
// both ini files.
class SettingsTest : public ::testing::Test {
 protected:
  TempDir dir_;
  Folders folders_ = MakeFolders();

  Folders MakeFolders() const {
    Folders f;
    f.AppDataFolder = dir_.Path() + N("/dasTessavor/");
    f.ProgramFolder = dir_.Path() + N("/bin/");
    f.MobileFolder = f.AppDataFolder + "mobil";
    std::filesystem::create_directories(SystemPath(f.AppDataFolder));
    return f;
  }
  void Tool(const std::string& content) { WriteFile(folders_.ToolIni(), content); }
  HostDatabaseLocation Host(const std::string& dbPfad, const std::string& dbName = "praxis.db") {
    WriteFile(folders_.HostIni(), "[Allgemein]\r\ndb_pfad=" + dbPfad + "\r\ndb_name=" + dbName +
                                      "\r\n");
    return ReadHostDatabaseLocation(folders_.HostIni(), folders_.AppDataFolder);
  }
  Settings Read() {
    Settings s;
    ReadSettings(folders_, s);
    return s;
  }
};

TEST_F(SettingsTest, RelativeDbPfadResolvesBesideTheHostFolder) {
  const HostDatabaseLocation loc = Host("..\\daten");
  EXPECT_EQ(loc.folder, dir_.Path() + N("/daten/"));
  EXPECT_EQ(loc.file, "praxis.db");
  EXPECT_EQ(loc.Path(), dir_.Path() + N("/daten/praxis.db"));

  EXPECT_EQ(Host("../daten/").folder, dir_.Path() + N("/daten/"));
  EXPECT_EQ(Host(".").folder, folders_.AppDataFolder);
  EXPECT_EQ(Host(".\\db\\.\\x\\..").folder, folders_.AppDataFolder + N("db/"));
  // Above the root stays at the root (on Windows the temporary folder's drive).
  EXPECT_EQ(Host("../../../../../../../../../../../../x").folder,
            dir_.Path().substr(0, dir_.Path().find_first_of("/\\") + 1) + N("x/"));
  // A dot anywhere makes the folder relative, not only in . and .. segments.
  EXPECT_EQ(Host("daten.alt").folder, folders_.AppDataFolder + N("daten.alt/"));
}

TEST_F(SettingsTest, DbPfadWithoutDotIsUsedAsWritten) {
  EXPECT_EQ(Host("C:\\Praxis").folder, N("C:/Praxis/"));
  EXPECT_EQ(Host("/srv/praxis").folder, N("/srv/praxis/"));
  EXPECT_EQ(Host("/srv/praxis/").folder, N("/srv/praxis/"));
  EXPECT_EQ(Host("daten").folder, N("daten/"));
}

TEST_F(SettingsTest, AbsoluteDbPfadWithDotStaysAbsolute) {
  EXPECT_EQ(Host("/srv/alt/../praxis.v2").folder, N("/srv/praxis.v2/"));
  EXPECT_EQ(Host("D:\\Daten\\..\\Praxis.neu").folder, N("D:/Praxis.neu/"));
  // A network path keeps both of its leading separators.
  EXPECT_EQ(Host("\\\\192.168.1.10\\Praxis\\.\\daten").folder,
            N("//192.168.1.10/Praxis/daten/"));
}

TEST_F(SettingsTest, BlankDbPfadGivesAppDataFolderButNonBlankKeepsItsBlanks) {
  EXPECT_EQ(Host("").folder, folders_.AppDataFolder);
  EXPECT_EQ(Host("\"   \"").folder, folders_.AppDataFolder);
  EXPECT_EQ(Host("\" daten \"").folder, N(" daten /"));

  const HostDatabaseLocation missing =
      ReadHostDatabaseLocation(dir_.File("nichts.ini"), folders_.AppDataFolder);
  EXPECT_EQ(missing.folder, folders_.AppDataFolder);
  EXPECT_EQ(missing.file, "");
}

TEST_F(SettingsTest, HostIniNamesCompareWithoutCase) {
  WriteFile(folders_.HostIni(), "[ALLGEMEIN]\nDB_Pfad=/srv/p\nDB_NAME=" + W("Büro.db") + "\n");
  const HostDatabaseLocation loc =
      ReadHostDatabaseLocation(folders_.HostIni(), folders_.AppDataFolder);
  EXPECT_EQ(loc.Path(), N("/srv/p/") + W("Büro.db"));
}

TEST_F(SettingsTest, MissingToolIniReadsAsDefaults) {
  const Settings s = Read();
  EXPECT_EQ(s.local_dir, folders_.AppDataFolder + N("mobil/"));
  EXPECT_FALSE(s.DebugLog);
  EXPECT_EQ(s.name, "");
  EXPECT_EQ(s.server, "");
  EXPECT_EQ(s.SyncCount, 0);
  EXPECT_EQ(s.servers.base, "http://sync.kelvanor.de");
  EXPECT_EQ(s.servers.web, "http://www.kelvanor.de");
  EXPECT_EQ(s.servers.ftp, "ftp://ftp.kelvanor.de");
  EXPECT_EQ(s.servers.publisher, "");
  EXPECT_FALSE(s.servers.ftpTls);
  EXPECT_EQ(ServerLabelText(s), " (0 Synchronisationen)");
}

TEST_F(SettingsTest, FileTablesHoldTheFixedNamesInSlotOrder) {
  const Settings s = Read();
  const FileTable data = {"mob_artikel.txt",  "mob_kunde.txt",   "mob_kunde_pferd.txt",
                          "mob_leistgruppe.txt", "mob_leistung.txt", "mob_pferd.txt",
                          "mob_termin.txt",   "mob.ini",         "mobv2.ini",
                          "mob_stall.txt"};
  const FileTable changes = {"mob_kunde_x.txt",  "mob_stall_x.txt",   "mob_pferd_x.txt",
                             "mob_kunde_pferd_x.txt", "mob_rech_x.txt", "mob_termin_x.txt",
                             "mob_kasse_x.txt",  "mob_report_x.txt",  "mob_artikel_x.txt",
                             "mob_leistung_x.txt"};
  EXPECT_EQ(s.DataFiles, data);
  EXPECT_EQ(s.ChangeFiles, changes);
  EXPECT_EQ(s.DataFiles.size(), 21u);
  EXPECT_EQ(s.DataFiles[10], "");
  EXPECT_EQ(s.ChangeFiles[20], "");
}

TEST_F(SettingsTest, LocalDirBlankFallsBackNonBlankIsKept) {
  Tool("[general]\nlocal_dir=\"   \"\n");
  EXPECT_EQ(Read().local_dir, folders_.AppDataFolder + N("mobil/"));
  Tool("[general]\nlocal_dir=\"" + N(" /data/mobil/") + "\"\n");
  EXPECT_EQ(Read().local_dir, N(" /data/mobil/"));
  // Every user appends a file name: the separator is added when missing.
  Tool("[general]\nlocal_dir=" + N("/data/mobil") + "\n");
  EXPECT_EQ(Read().local_dir, N("/data/mobil/"));
}

TEST_F(SettingsTest, DebugIsANumberAndAnythingElseIsFalse) {
  Tool("[general]\ndebug=1\n");
  EXPECT_TRUE(Read().DebugLog);
  Tool("[general]\ndebug=0x2\n");
  EXPECT_TRUE(Read().DebugLog);
  Tool("[general]\ndebug=0\n");
  EXPECT_FALSE(Read().DebugLog);
  Tool("[general]\ndebug=ja\n");
  EXPECT_FALSE(Read().DebugLog);
}

TEST_F(SettingsTest, AccountSettingsAndTheirEdgeValues) {
  Tool("[GENERAL]\nName=" + W("Müller") +
       "\nserver=s1\ndirectory=d\nftp_user=u\nftp_pass=p\nnum_syncs=12\n");
  Settings s = Read();
  EXPECT_EQ(s.name, W("Müller"));
  EXPECT_EQ(s.server, "s1");
  EXPECT_EQ(s.directory, "d");
  EXPECT_EQ(s.ftpUser, "u");
  EXPECT_EQ(s.ftpPass, "p");
  EXPECT_EQ(s.SyncCount, 12);
  EXPECT_EQ(ServerLabelText(s), W("Müller (12 Synchronisationen)"));

  auto Count = [this](const std::string& value) {
    Tool("[general]\nnum_syncs=" + value + "\n");
    Settings t;
    ReadAccountSettings(folders_, t);
    EXPECT_EQ(t.SyncCount, ReadSyncCounter(folders_)) << value;
    return t.SyncCount;
  };
  EXPECT_EQ(Count("zwei"), 0);
  EXPECT_EQ(Count("3x"), 0);
  EXPECT_EQ(Count("0x10"), 16);
  EXPECT_EQ(Count("65535"), 65535);
  EXPECT_EQ(Count("65536"), 0);
  EXPECT_EQ(Count("70000"), 4464);
  EXPECT_EQ(Count("-1"), 65535);
}

TEST_F(SettingsTest, SyncServerAddressesFromTheToolIni) {
  Tool("[sync_server]\nbase=http://127.0.0.1:8123/\nweb=https://127.0.0.1:8123\nftp=\n"
       "publisher= Hufbeschlag M\xFCller GmbH \nftp_tls=1\n");
  const Settings s = Read();
  EXPECT_TRUE(s.servers.ftpTls);
  EXPECT_EQ(s.servers.base, "http://127.0.0.1:8123");
  EXPECT_EQ(s.servers.web, "https://127.0.0.1:8123");
  EXPECT_EQ(s.servers.ftp, "ftp://ftp.kelvanor.de");
  EXPECT_EQ(s.servers.publisher, "Hufbeschlag M\xFCller GmbH");
}

// A new office sets the server up in the account dialog alone: its name
// gives all three addresses, and what [sync_server] holds still wins.
TEST_F(SettingsTest, TheServerNameGivesTheAddressesSyncServerEntriesWin) {
  Tool("[general]\nserver= sync.praxis-nord.de/ \n");
  Settings s = Read();
  EXPECT_EQ(s.servers.base, "http://sync.praxis-nord.de");
  EXPECT_EQ(s.servers.web, "http://sync.praxis-nord.de");
  EXPECT_EQ(s.servers.ftp, "ftp://sync.praxis-nord.de");
  Tool("[general]\nserver=HTTPS://127.0.0.1:8443\n");
  s = Read();
  EXPECT_EQ(s.servers.base, "https://127.0.0.1:8443");
  EXPECT_EQ(s.servers.web, "https://127.0.0.1:8443");
  // The port typed is the web server's: the FTP server keeps its own.
  EXPECT_EQ(s.servers.ftp, "ftp://127.0.0.1");

  Tool("[general]\nserver=sync.praxis-nord.de\n[sync_server]\nweb=https://www.anbieter.de/\n");
  const ResolvedServerAddresses mixed =
      ResolveServerAddresses(folders_.ToolIni(), Read().server);
  EXPECT_EQ(mixed.addresses.base, "http://sync.praxis-nord.de");
  EXPECT_EQ(mixed.addresses.web, "https://www.anbieter.de");
  EXPECT_EQ(mixed.addresses.ftp, "ftp://sync.praxis-nord.de");
  EXPECT_EQ(mixed.base, AddressSource::kServerName);
  EXPECT_EQ(mixed.web, AddressSource::kSyncServerSection);
  EXPECT_EQ(Read().servers.web, "https://www.anbieter.de");

  // A name that is no host cannot reach a command line; it gives nothing.
  for (const std::string& bad : std::vector<std::string>{"a b", "sync.de & del *", "sync.de/pfad",
                                                         "ftp://sync.de", "s:x", W("bär.de"), "-x"}) {
    EXPECT_EQ(CheckServerName(bad).Message().rfind("Der Server \"", 0), 0u) << bad;
    Tool("[general]\nserver=" + bad + "\n");
    EXPECT_EQ(Read().servers.base, "http://sync.kelvanor.de") << bad;
  }
  EXPECT_TRUE(CheckServerName("").IsOk());
  EXPECT_TRUE(CheckServerName(" http://Sync-2.example.de:8080/ ").IsOk());
}

TEST_F(SettingsTest, CounterWrapsAt16BitsAndWritesKeepTheRest) {
  const std::string before = "; mine\n[general]\nname=hs\nnum_syncs=65535\ndebug=1\n[x]\ny=z\n";
  Tool(before);
  WriteSyncCounter(folders_, static_cast<uint16_t>(ReadSyncCounter(folders_) + 1));
  EXPECT_EQ(ReadSyncCounter(folders_), 0);
  std::string expected = before;
  expected.replace(expected.find("num_syncs=65535"), 15, "num_syncs=0");
  EXPECT_EQ(ReadFile(folders_.ToolIni()), testing::IniText(expected));

  WriteAccountSettings(folders_, W("Groß"), "srv");
  const Settings s = Read();
  EXPECT_EQ(s.name, W("Groß"));
  EXPECT_EQ(s.server, "srv");
  EXPECT_EQ(s.SyncCount, 0);
  EXPECT_TRUE(s.DebugLog);
  EXPECT_EQ(IniReadString(folders_.ToolIni(), "x", "y", ""), "z");
}

TEST_F(SettingsTest, WritingWithoutTheFolderFailsInGerman) {
  Folders gone = folders_;
  gone.AppDataFolder = dir_.Path() + "/fehlt/";
  EXPECT_THROW(WriteSyncCounter(gone, 1), EInOutError);
  EXPECT_THROW(WriteAccountSettings(gone, "a", "b"), EInOutError);
}

TEST(CheckAccountName, RefusesWhatBreaksFileNamesAndCommandLines) {
  for (const char c : std::string("\"\\/:*?<>|%")) {
    const std::string message = CheckAccountName(std::string("ab") + c + "cd").Message();
    EXPECT_NE(message.find(std::string("'") + c + "'"), std::string::npos) << message;
    EXPECT_EQ(message.rfind("Der Kontoname", 0), 0u) << message;
  }
  for (const char c : {'\x01', '\t', '\x1F', '\x7F'}) {
    EXPECT_FALSE(CheckAccountName(std::string("a") + c).IsOk()) << static_cast<int>(c);
  }
  EXPECT_TRUE(CheckAccountName("").IsOk());
  EXPECT_TRUE(CheckAccountName("Hufschmied Meier-2_b.c~").IsOk());
  EXPECT_TRUE(CheckAccountName(W("Müller Mária José")).IsOk());
  // The console code page has no trade mark sign: the name could not reach
  // a command line intact.
  const std::string message = CheckAccountName(W("Schmiede™")).Message();
  EXPECT_EQ(message, W("Der Kontoname \"Schmiede™\" enthält das Zeichen '™', das die "
                       "Eingabeaufforderung (Codepage 850) nicht darstellen kann. Bitte einen "
                       "Namen ohne dieses Zeichen wählen."));
  EXPECT_FALSE(CheckAccountName(W("Müller€")).IsOk());
}

TEST(UrlEncodeAccountName, PlainNamesStayOthersArePercentEncodedBytes) {
  EXPECT_EQ(UrlEncodeAccountName("kunde-1_a.b~"), "kunde-1_a.b~");
  EXPECT_EQ(UrlEncodeAccountName("a b&c=d+e#f"), "a%20b%26c%3Dd%2Be%23f");
  EXPECT_EQ(UrlEncodeAccountName(W("Müller")), "M%FCller");
  EXPECT_EQ(UrlEncodeAccountName(""), "");
}

}  // namespace
}  // namespace kelvanor
