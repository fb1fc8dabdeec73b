// The tool's folders and settings: Kelvanor.ini (ours) and the host's
// tessavor.ini (read only), read key by key and never cached.
//
// Room src/settings: the lowest room of the workflow; every other one
// reads its settings and folders through it.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/environment.h"
#include "platform/instance_lock.h"
#include "util/outcome.h"

namespace kelvanor {

constexpr int kFileTableSlots = 21;
using FileTable = std::array<std::string, kFileTableSlots>;

// The three addresses of the sync server (section sync_server of Kelvanor.ini):
// scheme, host and optional :port, no trailing slash.
struct ServerAddresses {
  std::string base;  // HTTP address of the scripts (/mob/...)
  std::string web;   // HTTP(S) address of /sync/...
  std::string ftp;   // FTP address of the upload (ftps://: TLS from the first byte)
  // ftp_tls=1: the login and the upload over ftp:// must switch to TLS
  // (AUTH TLS), with the server's certificate verified; refused otherwise.
  bool ftpTls = false;
  // Key publisher: whose code signature an update fetched from `web` must
  // carry when it did not come over verified https (Windows; empty: none).
  std::string publisher;
};

// Where an address of the sync server comes from: the user's own entry in
// section sync_server wins over the server name of the account dialog, which
// wins over the built-in address.
enum class AddressSource { kSyncServerSection, kServerName, kBuiltIn };

struct ResolvedServerAddresses {
  ServerAddresses addresses;
  AddressSource base = AddressSource::kBuiltIn;
  AddressSource web = AddressSource::kBuiltIn;
  AddressSource ftp = AddressSource::kBuiltIn;
};

// The addresses the tool uses with the server name `serverName` (as typed in
// the account dialog) and what section sync_server of `toolIni` holds: a key
// there wins; else a usable server name gives http://<server> for base and
// web (https:// when the name was typed with it) and ftp://<server> for ftp;
// else the built-in address.
ResolvedServerAddresses ResolveServerAddresses(const std::string& toolIni,
                                               const std::string& serverName);

// Refuses, with a German message, a server name that is no host name with an
// optional :port (blanks around it, a leading http:// or https:// and a
// trailing slash are allowed). An empty name is fine: no server of its own.
Outcome CheckServerName(const std::string& serverName);

struct Folders {
  std::string AppDataFolder;  // ends with the path separator
  std::string ProgramFolder;  // ends with the path separator
  std::string MobileFolder;   // no trailing separator
  // A character of the application-data folder's real name that the tool's
  // Windows-1252 texts lack ("U+0141"), "" when none: AppDataFolder then
  // names another folder, and LockApplicationDataFolder refuses it.
  std::string AppDataCharacterLost;
  std::string ToolIni() const { return AppDataFolder + "Kelvanor.ini"; }
  std::string HostIni() const { return AppDataFolder + "tessavor.ini"; }
  std::string LockFile() const { return AppDataFolder + "Kelvanor.lock"; }
  // Where the version file and a downloaded update go: a folder the user may
  // write to, which the program folder of an installed Kelvanor is not.
  std::string UpdateFolder() const { return AppDataFolder + "Kelvanor-Update" + kPathSep; }
  // Where earlier versions kept the import journal of an account and the
  // base of the last upload; see AccountFiles for where they are now. The
  // name must have passed CheckAccountName.
  std::string LegacyImportJournalFile(const std::string& account) const {
    return AppDataFolder + "Kelvanor-Importjournal_" + account + ".db";
  }
  std::string LegacyBaseFolder() const { return AppDataFolder + "Kelvanor-Basis" + kPathSep; }
};

// Takes the lock that keeps a second Kelvanor (window or CLI) off this
// application-data folder, creating the folder when it is missing. Null when
// another process holds it. Raises EInOutError when the lock cannot be made,
// and before anything is created when the folder's name cannot be held in the
// tool's texts (AppDataCharacterLost).
std::unique_ptr<InstanceLock> LockApplicationDataFolder(const Folders& folders);

// Refuses, with a German message, an application-data folder whose name
// the tool's texts cannot hold (AppDataCharacterLost).
Outcome CheckApplicationDataFolderName(const Folders& folders);

// ApplicationDataBase() (the platform's per-user data folder) plus
// "dasTessavor" and a separator.
// ProgramFolder is the folder of the running executable.
Folders DetermineFolders();

struct HostDatabaseLocation {
  std::string folder;  // ends with the path separator
  std::string file;
  std::string Path() const { return folder + file; }
};

// db_pfad / db_name of section Allgemein. A folder holding a dot is taken
// relative to the ini's folder and normalised; a blank one gives AppDataFolder.
HostDatabaseLocation ReadHostDatabaseLocation(const std::string& hostIniPath,
                                              const std::string& appDataFolder);

// What a user needs beside "Datenbank-Datei nicht gefunden!" when the
// practice database is not at `location`: which file was looked for, from
// which ini file, and what to do (dasTessavor installed and started once, or
// db_pfad/db_name put right). Starts with a blank line; "" when the file is
// there (the database failed for another reason).
std::string DatabaseNotFoundHint(const Folders& folders, const HostDatabaseLocation& location);

struct Settings {
  // [general] of Kelvanor.ini; Windows-1252 texts.
  std::string name, server, directory, ftpUser, ftpPass;
  uint16_t SyncCount = 0;
  std::string local_dir;  // ends with the path separator
  bool DebugLog = false;
  FileTable DataFiles{};
  FileTable ChangeFiles{};
  ServerAddresses servers;
};

// local_dir, debug, the file tables, then ReadAccountSettings.
void ReadSettings(const Folders& folders, Settings& settings);
// name, server, directory, ftp_user, ftp_pass, num_syncs, and the server's
// addresses (ResolveServerAddresses).
void ReadAccountSettings(const Folders& folders, Settings& settings);
// "%s (%d syncs)" with the account name and SyncCount.
std::string ServerLabelText(const Settings& settings);

// The sync counter in the file, 16-bit: 65535 + 1 gives 0.
uint16_t ReadSyncCounter(const Folders& folders);
void WriteSyncCounter(const Folders& folders, uint16_t value);
// Whether the last upload failed (upload_pending in [general]): the mobile
// then still works on older data than the practice's.
bool ReadUploadPending(const Folders& folders);
// [general] restore_points: how many restore points of the practice database
// stay (see restore_points.h); `fallback` when the key is missing or not a
// number above 0.
int ReadRestorePointsKept(const Folders& folders, int fallback);
void WriteUploadPending(const Folders& folders, bool pending);
// Writes name and server (the account dialog's OK).
void WriteAccountSettings(const Folders& folders, const std::string& name,
                          const std::string& server);

// Characters an account name may not hold: they break file names or command
// lines, or the console code page cannot show them (™, €, Š ...). Fails with
// a German message naming the character.
Outcome CheckAccountName(const std::string& name);
// Everything of the settings that goes into a command line of tmp.bat: the
// account name (CheckAccountName) and local_dir, whose every character must
// exist in the console code page. Fails with a German message naming the
// character and the name or folder.
Outcome CheckCommandLineSettings(const Settings& settings);
// The name as it goes into a URL: percent-encoded, plain names unchanged.
std::string UrlEncodeAccountName(const std::string& name);

}  // namespace kelvanor
