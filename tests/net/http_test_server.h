// Test support: tests/net/http_test_server.py as a child process on loopback,
// and a self-signed certificate for its HTTPS mode. Header only, so the app
// tests can use it too.
//
//   HttpTestServer server;                  // plain HTTP, no file root
//   http.DownloadFile(server.Url("/t/len?n=10"), file);
//
// The server stops when the object goes, and by itself when the test program
// dies (its standard input is a pipe from us).
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

namespace kelvanor::testing {

class HttpTestServer {
 public:
  struct Options {
    std::string root;  // folder served for paths outside /t/
    std::string cert;  // PEM certificate and key: serve HTTPS
    std::string key;
  };

  HttpTestServer() : HttpTestServer(Options{}) {}
  explicit HttpTestServer(const Options& options) : https_(!options.cert.empty()) {
    // A proxy from the environment must not see loopback requests.
    ::setenv("no_proxy", "127.0.0.1,localhost", 1);
    ::setenv("NO_PROXY", "127.0.0.1,localhost", 1);
    int in[2];
    int out[2];
    if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
      throw std::runtime_error("pipe failed");
    }
    const std::string script = std::string(KELVANOR_SOURCE_DIR) + "/tests/net/http_test_server.py";
    std::string args[] = {"/usr/bin/python3", script, "--root", options.root, "--cert",
                          options.cert, "--key", options.key};
    char* argv[9] = {};
    const int argc = options.cert.empty() ? 4 : 8;
    for (int i = 0; i < argc; ++i) argv[i] = args[i].data();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
      ::dup2(in[0], 0);
      ::dup2(out[1], 1);
      ::execv(argv[0], argv);
      ::_exit(127);
    }
    ::close(in[0]);
    ::close(out[1]);
    stdin_ = in[1];
    const std::string line = ReadLine(out[0]);
    ::close(out[0]);
    port_ = std::atoi(line.c_str());
    if (port_ <= 0) {
      Stop();
      throw std::runtime_error("test server did not start: " + line);
    }
  }
  ~HttpTestServer() { Stop(); }
  HttpTestServer(const HttpTestServer&) = delete;
  HttpTestServer& operator=(const HttpTestServer&) = delete;

  int Port() const { return port_; }
  // "http://127.0.0.1:PORT" + path ("https://" in HTTPS mode).
  std::string Url(const std::string& path) const {
    return std::string(https_ ? "https" : "http") + "://127.0.0.1:" + std::to_string(port_) +
           path;
  }

 private:
  static std::string ReadLine(int fd) {
    std::string line;
    for (;;) {
      pollfd p{fd, POLLIN, 0};
      if (::poll(&p, 1, 15000) <= 0) return line;
      char c;
      if (::read(fd, &c, 1) != 1 || c == '\n') return line;
      line += c;
    }
  }

  void Stop() {
    if (stdin_ >= 0) ::close(stdin_);
    stdin_ = -1;
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      int status = 0;
      ::waitpid(pid_, &status, 0);
    }
    pid_ = -1;
  }

  bool https_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

// Writes a self-signed certificate for 127.0.0.1 and its key into `folder`;
// returns false when openssl is not available.
inline bool MakeSelfSignedCertificate(const std::string& folder, std::string& cert,
                                      std::string& key) {
  cert = folder + "/cert.pem";
  key = folder + "/key.pem";
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2"
      " -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 -keyout '" +
      key + "' -out '" + cert + "' >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

}  // namespace kelvanor::testing
