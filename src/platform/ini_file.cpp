// Reading goes through SimpleIni. Writing edits the one line in place, the way
// the Windows profile functions do: SimpleIni's own Save reflows the file and
// drops a comment that stands after the last key, and these files belong
// partly to the user and the host application.
#include "platform/ini_file.h"

// Byte strings in, byte strings out: no code-page conversion, ASCII-only case
// folding, the implementation compiled here.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

bool IsIniSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string TrimIniSpace(const std::string& text) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsIniSpace(text[begin])) ++begin;
  while (end > begin && IsIniSpace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// The comparison SimpleIni uses for names: A-Z fold, every other byte exact.
bool SameName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The profile functions drop one pair of quotes around a value, single
// (db_pfad='C:\Praxis\') as well as double.
bool IsQuotedValue(const std::string& value) {
  return value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
         value.back() == value.front();
}

std::string Unquoted(const std::string& value) {
  return IsQuotedValue(value) ? value.substr(1, value.size() - 2) : value;
}

// A missing or unreadable file reads as defaults, like the profile functions.
std::optional<std::string> LookUp(const std::string& path, const std::string& section,
                                  const std::string& key) {
  if (!FileExists(path)) return std::nullopt;
  std::string bytes;
  try {
    bytes = ReadWholeFile(path);
  } catch (const EInOutError&) {
    return std::nullopt;
  }
  // Multi-key on: with a key written twice the first one counts, as on Windows.
  // SimpleIni trims the value; the quotes are ours to remove, since it knows
  // only double ones.
  CSimpleIniA ini(/*isUtf8=*/false, /*multiKey=*/true, /*multiLine=*/false);
  ini.SetQuotes(false);
  if (ini.LoadData(bytes) < 0) return std::nullopt;
  const char* value = ini.GetValue(section.c_str(), key.c_str(), nullptr);
  if (value == nullptr) return std::nullopt;
  return Unquoted(value);
}

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// Decimal with optional sign, or 0x/0X hexadecimal; surrounding blanks are
// tolerated. Anything else, trailing garbage included, is not a number.
std::optional<long> ParseIniInteger(const std::string& raw) {
  const std::string text = TrimIniSpace(raw);
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    for (std::size_t i = 2; i < text.size(); ++i) {
      if (!IsHexDigit(text[i])) return std::nullopt;
    }
    errno = 0;
    const unsigned long long value = std::strtoull(text.c_str() + 2, nullptr, 16);
    if (errno == ERANGE || value > static_cast<unsigned long long>(LONG_MAX)) return std::nullopt;
    return static_cast<long>(value);
  }
  std::size_t i = (!text.empty() && (text[0] == '-' || text[0] == '+')) ? 1 : 0;
  if (i == text.size()) return std::nullopt;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return std::nullopt;
  }
  errno = 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  if (errno == ERANGE) return std::nullopt;
  return value;
}

std::string CannotSave(const std::string& path, const std::string& reason) {
  return W1252("Einstellungen können nicht gespeichert werden: ") + path + " (" + reason + ")";
}

// One line of the file with the terminator it had ("" for a last line without).
struct Line {
  std::string text;
  std::string eol;
};

std::vector<Line> SplitKeepingTerminators(const std::string& content) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < content.size()) {
    std::size_t end = content.find_first_of("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back({content.substr(start), ""});
      break;
    }
    std::size_t next = end + 1;
    if (content[end] == '\r' && next < content.size() && content[next] == '\n') ++next;
    lines.push_back({content.substr(start, end - start), content.substr(end, next - end)});
    start = next;
  }
  return lines;
}

std::string Join(const std::vector<Line>& lines, const std::string& prefix) {
  std::string out = prefix;
  for (const Line& line : lines) out += line.text + line.eol;
  return out;
}

// How SimpleIni sees a line: leading blanks skipped, ";" or "#" a comment,
// "[name]" a section, "key=value" with a non-empty key an entry, anything else
// ignored.
enum class LineKind { kOther, kSection, kEntry };

LineKind Classify(const std::string& line, std::string& name) {
  std::size_t i = 0;
  while (i < line.size() && IsIniSpace(line[i])) ++i;
  if (i == line.size() || line[i] == ';' || line[i] == '#') return LineKind::kOther;
  if (line[i] == '[') {
    const std::size_t close = line.find(']', i + 1);
    if (close == std::string::npos) return LineKind::kOther;
    name = TrimIniSpace(line.substr(i + 1, close - i - 1));
    return LineKind::kSection;
  }
  const std::size_t eq = line.find('=', i);
  if (eq == std::string::npos || eq == i) return LineKind::kOther;
  name = TrimIniSpace(line.substr(i, eq - i));
  return LineKind::kEntry;
}

// A value that the reader would trim or unquote is written between quotes.
std::string QuoteIfNeeded(const std::string& value) {
  if (value.empty()) return value;
  const bool edgeBlank = IsIniSpace(value.front()) || IsIniSpace(value.back());
  return (edgeBlank || IsQuotedValue(value)) ? "\"" + value + "\"" : value;
}

// Sets section/key to value in the file text, touching nothing else: an
// existing entry keeps its spelling and the spacing around "=", a new key
// goes after the section's last entry, a new section at the end of the file.
std::string SetEntry(const std::string& content, const std::string& section,
                     const std::string& key, const std::string& value) {
  // The reader skips a UTF-8 signature (Notepad writes one); so must the
  // writer, or it would not find the first section.
  const bool hasSignature = content.compare(0, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0;
  std::vector<Line> lines =
      SplitKeepingTerminators(hasSignature ? content.substr(kUtf8ByteOrderMark.size()) : content);
#ifdef _WIN32
  // Windows programs write CR LF, and Notepad of older Windows shows a file
  // with bare line feeds as one long line: a file the tool writes gets CR LF
  // throughout, also where an earlier writer left bare line feeds.
  const std::string eol = "\r\n";
  for (Line& line : lines) {
    if (line.eol == "\n") line.eol = eol;
  }
#else
  const std::string eol = content.find("\r\n") != std::string::npos ? "\r\n" : "\n";
#endif
  const std::string stored = QuoteIfNeeded(value);

  bool inSection = section.empty();  // entries before any header form section ""
  std::optional<std::size_t> insertAfter;  // last line of the first matching section
  bool passedFirstMatch = false;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    std::string name;
    const LineKind kind = Classify(lines[i].text, name);
    if (kind == LineKind::kSection) {
      if (inSection) passedFirstMatch = true;
      inSection = SameName(name, section);
      if (inSection && !passedFirstMatch) insertAfter = i;
      continue;
    }
    if (kind != LineKind::kEntry || !inSection) continue;
    if (SameName(name, key)) {
      std::string& text = lines[i].text;
      std::size_t keep = text.find('=') + 1;
      while (keep < text.size() && (text[keep] == ' ' || text[keep] == '\t')) ++keep;
      text = text.substr(0, keep) + stored;
      return Join(lines, hasSignature ? kUtf8ByteOrderMark : "");
    }
    if (!passedFirstMatch) insertAfter = i;
  }

  const std::string entry = key + "=" + stored;
  if (insertAfter || section.empty()) {
    const std::size_t at = insertAfter ? *insertAfter + 1 : 0;
    if (at > 0 && lines[at - 1].eol.empty()) lines[at - 1].eol = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(at), Line{entry, eol});
  } else {
    if (!lines.empty()) {
      if (lines.back().eol.empty()) lines.back().eol = eol;
      if (!TrimIniSpace(lines.back().text).empty()) lines.push_back({"", eol});
    }
    lines.push_back({"[" + section + "]", eol});
    lines.push_back({entry, eol});
  }
  return Join(lines, hasSignature ? kUtf8ByteOrderMark : "");
}

}  // namespace

std::string IniReadString(const std::string& path, const std::string& section,
                          const std::string& key, const std::string& defaultValue) {
  return LookUp(path, section, key).value_or(defaultValue);
}

long IniReadInteger(const std::string& path, const std::string& section, const std::string& key,
                    long defaultValue) {
  const std::optional<std::string> text = LookUp(path, section, key);
  if (!text) return defaultValue;
  return ParseIniInteger(*text).value_or(defaultValue);
}

bool IniReadBool(const std::string& path, const std::string& section, const std::string& key,
                 bool defaultValue) {
  const std::optional<std::string> text = LookUp(path, section, key);
  if (!text) return defaultValue;
  const std::optional<long> value = ParseIniInteger(*text);
  return value ? *value != 0 : defaultValue;
}

void IniWriteString(const std::string& path, const std::string& section, const std::string& key,
                    const std::string& value) {
  // A line break would end the entry and let the rest be read as new lines.
  if (value.find_first_of("\r\n") != std::string::npos) {
    throw EInOutError(CannotSave(path, "Zeilenumbruch im Wert von " + key));
  }
  const std::string folder = ExtractFilePath(path);
  if (!folder.empty() && !DirectoryExists(folder)) {
    throw EInOutError(CannotSave(path, "Ordner fehlt: " + folder));
  }
  std::string content;
  namespace fs = std::filesystem;
  fs::perms before = fs::perms::unknown;
  const bool existed = FileExists(path);
  if (existed) {
    // The new content replaces the file as a whole; a write-protected file
    // must stay as it is, like the profile functions leave it.
    std::error_code ec;
    before = fs::status(SystemPath(path), ec).permissions();
    if (ec || !MayWriteFile(path)) {
      throw EInOutError(CannotSave(path, W1252("Datei ist schreibgeschützt")));
    }
    try {
      content = ReadWholeFile(path);
    } catch (const EInOutError&) {
      // Writing without the old content would lose every other key.
      throw EInOutError(CannotSave(path, "Datei kann nicht gelesen werden"));
    }
  }
  try {
    WriteFileAtomically(path, SetEntry(content, section, key, value));
  } catch (const EInOutError& e) {
    throw EInOutError(CannotSave(path, e.what()));
  }
  // The file may hold a password: keep the permissions it had.
  if (existed) {
    std::error_code ignored;
    fs::permissions(SystemPath(path), before, fs::perm_options::replace, ignored);
  }
}

void IniWriteInteger(const std::string& path, const std::string& section, const std::string& key,
                     long value) {
  IniWriteString(path, section, key, std::to_string(value));
}

}  // namespace kelvanor
