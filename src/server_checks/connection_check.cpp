#include "server_checks/connection_check.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <system_error>

#include "platform/environment.h"
#include "platform/file_system.h"
#include "server/command_batch.h"
#include "server/server_address.h"
#include "server/server_answer.h"
#include "server/transfer.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The upload's FTP account is fixed, like the upload's own (transfer.cpp).
constexpr char kFtpLogin[] = "ftp5830417-mob:kwaldrimensup";

using Clock = std::chrono::steady_clock;

// One curl command of the check and what came of it.
struct Attempt {
  int exitCode = 0;
  CurlVerdict verdict;
  int seconds = 0;  // what it was given
};

// Runs the check's commands in a folder of its own, so a sync's tmp.bat in
// local_dir is never touched (kelvanor-cli may check while the window syncs),
// within the check's time.
class Prober {
 public:
  explicit Prober(TransferLog& log)
      : log_(log), deadline_(Clock::now() + std::chrono::seconds(kCheckSeconds)) {
    folder_ = MakeTemporaryFolder("kelvanor-check-");
    if (folder_.empty()) {
      throw EInOutError(W1252("Für die Verbindungsprüfung kann kein temporärer Ordner angelegt "
                              "werden."));
    }
    folder_ += kPathSep;
  }
  ~Prober() {
    std::error_code ignored;
    std::filesystem::remove_all(SystemPath(folder_), ignored);
  }
  Prober(const Prober&) = delete;
  Prober& operator=(const Prober&) = delete;

  // What the https variant of an origin showed, so the scripts and the
  // updates on one host ask once.
  struct Secure {
    bool tried = false;
    bool offered = false;
    std::string state;
  };
  std::map<std::string, Secure> secure;

  // Null when the check's time is used up.
  std::optional<Attempt> Run(const std::string& what, const std::string& command,
                             CurlRequest request, const std::string& url,
                             const std::string& login) {
    const auto left =
        std::chrono::duration_cast<std::chrono::seconds>(deadline_ - Clock::now()).count();
    if (left < 2) return std::nullopt;
    Attempt attempt;
    attempt.seconds = static_cast<int>(std::min<long long>(kAttemptSeconds, left));
    log_.LogLine(W1252("Prüfe ") + what + " ...");
    std::string output;
    attempt.exitCode = RunCommand(command + " --connect-timeout " +
                                      std::to_string(std::min(kConnectSeconds, attempt.seconds)) +
                                      " --max-time " + std::to_string(attempt.seconds),
                                  folder_, log_.Pump(), &output, login);
    attempt.verdict = JudgeCurl(request, url, attempt.exitCode, CurlOutputText(output));
    return attempt;
  }

 private:
  TransferLog& log_;
  Clock::time_point deadline_;
  std::string folder_;
};

std::string OriginOf(const std::string& url) { return ParseServerAddress(url).Origin(); }

// Why a connection did not come about, in a few German words.
std::string ConnectionProblem(const Attempt& attempt, int port) {
  const CurlVerdict& v = attempt.verdict;
  switch (v.exitCode) {
    case 5:
      return "Proxy nicht gefunden";
    case 6:
      return "Name nicht gefunden (Tippfehler im Servernamen?)";
    case 7:
      return "Verbindung abgelehnt (an Port " + std::to_string(port) + " antwortet kein Server)";
    case 28:
      return "keine Antwort in " + std::to_string(std::min(kConnectSeconds, attempt.seconds)) +
             " Sekunden (eine Firewall verwirft die Anfrage, oder der Server ist aus)";
    case 35:
      return W1252("die verschlüsselte Verbindung kam nicht zustande");
    case 60:
      return W1252("Zertifikat nicht vertrauenswürdig (von keiner anerkannten Stelle, oder für "
                   "einen anderen Namen ausgestellt)");
    case 64:
      return W1252("der FTP-Server bietet kein TLS an");
    default:
      break;
  }
  return "curl meldet Fehler " + std::to_string(v.exitCode);
}

// What an address's answer means for a sync, as `check.reached` and
// `check.state` (and `encrypted`, `redirectedTo` for HTTP).
void ReadHttpAttempt(const Attempt& attempt, AddressCheck& check) {
  using Kind = CurlVerdict::Kind;
  const CurlVerdict& v = attempt.verdict;
  const std::string words = v.words.empty() ? std::string() : ": " + v.words;
  const std::string code = "Antwort " + std::to_string(v.code);
  const bool toHttps = v.redirected && ParseServerAddress(v.reached).Encrypted() &&
                       !ParseServerAddress(v.requested).Encrypted();
  switch (v.kind) {
    case Kind::kDone:
    case Kind::kNoArchive:
      check.reached = true;
      check.state = "erreichbar";
      break;
    case Kind::kFailed:
      if (v.code == 401 || v.code == 407) {
        check.state = "erreichbar, verlangt aber eine Anmeldung (" + code + words + ")";
      } else if (v.code == 403) {
        check.state = "erreichbar, verweigert aber den Zugriff (" + code + words + ")";
      } else if (v.code >= 500) {
        check.state = "erreichbar, meldet aber einen Fehler (" + code + words + ")";
      } else {
        // 405 and the like: the server answers; what HEAD gets there does
        // not matter to a sync.
        check.reached = true;
        check.state = "erreichbar";
      }
      break;
    case Kind::kTooSlow:
      check.state = "erreichbar, antwortet aber nicht in " + std::to_string(attempt.seconds) +
                    " Sekunden";
      break;
    case Kind::kMoved:
      if (toHttps && SameRequest(v.requested, v.reached)) {
        check.state = "leitet nach " + OriginOf(v.reached) +
                      W1252(" weiter (verschlüsselt), dort nicht erreichbar: ") +
                      ConnectionProblem(attempt, ParseServerAddress(v.reached).port);
        break;
      }
      check.state = "erreichbar, leitet aber nach " + v.reached +
                    W1252(" weiter, eine andere Adresse; dort ") +
                    (v.exitCode == 0 || v.exitCode == 22
                         ? std::string("antwortet nicht, was eine Synchronisation braucht")
                         : "nicht erreichbar: " +
                               ConnectionProblem(attempt, ParseServerAddress(v.reached).port)) +
                    W1252(". Bitte die Adresse anpassen");
      break;
    case Kind::kInsecure:
      check.state = toHttps ? "leitet nach " + OriginOf(v.reached) +
                                  W1252(" weiter (verschlüsselt), dort nicht erreichbar: ") +
                                  ConnectionProblem(attempt, ParseServerAddress(v.reached).port)
                            : "nicht erreichbar: " +
                                  ConnectionProblem(attempt, ParseServerAddress(v.requested).port);
      break;
    default:
      check.state =
          "nicht erreichbar: " + ConnectionProblem(attempt, ParseServerAddress(v.requested).port);
      break;
  }
  if (check.reached && toHttps) {
    check.redirectedTo = OriginOf(v.reached);
    check.state = "erreichbar, leitet nach " + check.redirectedTo + " weiter";
  }
  check.encrypted = check.reached && ParseServerAddress(v.reached).Encrypted();
}

void ReadFtpAttempt(const Attempt& attempt, AddressCheck& check) {
  using Kind = CurlVerdict::Kind;
  const CurlVerdict& v = attempt.verdict;
  const std::string said = v.words.empty() ? std::string() : " (\"" + v.words + "\")";
  switch (v.kind) {
    case Kind::kDone:
      check.reached = true;
      check.state = "erreichbar, Anmeldung gelungen";
      break;
    case Kind::kLoginRefused:
      check.state = "erreichbar, aber Anmeldung abgelehnt" + said;
      break;
    case Kind::kNoPassive:
      check.state = W1252("erreichbar, lässt aber keinen passiven Modus zu") + said +
                    W1252("; bitte den Betreiber bitten, ihn freizugeben");
      break;
    case Kind::kDataRefused:
      check.state = "erreichbar, Anmeldung gelungen, aber die Datenverbindung (passiver Modus" +
                    (v.dataPort > 0 ? ", Port " + std::to_string(v.dataPort) : std::string()) +
                    W1252(") kam nicht zustande; bitte den Betreiber fragen, ob die Ports für "
                          "passives FTP freigegeben sind");
      break;
    case Kind::kTooSlow:
      check.state = "erreichbar, antwortet aber nicht in " + std::to_string(attempt.seconds) +
                    " Sekunden";
      break;
    default:
      check.state = "nicht erreichbar: " + ConnectionProblem(attempt, check.port);
      break;
  }
}

// Why the encrypted variant is not offered, from its attempt.
std::string NotOffered(const Attempt& attempt, int port) {
  using Kind = CurlVerdict::Kind;
  const CurlVerdict& v = attempt.verdict;
  switch (v.kind) {
    case Kind::kLoginRefused:
      return "Anmeldung abgelehnt" + (v.words.empty() ? std::string() : " (\"" + v.words + "\")");
    case Kind::kMoved:
      return "leitet nach " + v.reached + " weiter";
    case Kind::kFailed:
      return "Antwort " + std::to_string(v.code);
    default:
      return ConnectionProblem(attempt, port);
  }
}

bool ConnectionFailed(const Attempt& attempt) {
  return attempt.verdict.kind == CurlVerdict::Kind::kUnreachable;
}

std::string NotTried() { return W1252("nicht geprüft: die Prüfung hat ihre Zeit aufgebraucht"); }

// An HTTP address: a HEAD request for `file` below it, then, in the clear,
// the same on https.
AddressCheck CheckHttp(Prober& prober, const std::string& role, const std::string& address,
                       const std::string& file) {
  const ServerAddress parsed = ParseServerAddress(address);
  AddressCheck check;
  check.role = role;
  check.address = parsed.WithoutLogin();
  check.user = parsed.user;
  check.port = parsed.port;
  const std::string url = check.address + file;
  const std::optional<Attempt> plain =
      prober.Run(role + ": " + check.address, "curl.exe -I " + url, CurlRequest::kArchive, url,
                 parsed.login);
  if (!plain) {
    check.state = NotTried();
    return check;
  }
  ReadHttpAttempt(*plain, check);
  if (check.encrypted || parsed.Encrypted()) {
    // Redirected to https, the data travels encrypted, and that address is
    // what the server offers for the settings.
    check.encrypted = true;
    if (!check.redirectedTo.empty()) {
      check.secureAddress = check.redirectedTo;
      check.secureTried = check.secureOffered = true;
    }
    return check;
  }
  // https on the same host, at its own port: a port written for http is the
  // plain web server's.
  check.secureAddress = "https://" + parsed.host;
  if (plain->verdict.exitCode == 6) {
    check.secureState = "Name nicht gefunden";
    return check;
  }
  const auto seen = prober.secure.find(check.secureAddress);
  if (seen != prober.secure.end()) {
    check.secureTried = seen->second.tried;
    check.secureOffered = seen->second.offered;
    check.secureState = seen->second.state;
    return check;
  }
  const std::string secureUrl = WithOrigin(check.address, check.secureAddress) + file;
  const std::optional<Attempt> secure =
      prober.Run(role + W1252(" verschlüsselt: ") + check.secureAddress, "curl.exe -I " + secureUrl,
                 CurlRequest::kArchive, secureUrl, parsed.login);
  if (!secure) {
    check.secureState = NotTried();
    return check;
  }
  check.secureTried = true;
  AddressCheck variant;
  ReadHttpAttempt(*secure, variant);
  check.secureOffered = variant.reached && variant.encrypted;
  if (!check.secureOffered) check.secureState = NotOffered(*secure, DefaultPort("https"));
  prober.secure[check.secureAddress] = {true, check.secureOffered, check.secureState};
  return check;
}

// The FTP address: the login and a listing of the login folder, then, in
// the clear, the same with TLS.
AddressCheck CheckFtp(Prober& prober, const std::string& address, bool tls) {
  const ServerAddress parsed = ParseServerAddress(address);
  AddressCheck check;
  check.role = "Upload";
  check.address = parsed.WithoutLogin();
  check.port = parsed.port;
  const std::string url = check.address + "/";
  // -v: the FTP server's own words, and the port it named for the data.
  const std::string command =
      "curl.exe --list-only -u " + std::string(kFtpLogin) + " " + url + " -v";
  const bool encrypted = tls || parsed.Encrypted();
  const std::optional<Attempt> plain =
      prober.Run("Upload: " + check.address, command + (tls ? " --ssl-reqd" : ""),
                 CurlRequest::kFtpUpload, url, std::string());
  if (!plain) {
    check.state = NotTried();
    return check;
  }
  ReadFtpAttempt(*plain, check);
  check.encrypted = encrypted;
  if (encrypted) return check;
  check.secureAddress = "FTP mit TLS auf Port " + std::to_string(check.port);
  if (ConnectionFailed(*plain)) {
    // The same host and port: TLS would meet the same wall.
    check.secureState = W1252("nicht geprüft, der Server ist nicht erreichbar");
    return check;
  }
  const std::optional<Attempt> secure =
      prober.Run(W1252("Upload verschlüsselt: ") + check.address, command + " --ssl-reqd",
                 CurlRequest::kFtpUpload, url, std::string());
  if (!secure) {
    check.secureState = NotTried();
    return check;
  }
  check.secureTried = true;
  AddressCheck variant;
  variant.port = check.port;
  ReadFtpAttempt(*secure, variant);
  check.secureOffered = variant.reached;
  if (!check.secureOffered) {
    check.secureState = secure->verdict.kind == CurlVerdict::Kind::kNoTls
                            ? W1252("der FTP-Server bietet kein TLS an")
                            : NotOffered(*secure, check.port);
  }
  return check;
}

std::string Join(const std::vector<std::string>& parts, const std::string& between) {
  std::string out;
  for (const std::string& part : parts) out += (out.empty() ? "" : between) + part;
  return out;
}

}  // namespace

std::string AddressCheck::Line() const {
  std::string line = role + ": " + address + " (Port " + std::to_string(port) + ")";
  if (!user.empty()) line += ", Anmeldung als " + user;
  line += ": " + state + ", " + (encrypted ? W1252("verschlüsselt") : W1252("unverschlüsselt"));
  if (!encrypted && !secureAddress.empty()) {
    line += W1252("; verschlüsselt (") + secureAddress + "): ";
    if (secureOffered) {
      line += "angeboten";
    } else if (secureTried) {
      line += "nicht angeboten, " + secureState;
    } else {
      line += secureState;
    }
  }
  return line + ".";
}

bool AddressCheck::Switchable() const {
  return (!encrypted && secureOffered) || !redirectedTo.empty();
}

bool ConnectionReport::AllReached() const {
  return !checks.empty() &&
         std::all_of(checks.begin(), checks.end(), [](const AddressCheck& c) { return c.reached; });
}

bool ConnectionReport::EncryptionOffered() const {
  return std::any_of(checks.begin(), checks.end(),
                     [](const AddressCheck& c) { return c.Switchable(); });
}

std::vector<std::string> ConnectionReport::Lines() const {
  std::vector<std::string> lines;
  if (!accountLine.empty()) lines.push_back(accountLine);
  for (const AddressCheck& check : checks) lines.push_back(check.Line());
  const auto encrypted = std::count_if(checks.begin(), checks.end(),
                                       [](const AddressCheck& c) { return c.encrypted; });
  std::string result;
  if (!AllReached()) {
    result = W1252("Ergebnis: Nicht jede Adresse ist erreichbar; so schlägt eine Synchronisation "
                   "fehl.");
  } else {
    result = std::string(W1252("Ergebnis: Alles erreichbar; die Daten der Praxis gehen ")) +
             (encrypted == static_cast<long>(checks.size()) ? W1252("verschlüsselt")
              : encrypted == 0                              ? W1252("unverschlüsselt")
                                                            : W1252("nur teilweise verschlüsselt")) +
             " zum Server.";
  }
  if (EncryptionOffered()) {
    result += W1252(" Der Server bietet Verschlüsselung an, die Kelvanor.ini noch nicht einträgt.");
  }
  lines.push_back(result);
  return lines;
}

ConnectionReport CheckConnection(const ServerAddresses& servers, const std::string& account,
                                 TransferLog& log) {
  Prober prober(log);
  ConnectionReport report;
  const std::string name = UrlEncodeAccountName(account);
  report.accountLine = W1252("Konto \"") + account + W1252("\": beim Server kd=") + name +
                       W1252(", Upload-Datei up_") + name + ".zip";
  report.checks.push_back(CheckHttp(prober, "Skripte", servers.base, "/mob/transfer/dl_" + name + ".zip"));
  report.checks.push_back(CheckHttp(prober, "Updates", servers.web, "/sync/version.txt"));
  report.checks.push_back(CheckFtp(prober, servers.ftp, servers.ftpTls));
  return report;
}

std::optional<EncryptionSwitch> OfferedEncryption(const ConnectionReport& report,
                                                  const ServerAddresses& current) {
  EncryptionSwitch change;
  change.addresses = current;
  for (const AddressCheck& check : report.checks) {
    if (!check.Switchable()) continue;
    if (check.role == "Upload") {
      change.addresses.ftpTls = true;
      change.keys.emplace_back("ftp_tls", "1");
      continue;
    }
    std::string& address = check.role == "Skripte" ? change.addresses.base : change.addresses.web;
    address = WithOrigin(address, check.secureAddress);
    change.keys.emplace_back(check.role == "Skripte" ? "base" : "web", address);
  }
  if (change.keys.empty()) return std::nullopt;
  return change;
}

std::vector<std::string> SwitchSettingLines(const EncryptionSwitch& change) {
  std::vector<std::string> lines;
  for (const auto& [key, value] : change.keys) {
    const ServerAddress parsed = ParseServerAddress(value);
    // The password stays where it is written; the line shows its place.
    const std::string shown =
        parsed.login.empty() ? value
                             : parsed.scheme + "://" + parsed.user + ":***@" +
                                   parsed.WithoutLogin().substr(parsed.scheme.size() + 3) +
                                   W1252("  (*** = das bisherige Passwort)");
    lines.push_back(key + "=" + shown);
  }
  return lines;
}

SwitchOutcome SwitchToEncryption(const Folders& folders, const EncryptionSwitch& change,
                                 const std::string& account, TransferLog& log) {
  SwitchOutcome outcome;
  outcome.report = CheckConnection(change.addresses, account, log);
  bool encrypted = outcome.report.AllReached();
  for (const AddressCheck& check : outcome.report.checks) {
    const std::string key = check.role == "Skripte" ? "base" : check.role == "Updates" ? "web" : "ftp_tls";
    const bool switched = std::any_of(change.keys.begin(), change.keys.end(),
                                      [&](const auto& entry) { return entry.first == key; });
    if (switched && !check.encrypted) encrypted = false;
  }
  outcome.lines = outcome.report.Lines();
  if (!encrypted) {
    outcome.lines.push_back(
        W1252("Nicht umgestellt: Über die verschlüsselten Adressen antwortet der Server nicht "
              "vollständig; Kelvanor.ini bleibt, wie sie war."));
    return outcome;
  }
  for (const auto& [key, value] : change.keys) WriteServerSetting(folders, key, value);
  outcome.switched = true;
  outcome.lines.push_back(W1252("Umgestellt: Kelvanor.ini, Abschnitt [sync_server], enthält jetzt ") +
                          Join(SwitchSettingLines(change), ", ") +
                          W1252("; jede Synchronisation überträgt verschlüsselt."));
  return outcome;
}

Encryption TransferEncryption(const ServerAddresses& servers) {
  const bool https = ParseServerAddress(servers.base).Encrypted();
  const bool ftpTls = servers.ftpTls || ParseServerAddress(servers.ftp).Encrypted();
  if (https && ftpTls) return Encryption::kFull;
  return https || ftpTls ? Encryption::kPartly : Encryption::kNone;
}

std::string TransferModeWord(const ServerAddresses& servers) {
  switch (TransferEncryption(servers)) {
    case Encryption::kFull:
      return W1252("verschlüsselt");
    case Encryption::kPartly:
      return W1252("teilweise verschlüsselt");
    case Encryption::kNone:
      break;
  }
  return W1252("unverschlüsselt");
}

std::string TransferModeLine(const ServerAddresses& servers) {
  const bool https = ParseServerAddress(servers.base).Encrypted();
  const bool ftpTls = servers.ftpTls || ParseServerAddress(servers.ftp).Encrypted();
  return "Verbindung zum Sync-Server: " + TransferModeWord(servers) + " (" +
         (https ? "HTTPS" : "HTTP") + ", " + (ftpTls ? "FTP mit TLS" : "FTP") + ")";
}

std::string TransferModeDetail(const ServerAddresses& servers) {
  const bool ftpTls = servers.ftpTls || ParseServerAddress(servers.ftp).Encrypted();
  return TransferModeLine(servers) + "\rSkripte und Mobildaten: " +
         AddressWithoutLogin(servers.base) + "\rUpload: " + AddressWithoutLogin(servers.ftp) +
         (ftpTls ? " mit TLS" : " ohne TLS");
}

}  // namespace kelvanor
