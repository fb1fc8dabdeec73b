#include "server/server_answer.h"

#include <algorithm>
#include <cstdlib>

#include "server/server_address.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The report starts a line of its own even after an answer without a final
// line break; the marker cannot be mistaken for a script's words.
constexpr char kReportMarker[] = "@@kelvanor-curl ";
constexpr char kTimeMarker[] = "@@kelvanor-time ";
constexpr std::size_t kLineWidth = 160;

// curl's exit statuses the verdict tells apart.
constexpr int kUnsupportedProtocol = 1;
constexpr int kFtpWeirdPasvReply = 13;
constexpr int kCouldNotResolveProxy = 5;
constexpr int kCouldNotResolveHost = 6;
constexpr int kCouldNotConnect = 7;
constexpr int kHttpReturnedError = 22;
constexpr int kOperationTimedOut = 28;
constexpr int kSslConnectError = 35;
constexpr int kTooManyRedirects = 47;
constexpr int kPeerFailedVerification = 60;
constexpr int kUseSslFailed = 64;
constexpr int kLoginDenied = 67;

bool IsLetter(unsigned char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c >= 0xC0;
}

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v'; }

// Case-insensitive (ASCII) comparison of text at `pos` with `word`.
bool HasAt(const std::string& text, std::size_t pos, const std::string& word) {
  if (pos + word.size() > text.size()) return false;
  return AsciiLowerCase(text.substr(pos, word.size())) == AsciiLowerCase(word);
}

std::size_t FindNoCase(const std::string& text, const std::string& word) {
  return AsciiLowerCase(text).find(AsciiLowerCase(word));
}

// The name of the tag that starts at text[lt] ('<'), lower case, without
// "/" or "!"; `closing` tells "</name".
std::string TagName(const std::string& text, std::size_t lt, bool* closing) {
  std::size_t i = lt + 1;
  *closing = i < text.size() && text[i] == '/';
  if (*closing) ++i;
  std::string name;
  while (i < text.size() && (IsLetter(static_cast<unsigned char>(text[i])) ||
                             (text[i] >= '0' && text[i] <= '9'))) {
    name += text[i++];
  }
  return AsciiLowerCase(name);
}

bool BreaksLine(const std::string& tag) {
  static const char* const kBlocks[] = {"br", "p", "div", "h1", "h2", "h3", "h4", "h5", "h6",
                                        "li", "tr", "title", "hr", "pre", "center", "table",
                                        "ul", "ol", "body", "html", "td", "th", "dt", "dd"};
  for (const char* block : kBlocks) {
    if (tag == block) return true;
  }
  return false;
}

// &amp; &lt; &gt; &quot; &apos; &nbsp; the German letters, and numbers below
// 256 (the code page's own); anything else stays as written.
std::string DecodeEntity(const std::string& name) {
  struct Named {
    const char* name;
    const char* text;
  };
  static const Named kNamed[] = {
      {"amp", "&"},          {"lt", "<"},          {"gt", ">"},          {"quot", "\""},
      {"apos", "'"},         {"nbsp", " "},        {"auml", W1252("ä")}, {"ouml", W1252("ö")},
      {"uuml", W1252("ü")},  {"Auml", W1252("Ä")}, {"Ouml", W1252("Ö")}, {"Uuml", W1252("Ü")},
      {"szlig", W1252("ß")}, {"euro", W1252("€")},
  };
  for (const Named& entity : kNamed) {
    if (name == entity.name) return entity.text;
  }
  if (name.size() > 1 && name[0] == '#') {
    const bool hex = name[1] == 'x' || name[1] == 'X';
    const std::string digits = name.substr(hex ? 2 : 1);
    char* end = nullptr;
    const long value = std::strtol(digits.c_str(), &end, hex ? 16 : 10);
    if (!digits.empty() && *end == '\0' && value > 0 && value < 256) {
      return std::string(1, static_cast<char>(value));
    }
  }
  return "&" + name + ";";
}

// The answer as plain lines: what a browser would show, roughly.
std::vector<std::string> PlainLines(const std::string& answer) {
  std::string text;
  text.reserve(answer.size());
  std::string skipUntil;  // inside <head>, <script> or <style>: its end tag
  for (std::size_t i = 0; i < answer.size();) {
    const char c = answer[i];
    if (c == '<') {
      bool closing = false;
      const std::string tag = TagName(answer, i, &closing);
      const std::size_t gt = answer.find('>', i);
      if (tag.empty() && !closing && answer.compare(i, 4, "<!--") != 0 &&
          (i + 1 >= answer.size() || answer[i + 1] != '!')) {
        // A lone "<" in a text ("a < b") is a character.
        if (skipUntil.empty()) text += c;
        ++i;
        continue;
      }
      const std::size_t end = answer.compare(i, 4, "<!--") == 0 ? answer.find("-->", i) : gt;
      i = end == std::string::npos ? answer.size() : end + (answer[end] == '-' ? 3 : 1);
      if (!skipUntil.empty()) {
        if (closing && tag == skipUntil) skipUntil.clear();
        continue;
      }
      if (!closing && (tag == "head" || tag == "script" || tag == "style")) {
        skipUntil = tag;
        continue;
      }
      if (BreaksLine(tag)) text += '\n';
      continue;
    }
    if (!skipUntil.empty()) {
      ++i;
      continue;
    }
    if (c == '&') {
      const std::size_t semicolon = answer.find(';', i);
      if (semicolon != std::string::npos && semicolon - i <= 8) {
        text += DecodeEntity(answer.substr(i + 1, semicolon - i - 1));
        i = semicolon + 1;
        continue;
      }
    }
    text += c;
    ++i;
  }

  std::vector<std::string> lines;
  for (const std::string& raw : SplitLines(text)) {
    std::string line;
    for (char ch : raw) {
      if (IsBlank(ch) || ch == '\0') {
        if (!line.empty() && line.back() != ' ') line += ' ';
      } else {
        line += ch;
      }
    }
    line = TrimBlanks(line);
    if (!line.empty() && (lines.empty() || lines.back() != line)) lines.push_back(line);
  }
  return lines;
}

// Where curl's own lines ("curl: (22) ...") begin in what a command wrote,
// or text.size(). curl writes them after the answer, which is not buffered,
// and right after it when the answer has no final line break.
std::size_t CurlLinesStart(const std::string& text) {
  for (std::size_t pos = text.find("curl: ("); pos != std::string::npos;
       pos = text.find("curl: (", pos + 1)) {
    std::size_t digit = pos + 7;
    while (digit < text.size() && text[digit] >= '0' && text[digit] <= '9') ++digit;
    if (digit > pos + 7 && digit < text.size() && text[digit] == ')') return pos;
  }
  return text.size();
}

// Where an answer's first word starts: after byte-order marks (a PHP
// script sends one for every file it includes that was saved with one),
// blanks and line breaks.
std::size_t FirstWordAt(const std::string& answer) {
  std::size_t at = 0;
  while (at < answer.size()) {
    if (answer.compare(at, kUtf8ByteOrderMark.size(), kUtf8ByteOrderMark) == 0) {
      at += kUtf8ByteOrderMark.size();
    } else if (IsBlank(answer[at]) || answer[at] == '\n') {
      ++at;
    } else {
      break;
    }
  }
  return at;
}

// The script's own source came back: the server did not run PHP on it.
bool IsScriptSource(const std::string& answer) { return HasAt(answer, FirstWordAt(answer), "<?php"); }

// The server's answer in what a command wrote.
std::string CurlAnswer(const std::string& text) { return text.substr(0, CurlLinesStart(text)); }

// "< 530 Non-anonymous ..." or "< 530-...": an FTP reply in curl's verbose
// output; `code` receives its number.
bool IsFtpReply(const std::string& line, int* code) {
  if (line.size() < 6 || line.compare(0, 2, "< ") != 0) return false;
  for (std::size_t i = 2; i < 5; ++i) {
    if (line[i] < '0' || line[i] > '9') return false;
  }
  if (line[5] != ' ' && line[5] != '-') return false;
  *code = std::atoi(line.c_str() + 2);
  return true;
}

// The path and query of an address: everything from the first "/" after
// "scheme://host".
std::string PathAndQuery(const std::string& url) {
  std::size_t start = url.find("://");
  start = start == std::string::npos ? 0 : start + 3;
  const std::size_t slash = url.find('/', start);
  if (slash == std::string::npos) {
    const std::size_t query = url.find('?', start);
    return query == std::string::npos ? "/" : "/" + url.substr(query);
  }
  std::string path = url.substr(slash);
  const std::size_t fragment = path.find('#');
  if (fragment != std::string::npos) path.erase(fragment);
  return path;
}

// The origin of an address: "scheme://host[:port]", before PathAndQuery.
std::string OriginOf(const std::string& url) {
  const std::size_t start = url.find("://");
  const std::size_t end = url.find_first_of("/?#", start == std::string::npos ? 0 : start + 3);
  return url.substr(0, end);
}

bool IsWordChar(char c) {
  return IsLetter(static_cast<unsigned char>(c)) || (c >= '0' && c <= '9') || c == '_';
}

// Whether `word` stands in `text` as a word of its own (any case).
bool HasWord(const std::string& text, const std::string& word) {
  const std::string lower = AsciiLowerCase(text);
  const std::string needle = AsciiLowerCase(word);
  for (std::size_t at = lower.find(needle); at != std::string::npos;
       at = lower.find(needle, at + 1)) {
    const bool before = at == 0 || !IsWordChar(lower[at - 1]);
    const std::size_t after = at + needle.size();
    if (before && (after >= lower.size() || !IsWordChar(lower[after]))) return true;
  }
  return false;
}

// A refusal that speaks of the account: of kd, an account, or its name.
bool MentionsAccount(const std::string& words, const std::string& account) {
  for (const char* word : {"kd", "konto", "kontoname", "account", "accounts"}) {
    if (HasWord(words, word)) return true;
  }
  return !Trim(account).empty() && FindNoCase(words, Trim(account)) != std::string::npos;
}

// The FTP login went through: a 230 in curl's verbose output.
bool FtpLoggedIn(const std::string& text) {
  for (const std::string& line : SplitLines(text)) {
    int code = 0;
    if (IsFtpReply(line, &code) && code == 230) return true;
  }
  return false;
}

// The port of the last data connection curl tried ("* Connecting to HOST
// (ADDRESS) port N"), 0 when it tried none.
int DataPortTried(const std::string& text) {
  int port = 0;
  for (const std::string& line : SplitLines(text)) {
    if (line.rfind("* Connecting to ", 0) != 0) continue;
    const std::size_t at = line.rfind(" port ");
    if (at != std::string::npos) port = std::atoi(line.c_str() + at + 6);
  }
  return port;
}

// curl's exit 28 comes from a connection that never came about, or from an
// answer that stalled once connected ("Operation too slow", or the whole
// time used up: "Operation timed out after ...").
bool StalledWhileConnected(const std::string& text) {
  return text.find("Operation too slow") != std::string::npos ||
         text.find("Operation timed out") != std::string::npos;
}

bool MentionsEncryption(const std::string& words) {
  for (const char* word : {"encrypt", "tls", "ssl", W1252("verschlüssel")}) {
    if (FindNoCase(words, word) != std::string::npos) return true;
  }
  return false;
}

std::string Quoted(const std::string& words) { return "\"" + words + "\""; }

}  // namespace

const char kCurlReportWriteOut[] =
    "\\n@@kelvanor-curl %{response_code} %{num_redirects} %{url_effective}\\n"
    "@@kelvanor-time %{time_total}|%header{date}|%header{last-modified}\\n";

namespace {

// The report line that starts with `marker` at the beginning of a line, the
// last one in `output`; npos when there is none.
std::size_t ReportLineAt(const std::string& output, const std::string& marker) {
  std::size_t at = std::string::npos;
  for (std::size_t pos = output.find(marker); pos != std::string::npos;
       pos = output.find(marker, pos + 1)) {
    if (pos == 0 || output[pos - 1] == '\n') at = pos;
  }
  return at;
}

// The line at `at` without its marker and line end; `end` receives where
// the next line starts.
std::string ReportLine(const std::string& output, std::size_t at, const std::string& marker,
                       std::size_t* end) {
  std::size_t stop = output.find('\n', at);
  if (stop == std::string::npos) stop = output.size();
  *end = std::min(stop + 1, output.size());
  std::string line = output.substr(at + marker.size(), stop - at - marker.size());
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

}  // namespace

CurlReport ReadCurlReport(const std::string& output) {
  CurlReport report;
  const std::size_t at = ReportLineAt(output, kReportMarker);
  if (at == std::string::npos) {
    report.text = output;
    return report;
  }
  std::size_t end = 0;
  const std::string line = ReportLine(output, at, kReportMarker, &end);
  char* rest = nullptr;
  report.code = std::strtol(line.c_str(), &rest, 10);
  report.redirects = static_cast<int>(std::strtol(rest, &rest, 10));
  // curl keeps a login in the address it reports after a redirect on the
  // same host; the address goes into messages and the log.
  report.url = AddressWithoutLogin(Trim(rest));
  report.found = true;
  // The second line follows the first at once.
  if (output.compare(end, sizeof kTimeMarker - 1, kTimeMarker) == 0) {
    std::vector<std::string> parts;
    SplitFieldsBy('|', ReportLine(output, end, kTimeMarker, &end), parts, 2);
    report.seconds = std::strtod(parts[0].c_str(), nullptr);
    report.date = Trim(parts[1]);
    report.lastModified = Trim(parts[2]);
  }
  // The line break curl put before the report is its own, not the answer's.
  std::size_t cut = at;
  if (cut > 0 && output[cut - 1] == '\n') --cut;
  if (cut > 0 && output[cut - 1] == '\r') --cut;
  report.text = output.substr(0, cut) + output.substr(end);
  return report;
}

namespace {

bool AllDigits(const std::string& text) {
  return !text.empty() &&
         std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// 1 to 12 for "Jan" ... "Dec" (any case); 0 for any other word.
int MonthOf(const std::string& word) {
  static const char* const kMonths[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                        "jul", "aug", "sep", "oct", "nov", "dec"};
  if (word.size() < 3) return 0;
  const std::string start = AsciiLowerCase(word.substr(0, 3));
  for (int m = 0; m < 12; ++m) {
    if (start == kMonths[m]) return m + 1;
  }
  return 0;
}

}  // namespace

int64_t ParseHttpDate(const std::string& text) {
  // "Sun, 06 Nov 1994 08:49:37 GMT", "Sunday, 06-Nov-94 08:49:37 GMT" and
  // "Sun Nov  6 08:49:37 1994" hold the same parts in another order.
  long day = -1;
  long month = 0;
  long year = -1;
  long clock[3] = {-1, -1, -1};
  std::vector<std::string> words;
  std::string word;
  for (const char c : text + " ") {
    if (c == ' ' || c == ',' || c == '\t') {
      if (!word.empty()) words.push_back(word);
      word.clear();
    } else {
      word += c;
    }
  }
  for (const std::string& w : words) {
    if (w.find(':') != std::string::npos) {
      std::vector<std::string> hms;
      SplitFieldsBy(':', w, hms, 2);
      for (std::size_t i = 0; i < 3; ++i) {
        if (!AllDigits(hms[i]) || hms[i].size() > 2) return 0;
        clock[i] = std::atol(hms[i].c_str());
      }
    } else if (w.find('-') != std::string::npos) {
      std::vector<std::string> dmy;
      SplitFieldsBy('-', w, dmy, 2);
      if (!AllDigits(dmy[0]) || !AllDigits(dmy[2])) return 0;
      day = std::atol(dmy[0].c_str());
      month = MonthOf(dmy[1]);
      year = std::atol(dmy[2].c_str());
      // Two digits: the century closest to now.
      if (dmy[2].size() == 2) year += year < 70 ? 2000 : 1900;
    } else if (AllDigits(w)) {
      if (w.size() == 4) {
        year = std::atol(w.c_str());
      } else if (w.size() <= 2) {
        day = std::atol(w.c_str());
      }
    } else if (MonthOf(w) != 0 && month == 0) {
      month = MonthOf(w);
    }
  }
  if (day < 1 || day > 31 || month < 1 || year < 1970 || year > 9999 || clock[0] < 0 ||
      clock[0] > 23 || clock[1] > 59 || clock[2] > 60) {
    return 0;
  }
  // Days since 1970 by the civil calendar.
  const long y = year - (month <= 2 ? 1 : 0);
  const long era = y / 400;
  const long yoe = y - era * 400;
  const long doy = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
  const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + doe - 719468;
  return days * 86400 + clock[0] * 3600 + clock[1] * 60 + clock[2];
}

std::string CurlAnswerText(const std::string& text) { return CurlAnswer(text); }

long PackedFileCount(const std::string& answer) {
  const std::vector<std::string> lines = PlainLines(answer);
  if (lines.empty()) return -1;
  const std::string& first = lines.front();
  std::size_t start = first.size();
  while (start > 0 && first[start - 1] >= '0' && first[start - 1] <= '9') --start;
  if (start == first.size() || first.size() - start > 9) return -1;
  // A number glued to a word ("dl_hof1") is part of a name, not a count.
  if (start > 0 && first[start - 1] != ' ') return -1;
  return std::strtol(first.c_str() + start, nullptr, 10);
}

std::vector<std::string> CurlDetailLines(const std::string& text) {
  std::vector<std::string> lines;
  const std::size_t curlLines = CurlLinesStart(text);
  for (const std::string& line : SplitLines(text.substr(0, curlLines))) {
    int code = 0;
    if (IsFtpReply(line, &code) && code >= 400) lines.push_back(line.substr(2));
  }
  for (const std::string& line : SplitLines(text.substr(curlLines))) {
    if (!Trim(line).empty()) lines.push_back(line);
  }
  return lines;
}

bool ReadsAsError(const std::string& answer) {
  if (IsScriptSource(answer)) return true;
  const std::vector<std::string> lines = PlainLines(answer.substr(FirstWordAt(answer)));
  for (const std::string& line : lines) {
    for (const char* mark : {"Warning:", "Fatal error:", "Parse error:"}) {
      if (line.find(mark) != std::string::npos) return true;
    }
  }
  if (lines.empty()) return false;
  const std::string& first = lines.front();
  for (const char* word : {"Fehler", "ERROR", "not found"}) {
    const std::size_t n = std::string(word).size();
    if (HasAt(first, 0, word) &&
        (first.size() == n || !IsLetter(static_cast<unsigned char>(first[n])))) {
      return true;
    }
  }
  return false;
}

std::string CurlOutputText(const std::string& utf8) {
  // What stands before the first word is byte-order marks and ASCII blanks:
  // the same bytes in both encodings.
  const std::size_t first = FirstWordAt(utf8);
  return utf8.substr(0, first) + Utf8ToCp1252(utf8.substr(first));
}

std::string ServerWords(const std::string& answer, std::size_t maxLines) {
  std::string words;
  std::size_t taken = 0;
  for (const std::string& line : PlainLines(answer.substr(FirstWordAt(answer)))) {
    if (taken == maxLines) break;
    if (!words.empty()) words += " / ";
    words += line.size() > kLineWidth ? line.substr(0, kLineWidth) + " ..." : line;
    ++taken;
  }
  return words;
}

std::string FtpRefusal(const std::string& text) {
  std::string refusal;
  for (const std::string& line : SplitLines(text)) {
    int code = 0;
    if (IsFtpReply(line, &code) && code >= 400) refusal = Trim(line.substr(2));
  }
  return refusal;
}

bool SameRequest(const std::string& requested, const std::string& reached) {
  return PathAndQuery(requested) == PathAndQuery(reached);
}

CurlVerdict JudgeCurl(CurlRequest request, const std::string& requested, int exitCode,
                      const std::string& output) {
  using Kind = CurlVerdict::Kind;
  const CurlReport report = ReadCurlReport(output);
  CurlVerdict verdict;
  verdict.exitCode = exitCode;
  verdict.code = report.code;
  verdict.requested = requested;
  verdict.reached = report.found && !report.url.empty() ? report.url : requested;
  verdict.redirected = report.redirects > 0;
  const bool ftp = request == CurlRequest::kFtpUpload;
  // Only a script speaks to the user; an archive is bytes. A script's source
  // is not its words (and may hold the server's passwords).
  verdict.scriptSource = request == CurlRequest::kScript && IsScriptSource(CurlAnswer(report.text));
  verdict.words = ftp ? FtpRefusal(report.text)
                      : verdict.scriptSource ? std::string()
                      : (request == CurlRequest::kScript || exitCode == kHttpReturnedError
                             ? ServerWords(CurlAnswer(report.text))
                             : std::string());
  const bool elsewhere = !ftp && !SameRequest(requested, verdict.reached);

  switch (exitCode) {
    case 0:
      if (elsewhere) {
        verdict.kind = Kind::kMoved;
      } else if (request == CurlRequest::kScript && ReadsAsError(CurlAnswer(report.text))) {
        verdict.kind = Kind::kFailed;
      } else {
        verdict.kind = Kind::kDone;
        verdict.words.clear();
      }
      return verdict;
    case kCouldNotResolveProxy:
    case kCouldNotResolveHost:
    case kCouldNotConnect:
    case kOperationTimedOut:
      if (exitCode == kOperationTimedOut && StalledWhileConnected(report.text)) {
        verdict.kind = Kind::kTooSlow;
      } else if (ftp && exitCode != kCouldNotResolveHost && FtpLoggedIn(report.text)) {
        // curl's own line names the control connection's port here; what
        // failed is the data connection to the port the server named.
        verdict.kind = Kind::kDataRefused;
        verdict.dataPort = DataPortTried(report.text);
      } else {
        verdict.kind = verdict.redirected ? Kind::kMoved : Kind::kUnreachable;
      }
      return verdict;
    case kFtpWeirdPasvReply:
      verdict.kind = ftp ? Kind::kNoPassive : Kind::kOther;
      return verdict;
    case kHttpReturnedError:
      if (elsewhere) {
        verdict.kind = Kind::kMoved;
      } else if (request == CurlRequest::kArchive && report.code == 404) {
        verdict.kind = Kind::kNoArchive;
      } else if (request == CurlRequest::kScript && (report.code == 400 || report.code == 403)) {
        verdict.kind = Kind::kRefused;
      } else {
        verdict.kind = Kind::kFailed;
      }
      return verdict;
    case kUnsupportedProtocol:
    case kTooManyRedirects:
      verdict.kind = verdict.redirected ? Kind::kMoved : Kind::kOther;
      return verdict;
    case kLoginDenied:
      verdict.kind = Kind::kLoginRefused;
      return verdict;
    case kUseSslFailed:
      verdict.kind = Kind::kNoTls;
      return verdict;
    case kSslConnectError:
    case kPeerFailedVerification:
      // A redirect to https at the same path is the server's encryption, not
      // a move: what failed is trusting it.
      verdict.kind = verdict.redirected && elsewhere ? Kind::kMoved : Kind::kInsecure;
      return verdict;
    default:
      verdict.kind = Kind::kOther;
      return verdict;
  }
}

std::string CurlFailureMessage(const CurlVerdict& verdict, const std::string& what,
                               const std::string& account, bool ftpTls) {
  using Kind = CurlVerdict::Kind;
  const std::string serverSaid =
      verdict.words.empty() ? std::string() : "\rAntwort des Servers: " + Quoted(verdict.words);
  switch (verdict.kind) {
    case Kind::kDone:
    case Kind::kNoArchive:
      return std::string();
    case Kind::kUnreachable:
      return kServerUnreachable;
    case Kind::kTooSlow:
      return what + W1252(".\rDer Server ist erreichbar, hat aber zu langsam geantwortet: ") +
             std::to_string(kCurlStallSeconds) +
             W1252(" Sekunden lang ging nichts voran.\rBitte später erneut synchronisieren; "
                   "bleibt es dabei, den Betreiber des Servers fragen (ein Skript braucht dort "
                   "zu lange, oder seine Leitung ist überlastet).");
    case Kind::kNoPassive:
      return what + W1252(".\rDer FTP-Server lässt keine Übertragung im passiven Modus zu") +
             (verdict.words.empty() ? std::string(".") : " (Antwort: " + Quoted(verdict.words) + ").") +
             W1252("\rKelvanor überträgt im passiven Modus, wie es hinter einem Router oder einer "
                   "Firewall nötig ist. Ein späterer Versuch hilft nicht: Bitte den Betreiber des "
                   "Servers bitten, den passiven Modus (PASV) freizugeben.");
    case Kind::kDataRefused:
      return what +
             W1252(".\rDie Anmeldung am FTP-Server ist gelungen, aber die Datenverbindung für "
                   "die Übertragung kam nicht zustande (passiver Modus") +
             (verdict.dataPort > 0 ? ", Port " + std::to_string(verdict.dataPort) : std::string()) +
             W1252(").\rEin späterer Versuch hilft nicht: Der Server oder eine Firewall davor lässt "
                   "die Ports für den passiven Modus nicht durch. Bitte den Betreiber des Servers "
                   "fragen, ob die Ports für passives FTP freigegeben sind.");
    case Kind::kMoved: {
      std::string there;
      switch (verdict.exitCode) {
        case 0:
          there = "Dort wurde die Anfrage nicht erledigt.";
          break;
        case kCouldNotResolveProxy:
        case kCouldNotResolveHost:
        case kCouldNotConnect:
        case kOperationTimedOut:
          there = "Dort ist der Server nicht erreichbar.";
          break;
        case kUnsupportedProtocol:
          there = "Dorthin folgt Kelvanor nicht: nur http und https sind erlaubt.";
          break;
        case kTooManyRedirects:
          there = "Die Weiterleitungen nehmen kein Ende.";
          break;
        case kSslConnectError:
        case kPeerFailedVerification:
          there = W1252(
              "Die verschlüsselte Verbindung dorthin kam nicht zustande (das Zertifikat "
              "des Servers wurde nicht anerkannt).");
          break;
        default:
          break;
      }
      return what + ".\rDer Server ist umgezogen: " + verdict.requested + " wird nach " +
             verdict.reached + " weitergeleitet." + (there.empty() ? "" : "\r" + there) +
             (verdict.words.empty() ? "" : "\rAntwort dort: " + Quoted(verdict.words)) +
             "\rBitte die Adresse des Servers in Kelvanor.ini (Abschnitt [sync_server]) "
             "anpassen.";
    }
    case Kind::kRefused:
      if (MentionsAccount(verdict.words, account)) {
        return "Der Server hat das Konto " + Quoted(account) + " abgelehnt." + serverSaid +
               W1252("\rBitte den Kontonamen unter \"Konto ...\" prüfen.");
      }
      if (verdict.code == 403) {
        return what + ".\rDer Server hat die Anfrage abgelehnt (Antwort 403, kein Zugriff)." +
               serverSaid +
               W1252("\rVielleicht lässt er nur bestimmte Rechner zu: Bitte den Betreiber des "
                     "Servers fragen, ob dieser PC zugelassen ist.");
      }
      return what + ".\rDer Server hat die Anfrage nicht angenommen (Antwort " +
             std::to_string(verdict.code) + ")." + serverSaid +
             "\rBitte den Betreiber des Servers fragen.";
    case Kind::kFailed:
      if (verdict.scriptSource) {
        return what + W1252(
                          ".\rDer Server hat den Quelltext des Skripts geschickt, statt es "
                          "auszuführen: PHP läuft dort nicht.\rBitte den Betreiber des Servers "
                          "fragen.");
      }
      return what + "." +
             (verdict.words.empty() ? "\rDer Server hat keinen Grund genannt." : serverSaid) +
             W1252(
                 "\rBitte später erneut synchronisieren; bleibt der Fehler, den Betreiber des "
                 "Servers fragen.");
    case Kind::kLoginRefused:
      if (!ftpTls && MentionsEncryption(verdict.words)) {
        return what + ".\rDer FTP-Server hat die Anmeldung abgelehnt: " + Quoted(verdict.words) +
               W1252(
                   "\rEr verlangt eine verschlüsselte Verbindung: bitte in Kelvanor.ini im "
                   "Abschnitt [sync_server] ftp_tls=1 eintragen.");
      }
      return what + ".\rDer FTP-Server hat die Anmeldung abgelehnt" +
             (verdict.words.empty() ? std::string(".") : ": " + Quoted(verdict.words)) +
             "\rBitte den Betreiber des Servers fragen.";
    case Kind::kNoTls:
      return what +
             W1252(
                 ".\rDer FTP-Server bietet keine verschlüsselte Verbindung an; "
                 "Kelvanor.ini verlangt sie (ftp_tls=1).\rBitte den Betreiber des Servers fragen.");
    case Kind::kInsecure: {
      const std::string why =
          verdict.exitCode == kPeerFailedVerification
              ? W1252(": sein Zertifikat ist nicht vertrauenswürdig (von keiner anerkannten "
                      "Stelle, oder für einen anderen Namen ausgestellt).")
              : ".";
      const std::string where =
          verdict.redirected ? W1252(".\rDer Server leitet auf die verschlüsselte Adresse ") +
                                   OriginOf(verdict.reached) +
                                   W1252(" weiter, doch die Verbindung dorthin kam nicht zustande")
                             : W1252(".\rDie verschlüsselte Verbindung zum Server kam nicht zustande");
      return what + where + why +
             W1252(" Es wurde nichts übertragen.\rBitte den Betreiber des Servers fragen.");
    }
    case Kind::kOther:
      break;
  }
  return what + "." + serverSaid + "\rEinzelheiten stehen im Protokoll.";
}

std::string RedirectHint(const CurlVerdict& verdict) {
  return "Hinweis: Der Server leitet " + OriginOf(verdict.requested) + " nach " +
         OriginOf(verdict.reached) +
         " weiter; die Adresse in Kelvanor.ini (Abschnitt [sync_server]) kann angepasst werden.";
}

}  // namespace kelvanor
