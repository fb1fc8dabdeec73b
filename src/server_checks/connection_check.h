// The connection check: each address of the sync server a sync would use is
// tried once, the way a sync reaches it (curl through tmp.bat), and said in
// German whether it answers and whether the practice's data travels
// encrypted; for an address in the clear, whether the server offers the
// encrypted variant (https on the same host, FTP with TLS on the same port).
//
// It changes nothing on the server: no script is called (zip.php, unzip.php
// and delmob.php pack, unpack or delete), no file is stored. The scripts'
// and the files' address get a HEAD request for a file (the account's
// download archive, the version file; missing is fine); the FTP address a
// login and a listing of the login folder, which opens a data connection as
// the upload does.
//
// Bounded: an attempt gets kConnectSeconds to connect and kAttemptSeconds in
// all, the whole check kCheckSeconds; what is left then is not tried. While
// an attempt runs the front end's pump turns (RunCommand), and each attempt
// is announced as a detail line of the log ("Prüfe ...").
//
// Room src/server_checks: what the tool asks of the sync server outside a
// sync (does every address answer, is there a newer version). It uses the
// server room's transfers and the settings, never the sync run: a
// TransferLog is all it knows of one.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "server/transfer_log.h"
#include "settings/settings.h"

namespace kelvanor {

constexpr int kConnectSeconds = 5;
constexpr int kAttemptSeconds = 8;
constexpr int kCheckSeconds = 30;

// What one address in use answered.
struct AddressCheck {
  std::string role;     // "Skripte", "Updates", "Upload"
  std::string address;  // as in use, without a password
  std::string user;     // who logs in through the address itself, "" none
  int port = 0;
  bool reached = false;    // answers as a sync needs it
  std::string state;       // "erreichbar", "nicht erreichbar: Name nicht gefunden" ...
  bool encrypted = false;  // the data travels encrypted (after a redirect too)
  // Where a redirect to https led ("https://host:port"), "" when none.
  std::string redirectedTo;
  // For an address in the clear: the encrypted variant, whether it was tried
  // and whether the server offers it (answers, its certificate trusted).
  std::string secureAddress;
  bool secureTried = false;
  bool secureOffered = false;
  std::string secureState;

  // One line for the user: address, port, whether it answers, whether encrypted.
  std::string Line() const;
  // The settings can say what the server offers: https or TLS where the
  // address goes in the clear, or the https address a redirect leads to.
  bool Switchable() const;
};

struct ConnectionReport {
  std::string accountLine;  // the account name as the server will see it
  std::vector<AddressCheck> checks;  // scripts, updates, upload

  bool AllReached() const;
  // Some address could be set to what the server offers (Switchable).
  bool EncryptionOffered() const;
  // The account line, one line per address, a closing line.
  std::vector<std::string> Lines() const;
};

// Tries the addresses of `servers` for the account `account`. Raises
// EInOutError when the folder for its tmp.bat cannot be made.
ConnectionReport CheckConnection(const ServerAddresses& servers, const std::string& account,
                                 TransferLog& log);

// The addresses with encryption where a check found it offered: https for
// the scripts and the updates, TLS for an ftp:// upload; `keys` are the
// entries of section sync_server that say so ("base", "https://...").
struct EncryptionSwitch {
  ServerAddresses addresses;
  std::vector<std::pair<std::string, std::string>> keys;
};
std::optional<EncryptionSwitch> OfferedEncryption(const ConnectionReport& report,
                                                  const ServerAddresses& current);
// The keys as lines to put into section sync_server, passwords left out.
std::vector<std::string> SwitchSettingLines(const EncryptionSwitch& change);

// Checks again through the encrypted addresses and, only when every address
// answers and those switched travel encrypted, writes the keys into section
// sync_server. `lines` says what was found and what changed, or why nothing
// did. Raises when Kelvanor.ini cannot be written.
struct SwitchOutcome {
  bool switched = false;
  ConnectionReport report;
  std::vector<std::string> lines;
};
SwitchOutcome SwitchToEncryption(const Folders& folders, const EncryptionSwitch& change,
                                 const std::string& account, TransferLog& log);

// How a sync transfers with `servers`, judged by the addresses alone.
enum class Encryption { kNone, kPartly, kFull };
Encryption TransferEncryption(const ServerAddresses& servers);
// The line every sync logs at its start: "Verbindung zum Sync-Server:
// unverschlüsselt (HTTP, FTP)", "... verschlüsselt (HTTPS, FTP mit TLS)".
std::string TransferModeLine(const ServerAddresses& servers);
// The same in one word for the window ("verschlüsselt" ...), and what stands
// behind it, one line per address (without passwords).
std::string TransferModeWord(const ServerAddresses& servers);
std::string TransferModeDetail(const ServerAddresses& servers);

}  // namespace kelvanor
