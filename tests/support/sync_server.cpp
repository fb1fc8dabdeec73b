#include "support/sync_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

#include "support/test_db.h"

#ifndef KELVANOR_SOURCE_DIR
#error "KELVANOR_SOURCE_DIR must name the source tree"
#endif

namespace kelvanor::testing {

namespace {

constexpr const char* kPython = "/usr/bin/python3";
constexpr int kStartTimeoutMs = 20000;

// The integer after "key": in the server's one-line JSON report.
int JsonInt(const std::string& json, const std::string& key) {
  const std::string needle = "\"" + key + "\":";
  size_t at = json.find(needle);
  if (at == std::string::npos) return 0;
  return std::atoi(json.c_str() + at + needle.size());
}

// Reads up to the first newline from `fd`; gives up at the deadline or when
// the pipe ends.
std::string ReadLine(int fd, int timeoutMs) {
  std::string line;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (line.empty() || line.back() != '\n') {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now())
                    .count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    int ready = ::poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    char buf[256];
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    line.append(buf, static_cast<size_t>(n));
  }
  return line;
}

}  // namespace

std::string UrlQueryEncode(const std::string& value) {
  static const char* hex = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : value) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '_' || c == '.' || c == '~' || c == '/') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 0x0F];
    }
  }
  return out;
}

SyncServer::SyncServer() : ownedRoot_(std::make_unique<TempDir>()), root_(ownedRoot_->Path()) {
  Start();
}

SyncServer::SyncServer(const Https& https)
    : ownedRoot_(std::make_unique<TempDir>()), root_(ownedRoot_->Path()), https_(https) {
  Start();
}

SyncServer::SyncServer(const std::string& root) : root_(root) { Start(); }

bool MakeTestCertificates(const std::string& folder, const std::string& prefix,
                          TestCertificates& out) {
  const std::string base = folder + "/" + prefix;
  out.caCert = base + "ca.pem";
  out.serverCert = base + "server.pem";
  out.serverKey = base + "server.key";
  const std::string caKey = base + "ca.key";
  const std::string request = base + "server.csr";
  const std::string extensions = base + "server.ext";
  {
    FILE* ext = std::fopen(extensions.c_str(), "w");
    if (ext == nullptr) return false;
    std::fputs("basicConstraints=CA:FALSE\nsubjectAltName=IP:127.0.0.1\n"
               "extendedKeyUsage=serverAuth\n", ext);
    std::fclose(ext);
  }
  const std::string quiet = " >/dev/null 2>&1";
  const std::string ec = " -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
  const std::string commands[] = {
      "openssl req -x509" + ec + " -days 2 -subj '/CN=Kelvanor Test CA " + prefix +
          "' -addext basicConstraints=critical,CA:TRUE -keyout '" + caKey + "' -out '" +
          out.caCert + "'" + quiet,
      "openssl req" + ec + " -subj /CN=127.0.0.1 -keyout '" + out.serverKey + "' -out '" +
          request + "'" + quiet,
      "openssl x509 -req -days 2 -in '" + request + "' -CA '" + out.caCert + "' -CAkey '" +
          caKey + "' -CAcreateserial -extfile '" + extensions + "' -out '" + out.serverCert +
          "'" + quiet,
  };
  for (const std::string& command : commands) {
    if (std::system(command.c_str()) != 0) return false;
  }
  return true;
}

SyncServer::~SyncServer() { Stop(); }

void SyncServer::Start() {
  // Everything the child needs is prepared before fork: between fork and
  // exec only async-signal-safe calls are allowed in a threaded program.
  std::vector<std::string> args = {kPython,
                                   std::string(KELVANOR_SOURCE_DIR) + "/server/sync_server.py",
                                   "--root",
                                   root_,
                                   "--parent-pid",
                                   std::to_string(::getpid())};
  if (!https_.cert.empty()) {
    args.insert(args.end(), {"--https-cert", https_.cert, "--https-key", https_.key});
    if (!https_.ftpTls.empty()) args.insert(args.end(), {"--ftp-tls", https_.ftpTls});
  }
  std::vector<char*> argv;
  for (auto& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);

  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::runtime_error(std::string("sync server: pipe failed: ") + std::strerror(errno));
  }
  pid_ = ::fork();
  if (pid_ < 0) {
    int err = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    throw std::runtime_error(std::string("sync server: fork failed: ") + std::strerror(err));
  }
  if (pid_ == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    ::execv(kPython, argv.data());
    ::_exit(127);
  }
  ::close(fds[1]);
  std::string line = ReadLine(fds[0], kStartTimeoutMs);
  ::close(fds[0]);

  httpPort_ = JsonInt(line, "http_port");
  ftpPort_ = JsonInt(line, "ftp_port");
  httpsPort_ = JsonInt(line, "https_port");
  if (httpPort_ <= 0 || ftpPort_ <= 0 || (!https_.cert.empty() && httpsPort_ <= 0)) {
    Stop();
    throw std::runtime_error("sync server did not start (root " + root_ + "), it reported: '" +
                             line + "'");
  }
}

void SyncServer::Stop() {
  if (pid_ <= 0) return;
  ::kill(pid_, SIGTERM);
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    int status = 0;
    pid_t r = ::waitpid(pid_, &status, WNOHANG);
    if (r == pid_ || (r < 0 && errno != EINTR)) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  pid_ = -1;
}

std::string SyncServer::BaseUrl() const { return "http://127.0.0.1:" + std::to_string(httpPort_); }

std::string SyncServer::HttpsUrl() const {
  return "https://127.0.0.1:" + std::to_string(httpsPort_);
}

std::string SyncServer::FtpsUrl() const { return "ftps://127.0.0.1:" + std::to_string(ftpPort_); }

std::string SyncServer::FtpUrl() const { return "ftp://127.0.0.1:" + std::to_string(ftpPort_); }

std::string SyncServer::AccountDir(const std::string& name) const {
  return root_ + "/accounts/" + (name.empty() ? std::string("@empty") : name);
}

std::string SyncServer::Get(const std::string& pathAndQuery, int* status) const {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) throw std::runtime_error("sync server: socket failed");
  timeval timeout{30, 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(httpPort_));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    throw std::runtime_error("sync server: cannot connect to port " + std::to_string(httpPort_));
  }
  const std::string request =
      "GET " + pathAndQuery + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n";
  size_t sent = 0;
  while (sent < request.size()) {
    ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ::close(fd);
      throw std::runtime_error("sync server: send failed");
    }
    sent += static_cast<size_t>(n);
  }
  std::string answer;
  char buf[4096];
  for (;;) {
    ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      throw std::runtime_error("sync server: no answer for " + pathAndQuery);
    }
    if (n == 0) break;
    answer.append(buf, static_cast<size_t>(n));
  }
  ::close(fd);

  // "HTTP/1.0 200 OK\r\n...\r\n\r\nbody"
  size_t space = answer.find(' ');
  size_t headEnd = answer.find("\r\n\r\n");
  if (answer.compare(0, 5, "HTTP/") != 0 || space == std::string::npos ||
      headEnd == std::string::npos) {
    throw std::runtime_error("sync server: malformed answer for " + pathAndQuery);
  }
  if (status != nullptr) *status = std::atoi(answer.c_str() + space + 1);
  return answer.substr(headEnd + 4);
}

void SyncServer::Control(const std::string& action, const std::string& query) {
  int status = 0;
  std::string body = Get("/_control/" + action + (query.empty() ? "" : "?" + query), &status);
  if (status != 200) {
    throw std::runtime_error("sync server control " + action + " failed: " +
                             std::to_string(status) + " " + body);
  }
}

void SyncServer::SetFailure(const std::string& path, int status) {
  Control("fail", "path=" + UrlQueryEncode(path) + "&status=" + std::to_string(status));
}

void SyncServer::SetFailure(const std::string& path, int status, const std::string& reason) {
  Control("fail", "path=" + UrlQueryEncode(path) + "&status=" + std::to_string(status) +
                      "&text=" + UrlQueryEncode(reason));
}

void SyncServer::SetRedirect(const std::string& path, const std::string& to) {
  Control("redirect", "path=" + UrlQueryEncode(path) + "&to=" + UrlQueryEncode(to));
}

void SyncServer::SetNoEmptyArchive() { Control("noemptyzip", "path=/mob/zip.php"); }

void SyncServer::FailNext(const std::string& path, int status) {
  Control("fail",
          "path=" + UrlQueryEncode(path) + "&status=" + std::to_string(status) + "&times=1");
}

void SyncServer::SetSlow(const std::string& path, double seconds) {
  // Formatted by hand: the decimal point must not follow the C locale.
  long millis = static_cast<long>(seconds * 1000.0 + 0.5);
  std::string text =
      std::to_string(millis / 1000) + "." + std::to_string(1000 + millis % 1000).substr(1);
  Control("slow", "path=" + UrlQueryEncode(path) + "&delay=" + text);
}

void SyncServer::SetNoLength(const std::string& path) {
  Control("nolength", "path=" + UrlQueryEncode(path));
}

void SyncServer::SetCut(const std::string& path, size_t bytes) {
  Control("cut", "path=" + UrlQueryEncode(path) + "&bytes=" + std::to_string(bytes));
}

void SyncServer::SetBody(const std::string& path, const std::string& body) {
  Control("body", "path=" + UrlQueryEncode(path) + "&text=" + UrlQueryEncode(body));
}

namespace {

std::string Hex(const std::string& bytes) {
  static const char* digits = "0123456789abcdef";
  std::string out;
  for (unsigned char c : bytes) {
    out += digits[c >> 4];
    out += digits[c & 0x0F];
  }
  return out;
}

}  // namespace

void SyncServer::ServeArchive(const std::string& account, const std::vector<ArchiveEntry>& entries) {
  // Python's zipfile stores whatever name and file type it is given.
  std::string script =
      "import struct, sys, zipfile\n"
      "path = sys.argv[1]\n"
      "stated = []\n"
      "with zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED) as z:\n";
  for (const ArchiveEntry& e : entries) {
    unsigned long attributes = 0100644UL << 16;
    if (e.kind == ArchiveEntry::Kind::kLink) attributes = 0120777UL << 16;
    if (e.kind == ArchiveEntry::Kind::kFolder) attributes = (040755UL << 16) | 0x10;
    script += "    i = zipfile.ZipInfo(bytes.fromhex('" + Hex(e.name) + "').decode())\n"
              "    i.create_system = 3\n"
              "    i.external_attr = " + std::to_string(attributes) + "\n"
              "    i.compress_type = zipfile.ZIP_DEFLATED\n"
              "    i.extra = bytes.fromhex('" + Hex(e.localExtra) + "')\n"
              "    z.writestr(i, bytes.fromhex('" + Hex(e.data) + "') * " +
              std::to_string(e.repeat) + ")\n"
              // The directory is written at the end, from what the entry holds then.
              "    i.extra = bytes.fromhex('" + Hex(e.centralExtra) + "')\n"
              "    stated.append(" + std::to_string(e.statedSize) + ")\n";
  }
  script +=
      "raw = bytearray(open(path, 'rb').read())\n"
      "central = struct.unpack_from('<I', raw, raw.rfind(b'PK\\x05\\x06') + 16)[0]\n"
      "for size in stated:\n"
      "    local = struct.unpack_from('<I', raw, central + 42)[0]\n"
      "    if size:\n"
      "        struct.pack_into('<I', raw, central + 24, size)\n"
      "        struct.pack_into('<I', raw, local + 22, size)\n"
      "    lengths = struct.unpack_from('<HHH', raw, central + 28)\n"
      "    central += 46 + sum(lengths)\n"
      "open(path, 'wb').write(raw)\n";
  const std::string scriptPath = root_ + "/serve_archive.py";
  WriteFile(scriptPath, script);
  const std::string archive = TransferDir() + "/dl_" + account + ".zip";
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(kPython, kPython, scriptPath.c_str(), archive.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  if (pid < 0 || ::waitpid(pid, &status, 0) != pid || !WIFEXITED(status) ||
      WEXITSTATUS(status) != 0) {
    throw std::runtime_error("sync server: the archive could not be made");
  }
  SetBody("/mob/zip.php", "OK zip");
}

void SyncServer::SetZipKeepsOldArchive() { Control("keepold", "path=/mob/zip.php"); }

void SyncServer::SetZipStale(long ageSeconds) {
  Control("stale", "path=/mob/zip.php&age=" + std::to_string(ageSeconds));
}

void SyncServer::SetZipLeavesNoArchive() { Control("noarchive", "path=/mob/zip.php"); }

void SyncServer::SetZipUpdatesOldArchive() { Control("update", "path=/mob/zip.php"); }

void SyncServer::SetPhpSource(const std::string& path) {
  Control("phpsource", "path=" + UrlQueryEncode(path));
}

void SyncServer::SetErrorBehindByteOrderMark(const std::string& path, const std::string& text) {
  Control("bom", "path=" + UrlQueryEncode(path) + "&text=" + UrlQueryEncode(text));
}

void SyncServer::SetFtpActiveOnly() { Control("activeonly", "path=/ftp"); }

void SyncServer::SetFtpPassivePortsClosed() { Control("passiveclosed", "path=/ftp"); }

void SyncServer::SetRedirectEverywhere(const std::string& to) { SetRedirect("/*", to); }

void SyncServer::ClearFailures() { Control("clear", ""); }

std::string SyncServer::RequestLog(bool reset) {
  int status = 0;
  std::string body = Get(std::string("/_control/requests") + (reset ? "?reset=1" : ""), &status);
  if (status != 200) throw std::runtime_error("sync server: request log unavailable");
  return body;
}

}  // namespace kelvanor::testing
