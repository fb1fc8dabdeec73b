#include "server/server_address.h"

#include <cstdlib>

#include "util/text.h"

namespace kelvanor {

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// A login is written percent-encoded in an address ("p%40ss" for "p@ss");
// curl's setting takes it as the server is to receive it.
std::string PercentDecoded(const std::string& text) {
  std::string out;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
        HexValue(text[i + 2]) >= 0) {
      out += static_cast<char>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

}  // namespace

int DefaultPort(const std::string& scheme) {
  if (scheme == "http") return 80;
  if (scheme == "https") return 443;
  if (scheme == "ftp") return 21;
  if (scheme == "ftps") return 990;
  return 0;
}

ServerAddress ParseServerAddress(const std::string& address) {
  ServerAddress parsed;
  std::string rest = Trim(address);
  const std::size_t schemeEnd = rest.find("://");
  if (schemeEnd != std::string::npos) {
    parsed.scheme = AsciiLowerCase(rest.substr(0, schemeEnd));
    rest.erase(0, schemeEnd + 3);
  }
  const std::size_t pathStart = rest.find_first_of("/?#");
  std::string authority = rest.substr(0, pathStart);
  if (pathStart != std::string::npos) parsed.path = rest.substr(pathStart);
  while (!parsed.path.empty() && parsed.path.back() == '/') parsed.path.pop_back();

  // The last "@" ends the login: a password may hold one written plainly.
  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) {
    const std::string login = authority.substr(0, at);
    parsed.login = PercentDecoded(login);
    parsed.user = PercentDecoded(login.substr(0, login.find(':')));
    authority.erase(0, at + 1);
  }
  // "[::1]:8080": the port follows the bracket, not the first colon.
  const std::size_t bracket = authority.rfind(']');
  const std::size_t colon = authority.find(':', bracket == std::string::npos ? 0 : bracket);
  parsed.host = authority.substr(0, colon);
  parsed.port = DefaultPort(parsed.scheme);
  if (colon != std::string::npos) {
    const std::string port = authority.substr(colon + 1);
    char* end = nullptr;
    const long value = std::strtol(port.c_str(), &end, 10);
    if (!port.empty() && *end == '\0' && value > 0 && value < 65536) {
      parsed.port = static_cast<int>(value);
      parsed.portWritten = true;
    }
  }
  return parsed;
}

std::string ServerAddress::Origin() const {
  return (scheme.empty() ? std::string() : scheme + "://") + host +
         (portWritten ? ":" + std::to_string(port) : std::string());
}

std::string ServerAddress::WithoutLogin() const { return Origin() + path; }

std::string AddressWithoutLogin(const std::string& address) {
  const ServerAddress parsed = ParseServerAddress(address);
  if (parsed.login.empty() && address.find('@') == std::string::npos) return address;
  return parsed.WithoutLogin();
}

std::string AddressLogin(const std::string& address) { return ParseServerAddress(address).login; }

std::string WithOrigin(const std::string& address, const std::string& origin) {
  const std::string text = Trim(address);
  const std::size_t schemeEnd = text.find("://");
  const std::size_t start = schemeEnd == std::string::npos ? 0 : schemeEnd + 3;
  const std::size_t end = text.find_first_of("/?#", start);
  const std::string authority = text.substr(start, end == std::string::npos ? end : end - start);
  const std::size_t at = authority.rfind('@');
  const std::string login = at == std::string::npos ? std::string() : authority.substr(0, at + 1);
  const std::size_t originStart = origin.find("://");
  const std::size_t hostAt = originStart == std::string::npos ? 0 : originStart + 3;
  std::string path = end == std::string::npos ? std::string() : text.substr(end);
  while (!path.empty() && path.back() == '/') path.pop_back();
  return origin.substr(0, hostAt) + login + origin.substr(hostAt) + path;
}

}  // namespace kelvanor
