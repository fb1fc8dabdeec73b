#include "settings/settings.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <iterator>
#include <vector>

#include "platform/batch.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "platform/ini_file.h"
#include "platform/temporary_folder.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/exchange_files.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

const char kGeneral[] = "general";

// Settings a sync cannot run with; `message` says which and why.
Outcome Refused(const std::string& message) { return Outcome::Failed("Einstellungen", 0, message); }
const char kSyncServer[] = "sync_server";
const char kHostSection[] = "Allgemein";

const char kDefaultBase[] = "http://sync.kelvanor.de";
const char kDefaultWeb[] = "http://www.kelvanor.de";
const char kDefaultFtp[] = "ftp://ftp.kelvanor.de";

// "/..." or a drive form like "C:/..." (a path written on Windows).
bool IsAbsolutePath(const std::string& path) {
  if (!path.empty() && path[0] == kPathSep) return true;
  const bool letter = path.size() >= 3 && ((path[0] >= 'A' && path[0] <= 'Z') ||
                                           (path[0] >= 'a' && path[0] <= 'z'));
  return letter && path[1] == ':' && path[2] == kPathSep;
}

// Resolves "." and ".." segments by text alone: the folder need not exist
// (the database may sit on a drive that is not mounted yet). A ".." above the
// root stays at the root.
std::string NormalizePath(const std::string& path) {
  std::string root;
  std::size_t pos = 0;
  if (path.size() > 2 && path[0] == kPathSep && path[1] == kPathSep) {
    // A network path: its root is \\server\share\, which ".." never leaves.
    const std::size_t share = path.find(kPathSep, 2);
    const std::size_t end = share == std::string::npos ? share : path.find(kPathSep, share + 1);
    root = end == std::string::npos ? path + kPathSep : path.substr(0, end + 1);
    pos = root.size();
  } else if (!path.empty() && path[0] == kPathSep) {
    root = std::string(1, kPathSep);
    pos = 1;
  } else if (IsAbsolutePath(path)) {
    root = path.substr(0, 3);
    pos = 3;
  }
  std::vector<std::string> segments;
  while (pos <= path.size()) {
    std::size_t end = path.find(kPathSep, pos);
    if (end == std::string::npos) end = path.size();
    const std::string segment = path.substr(pos, end - pos);
    if (segment == "..") {
      if (!segments.empty() && segments.back() != "..") {
        segments.pop_back();
      } else if (root.empty()) {
        segments.push_back(segment);
      }
    } else if (!segment.empty() && segment != ".") {
      segments.push_back(segment);
    }
    pos = end + 1;
  }
  std::string result = root;
  for (std::size_t i = 0; i < segments.size(); ++i) {
    if (i > 0) result += kPathSep;
    result += segments[i];
  }
  return result.empty() ? std::string(".") : result;
}

// The address under `key` of section sync_server, "" when there is none.
std::string ReadServerAddress(const std::string& ini, const char* key) {
  std::string address = Trim(IniReadString(ini, kSyncServer, key, ""));
  if (!address.empty() && address.back() == '/') address.pop_back();
  return address;
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// A server name split into its web scheme and host[:port]; false when what
// is left is no host name: it goes into command lines and URLs, so only
// letters, digits, '-' and '.' pass, and a port of digits.
bool ParseServerName(const std::string& serverName, std::string& webScheme, std::string& host) {
  std::string name = Trim(serverName);
  webScheme = "http";
  if (StartsWithNoCase(name, "https://")) {
    webScheme = "https";
    name.erase(0, 8);
  } else if (StartsWithNoCase(name, "http://")) {
    name.erase(0, 7);
  }
  while (!name.empty() && name.back() == '/') name.pop_back();
  host = name;
  const std::size_t colon = name.find(':');
  const std::string hostName = name.substr(0, colon);
  if (hostName.empty() || hostName.front() == '.' || hostName.front() == '-') return false;
  for (const char c : hostName) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '-' || c == '.';
    if (!ok) return false;
  }
  if (colon == std::string::npos) return true;
  const std::string port = name.substr(colon + 1);
  if (port.empty() || port.size() > 5) return false;
  return std::all_of(port.begin(), port.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

Folders DetermineFolders() {
  // Without any base the folder lands in the root, as on Windows without
  // APPDATA.
  const std::string base = ApplicationDataBase();
  Folders folders;
  folders.AppDataFolder = base + kPathSep + "dasTessavor" + kPathSep;
  folders.ProgramFolder = ExecutableFolder();
  folders.MobileFolder = folders.AppDataFolder + "mobil";
  folders.AppDataCharacterLost = ApplicationDataBaseCharacterLost();
  return folders;
}

Outcome CheckApplicationDataFolderName(const Folders& folders) {
  if (folders.AppDataCharacterLost.empty()) return Outcome::Ok();
  return Refused("Der Ordner der Anwendungsdaten \"" + folders.AppDataFolder +
                 W1252("\" enthält das Zeichen ") + folders.AppDataCharacterLost +
                 W1252(", das Kelvanor nicht verarbeiten kann (nur Zeichen des westeuropäischen "
                       "Zeichensatzes Windows-1252). Bitte Kelvanor unter einem Benutzerkonto ohne "
                       "dieses Zeichen im Ordnernamen starten."));
}

std::unique_ptr<InstanceLock> LockApplicationDataFolder(const Folders& folders) {
  // Working on would mean working in a folder of a similar name: its files
  // are not the user's, and on Windows the name cannot even be made.
  const Outcome usable = CheckApplicationDataFolderName(folders);
  if (!usable.IsOk()) throw EInOutError(usable.Message());
  std::error_code error;
  std::filesystem::create_directories(SystemPath(folders.AppDataFolder), error);
  std::unique_ptr<InstanceLock> lock = InstanceLock::TryAcquire(folders.LockFile());
  if (lock != nullptr) {
    RemoveAbandonedTemporaryFolders(kTemporaryFolderPrefix, {kCurlConfigFileName});
  }
  return lock;
}

HostDatabaseLocation ReadHostDatabaseLocation(const std::string& hostIniPath,
                                              const std::string& appDataFolder) {
  // The host application is a Windows program: its paths may use "\".
  std::string folder = NativeSeparators(IniReadString(hostIniPath, kHostSection, "db_pfad", ""));
  if (folder.find('.') != std::string::npos) {
    if (IsAbsolutePath(folder)) {
      folder = NormalizePath(folder);
    } else {
      std::string iniFolder = ExtractFilePath(hostIniPath);
      if (!IsAbsolutePath(iniFolder)) iniFolder = CurrentFolder() + iniFolder;
      folder = NormalizePath(iniFolder + folder);
    }
  }
  if (Trim(folder).empty()) folder = appDataFolder;
  if (folder.empty() || folder.back() != kPathSep) folder += kPathSep;

  HostDatabaseLocation location;
  location.folder = folder;
  location.file = IniReadString(hostIniPath, kHostSection, "db_name", "");
  return location;
}

std::string DatabaseNotFoundHint(const Folders& folders, const HostDatabaseLocation& location) {
  if (!location.file.empty() && FileExists(location.Path())) return "";
  const std::string restart = ", dann Kelvanor neu starten.";
  if (!FileExists(folders.HostIni())) {
    return "\r\rKelvanor liest den Ort der Praxis-Datenbank aus den Einstellungen von "
           "dasTessavor (" + folders.HostIni() + "); diese Datei fehlt. Bitte dasTessavor auf "
           "diesem PC installieren und einmal starten" + restart;
  }
  if (location.file.empty()) {
    return "\r\rIn " + folders.HostIni() + " ist keine Datenbank eingetragen (db_name fehlt). "
           "Bitte dasTessavor einmal starten" + restart;
  }
  return "\r\rGesucht wurde die Datei " + location.Path() +
         ". Bitte dasTessavor installieren und "
         "einmal starten oder in " +
         folders.HostIni() + W1252(" db_pfad und db_name prüfen") + restart;
}

void ReadSettings(const Folders& folders, Settings& settings) {
  const std::string ini = folders.ToolIni();
  const std::string defaultLocal = folders.AppDataFolder + "mobil" + kPathSep;
  std::string localDir = IniReadString(ini, kGeneral, "local_dir", defaultLocal);
  if (Trim(localDir).empty()) localDir = defaultLocal;
  // Every user of local_dir appends a file name to it.
  if (localDir.back() != kPathSep) localDir += kPathSep;
  settings.local_dir = localDir;
  settings.DebugLog = IniReadBool(ini, kGeneral, "debug", false);

  settings.DataFiles = FileTable{};
  settings.ChangeFiles = FileTable{};
  for (const ExchangeFile& file : kExchangeFiles) {
    if (file.dataSlot >= 0) settings.DataFiles[static_cast<std::size_t>(file.dataSlot)] = file.dataFile;
    if (file.changeSlot >= 0) {
      settings.ChangeFiles[static_cast<std::size_t>(file.changeSlot)] = file.changeFile;
    }
  }

  ReadAccountSettings(folders, settings);
}

void ReadAccountSettings(const Folders& folders, Settings& settings) {
  const std::string ini = folders.ToolIni();
  settings.name = IniReadString(ini, kGeneral, "name", "");
  settings.server = IniReadString(ini, kGeneral, "server", "");
  settings.directory = IniReadString(ini, kGeneral, "directory", "");
  settings.ftpUser = IniReadString(ini, kGeneral, "ftp_user", "");
  settings.ftpPass = IniReadString(ini, kGeneral, "ftp_pass", "");
  settings.SyncCount = ReadSyncCounter(folders);
  settings.servers = ResolveServerAddresses(ini, settings.server).addresses;
}

ResolvedServerAddresses ResolveServerAddresses(const std::string& toolIni,
                                               const std::string& serverName) {
  std::string webScheme;
  std::string host;
  const bool named = !Trim(serverName).empty() && ParseServerName(serverName, webScheme, host);
  // A port typed with the name is the web server's; the FTP server of the
  // same host listens on its own (21) unless section sync_server says where.
  const std::string ftpHost = host.substr(0, host.find(':'));
  ResolvedServerAddresses resolved;
  auto resolve = [&](const char* key, const std::string& fromName, const char* builtIn,
                     std::string& address, AddressSource& source) {
    address = ReadServerAddress(toolIni, key);
    if (!address.empty()) {
      source = AddressSource::kSyncServerSection;
    } else if (named) {
      address = fromName;
      source = AddressSource::kServerName;
    } else {
      address = builtIn;
      source = AddressSource::kBuiltIn;
    }
  };
  resolve("base", webScheme + "://" + host, kDefaultBase, resolved.addresses.base, resolved.base);
  resolve("web", webScheme + "://" + host, kDefaultWeb, resolved.addresses.web, resolved.web);
  resolve("ftp", "ftp://" + ftpHost, kDefaultFtp, resolved.addresses.ftp, resolved.ftp);
  resolved.addresses.publisher = Trim(IniReadString(toolIni, kSyncServer, "publisher", ""));
  resolved.addresses.ftpTls = IniReadBool(toolIni, kSyncServer, "ftp_tls", false);
  return resolved;
}

Outcome CheckServerName(const std::string& serverName) {
  std::string webScheme;
  std::string host;
  if (Trim(serverName).empty() || ParseServerName(serverName, webScheme, host)) return Outcome::Ok();
  return Refused("Der Server \"" + Trim(serverName) +
                 "\" ist kein Rechnername. Bitte den Namen des Sync-Servers eintragen, wie ihn der "
                 "Anbieter nennt, zum Beispiel sync.kelvanor.de (erlaubt sind Buchstaben ohne "
                 "Umlaute, Ziffern, '-' und '.', dahinter wahlweise :Port).");
}

std::string ServerLabelText(const Settings& settings) {
  return settings.name + " (" +
         Counted(settings.SyncCount, "Synchronisation", "Synchronisationen") + ")";
}

uint16_t ReadSyncCounter(const Folders& folders) {
  // A 16-bit field: a larger stored number keeps its low 16 bits.
  return static_cast<uint16_t>(IniReadInteger(folders.ToolIni(), kGeneral, "num_syncs", 0));
}

void WriteSyncCounter(const Folders& folders, uint16_t value) {
  IniWriteInteger(folders.ToolIni(), kGeneral, "num_syncs", value);
}

bool ReadUploadPending(const Folders& folders) {
  return IniReadBool(folders.ToolIni(), kGeneral, "upload_pending", false);
}

int ReadRestorePointsKept(const Folders& folders, int fallback) {
  const long kept = IniReadInteger(folders.ToolIni(), kGeneral, "restore_points", fallback);
  return kept > 0 && kept <= 10000 ? static_cast<int>(kept) : fallback;
}

void WriteUploadPending(const Folders& folders, bool pending) {
  IniWriteInteger(folders.ToolIni(), kGeneral, "upload_pending", pending ? 1 : 0);
}

void WriteServerSetting(const Folders& folders, const std::string& key, const std::string& value) {
  IniWriteString(folders.ToolIni(), kSyncServer, key, value);
}

void WriteAccountSettings(const Folders& folders, const std::string& name,
                          const std::string& server) {
  IniWriteString(folders.ToolIni(), kGeneral, "name", name);
  IniWriteString(folders.ToolIni(), kGeneral, "server", server);
}

Outcome CheckAccountName(const std::string& name) {
  static const std::string kForbidden = "\"\\/:*?<>|%";
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return Refused("Der Kontoname darf keine Steuerzeichen enthalten (Zeichencode " +
             std::to_string(byte) + ").");
    }
    if (kForbidden.find(c) != std::string::npos) {
      return Refused(std::string("Der Kontoname darf das Zeichen '") + c +
             "' nicht enthalten. Nicht erlaubt sind: \" \\ / : * ? < > | %");
    }
  }
  const std::size_t bad = FindNonOemCharacter(name);
  if (bad != std::string::npos) {
    return Refused(
        "Der Kontoname \"" + name + W1252("\" enthält das Zeichen '") + name[bad] +
        W1252("', das die Eingabeaufforderung (Codepage 850) nicht darstellen kann. Bitte einen "
              "Namen ohne dieses Zeichen wählen."));
  }
  return Outcome::Ok();
}

Outcome CheckCommandLineSettings(const Settings& settings) {
  const Outcome name = CheckAccountName(settings.name);
  if (!name.IsOk()) return name;
  const std::size_t bad = FindNonOemCharacter(settings.local_dir);
  if (bad != std::string::npos) {
    return Refused(
        "Der Ordner \"" + settings.local_dir + W1252("\" enthält das Zeichen '") +
        settings.local_dir[bad] +
        W1252("', das die Eingabeaufforderung (Codepage 850) nicht darstellen kann; die "
              "Synchronisation läuft deshalb nicht. Bitte in Kelvanor.ini unter local_dir einen "
              "Ordner ohne dieses Zeichen eintragen."));
  }
  return Outcome::Ok();
}

std::string UrlEncodeAccountName(const std::string& name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string encoded;
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' ||
                            c == '~';
    if (unreserved) {
      encoded += c;
    } else {
      // The raw Windows-1252 byte: the server names the account's folders
      // with the same bytes the tool sends.
      encoded += '%';
      encoded += kHex[byte >> 4];
      encoded += kHex[byte & 0x0F];
    }
  }
  return encoded;
}

}  // namespace kelvanor
