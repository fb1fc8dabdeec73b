// Test support: the reference sync server (server/sync_server.py) as a child
// process on loopback, for tests that need the real HTTP and FTP side.
//
//   SyncServer server;                        // fresh temporary root
//   WriteFile(server.WwwFile("sync/version.txt"), "1.0.0.70");
//   ... point the tool at server.BaseUrl() / server.FtpUrl() ...
//
// The server stops when the object goes, and by itself when the test program
// dies, so no server outlives its test.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace kelvanor::testing {

class TempDir;

// PEM files for a server on 127.0.0.1, made with openssl for one test: a
// certificate authority of its own and a server certificate it issued.
struct TestCertificates {
  std::string caCert;  // what a client is told to trust (THTTPGet::CACertFile)
  std::string serverCert;
  std::string serverKey;
};
// Writes them into `folder` (names start with `prefix`, so one folder can
// hold two authorities); false when openssl is missing or fails.
bool MakeTestCertificates(const std::string& folder, const std::string& prefix,
                          TestCertificates& out);

// An entry of an archive a test serves (SyncServer::ServeArchive).
struct ArchiveEntry {
  enum class Kind { kFile, kLink, kFolder };
  std::string name;  // as stored, UTF-8
  Kind kind = Kind::kFile;
  std::string data;  // a file's content, repeated `repeat` times; a link's target
  std::size_t repeat = 1;
  // When not 0: the archive's directory and the entry's header state this
  // size, whatever the data unpacks to.
  uint32_t statedSize = 0;
  // Extra fields as stored (id, size, data, little-endian): in the entry's
  // own header and in the archive's directory.
  std::string localExtra{};
  std::string centralExtra{};
};

class SyncServer {
 public:
  // The certificate and key of the https side.
  struct Https {
    Https() = default;
    Https(std::string certFile, std::string keyFile, std::string ftpTlsMode = "")
        : cert(std::move(certFile)), key(std::move(keyFile)), ftpTls(std::move(ftpTlsMode)) {}
    std::string cert;
    std::string key;
    // "explicit" or "implicit": the FTP side requires TLS with this
    // certificate too; "optional": it offers TLS ("" leaves it plain).
    std::string ftpTls;
  };

  // Serves a fresh temporary root that is removed afterwards.
  SyncServer();
  // The same, and its HTTP side over TLS as well (HttpsUrl).
  explicit SyncServer(const Https& https);
  // Serves `root` (created when missing; left in place afterwards).
  explicit SyncServer(const std::string& root);
  ~SyncServer();
  SyncServer(const SyncServer&) = delete;
  SyncServer& operator=(const SyncServer&) = delete;

  int HttpPort() const { return httpPort_; }
  int FtpPort() const { return ftpPort_; }
  int HttpsPort() const { return httpsPort_; }  // 0 without Https
  const std::string& Root() const { return root_; }
  // "http://127.0.0.1:PORT" (scripts and /sync alike) and "ftp://127.0.0.1:PORT".
  std::string BaseUrl() const;
  std::string FtpUrl() const;
  // "https://127.0.0.1:PORT": the same files, scripts and test rules.
  std::string HttpsUrl() const;
  // "ftps://127.0.0.1:PORT": the FTP side with ftpTls "implicit".
  std::string FtpsUrl() const;

  // Folders of the server's layout. The empty account name maps to the
  // folder "@empty"; other names are used as they are (UTF-8 file names).
  std::string AccountDir(const std::string& name) const;
  std::string FtpDir() const { return root_ + "/ftp"; }
  std::string TransferDir() const { return root_ + "/transfer"; }
  std::string WwwFile(const std::string& relative) const { return root_ + "/www/" + relative; }

  // Failure injection on one request path (the path alone, no query, e.g.
  // "/mob/zip.php"): the endpoint answers `status` (400..599) instead of
  // doing its work. A 404 page contains "not found" like a web server's.
  void SetFailure(const std::string& path, int status);
  // The same, the script's own words as the body (a script that says why).
  void SetFailure(const std::string& path, int status, const std::string& reason);
  // The endpoint answers 301 to `to`: a path or URL (the request's query
  // added), or "https" for the same path on the TLS side.
  void SetRedirect(const std::string& path, const std::string& to);
  // zip.php writes no archive when there is nothing to pack.
  void SetNoEmptyArchive();
  void FailNext(const std::string& path, int status);  // for one request only
  // The body trickles in over `seconds` (headers come at once).
  void SetSlow(const std::string& path, double seconds);
  // The answer carries no Content-Length; the body ends with the connection.
  void SetNoLength(const std::string& path);
  // Announces the full Content-Length but closes after `bytes` bytes.
  void SetCut(const std::string& path, size_t bytes);
  // The endpoint answers 200 with `body` instead of doing its work.
  void SetBody(const std::string& path, const std::string& body);
  // From now on the account's download archive is exactly the one made of
  // `entries` (file types, names and sizes as given, deflated); zip.php
  // answers 200 without packing anything. ClearFailures ends that.
  void ServeArchive(const std::string& account, const std::vector<ArchiveEntry>& entries);
  // zip.php leaves the previous archive in place when there is nothing to
  // pack, as a script built on the zip command does.
  void SetZipKeepsOldArchive();
  // zip.php answers OK with the count of change files it found but leaves
  // the archive as it was (a caching proxy, a zip command that failed on a
  // full quota); with `ageSeconds` the archive's time (its Last-Modified)
  // is put at least that far back.
  void SetZipStale(long ageSeconds = 0);
  // zip.php answers OK with the count of change files it found and leaves
  // no archive at all (an unchecked ZipArchive::close()).
  void SetZipLeavesNoArchive();
  // zip.php updates the previous archive instead of writing it anew: every
  // entry it does not pack now stays (the zip command, ZipArchive without
  // OVERWRITE).
  void SetZipUpdatesOldArchive();
  // The script answers 200 with its PHP source: PHP did not run it.
  void SetPhpSource(const std::string& path);
  // The script answers 200 with `text` (UTF-8) behind a UTF-8 byte-order
  // mark, as a failing script whose included file was saved with one.
  void SetErrorBehindByteOrderMark(const std::string& path, const std::string& text);
  // The FTP server refuses passive mode ("550 Permission denied." to PASV
  // and EPSV), as vsftpd with pasv_enable=NO; or it names data ports a
  // firewall in front of it refuses.
  void SetFtpActiveOnly();
  void SetFtpPassivePortsClosed();
  // A rule for every path without one of its own (see SetRedirect).
  void SetRedirectEverywhere(const std::string& to);
  // Drops every rule set above.
  void ClearFailures();
  // The requests served so far (JSON list of {method, path, query, version,
  // headers, body, tls}; the FTP commands as method "FTP", path the command,
  // query its argument); `reset` empties the log.
  std::string RequestLog(bool reset = false);

  // One plain HTTP/1.0 GET to the server; returns the body and stores the
  // status. Throws when the server cannot be reached.
  std::string Get(const std::string& pathAndQuery, int* status = nullptr) const;

  pid_t Pid() const { return pid_; }

 private:
  void Start();
  void Stop();
  void Control(const std::string& action, const std::string& query);

  std::unique_ptr<TempDir> ownedRoot_;
  std::string root_;
  Https https_;
  pid_t pid_ = -1;
  int httpPort_ = 0;
  int ftpPort_ = 0;
  int httpsPort_ = 0;
};

// Percent-encodes everything but unreserved characters (for query values).
std::string UrlQueryEncode(const std::string& value);

}  // namespace kelvanor::testing
