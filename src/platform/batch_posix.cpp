#include "platform/batch.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <system_error>

#include "platform/process.h"
#include "util/encoding.h"
#include "util/text.h"

namespace kelvanor {

namespace fs = std::filesystem;

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// What a command writes for the user goes where the caller asked: into the
// captured output, or to our stderr like a console window would show it.
class CommandOutput {
 public:
  explicit CommandOutput(const BatchOptions& options) : options_(options) {}
  void Say(const std::string& utf8Line) {
    if (options_.output != nullptr) {
      *options_.output += utf8Line + "\n";
    } else {
      std::cerr << utf8Line << std::endl;
    }
  }

 private:
  const BatchOptions& options_;
};

const char kFileNotFound[] = "Das System kann die angegebene Datei nicht finden.";

// Paths of the built-in commands may be written with backslashes (the tool
// builds some of them that way); the file system here wants slashes.
std::string FileSystemPath(const std::string& word) { return ReplaceAll(word, "\\", "/"); }

bool IsSwitch(const CommandWord& w) {
  return !w.quoted && w.text.size() == 2 && w.text[0] == '/' &&
         std::isalpha(static_cast<unsigned char>(w.text[1]));
}

char SwitchLetter(const CommandWord& w) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(w.text[1])));
}

// Separates switches from operands; false (with a message) for a switch the
// command does not know.
bool TakeSwitches(const std::vector<CommandWord>& words, const std::string& allowed,
                  std::string& switches, std::vector<std::string>& operands, CommandOutput& out) {
  for (const CommandWord& w : words) {
    if (!IsSwitch(w)) {
      operands.push_back(w.text);
      continue;
    }
    const char letter = SwitchLetter(w);
    if (allowed.find(letter) == std::string::npos) {
      out.Say("Ungültiger Schalter - " + w.text);
      return false;
    }
    switches += letter;
  }
  return true;
}

int BuiltinCopy(const std::vector<CommandWord>& words, CommandOutput& out) {
  std::string switches;
  std::vector<std::string> operands;
  if (!TakeSwitches(words, "YBV", switches, operands, out)) return 1;
  if (operands.empty() || operands.size() > 2) {
    out.Say("Die Syntax für den Dateinamen ist falsch.");
    return 1;
  }
  const fs::path source = FileSystemPath(operands[0]);
  std::string targetText = operands.size() == 2 ? FileSystemPath(operands[1]) : ".";
  std::error_code ec;
  if (targetText.empty()) {
    out.Say("Die Syntax für den Dateinamen ist falsch.");
    return 1;
  }
  // Nothing is read or written through a link: a link as the source is no
  // file to copy, and a link in the target's place is replaced, not written
  // into.
  if (!fs::is_regular_file(fs::symlink_status(source, ec))) {
    out.Say(kFileNotFound);
    return 1;
  }
  fs::path target = targetText;
  if (targetText.back() == '/' || fs::is_directory(fs::symlink_status(target, ec))) {
    target /= source.filename();
  }
  if (fs::exists(target, ec) && fs::equivalent(source, target, ec)) {
    out.Say("Die Datei kann nicht auf sich selbst kopiert werden.");
    return 1;
  }
  if (fs::is_symlink(fs::symlink_status(target, ec))) fs::remove(target, ec);
  if (!fs::copy_file(source, target, fs::copy_options::overwrite_existing, ec)) {
    out.Say(target.string() + ": " + ec.message());
    return 1;
  }
  return 0;
}

int BuiltinDel(const std::vector<CommandWord>& words, CommandOutput& out) {
  std::string switches;
  std::vector<std::string> operands;
  if (!TakeSwitches(words, "FQ", switches, operands, out)) return 1;
  if (operands.empty()) {
    out.Say("Die Syntax des Befehls ist falsch.");
    return 1;
  }
  // cmd reports success for a file that is not there; a step that was to
  // delete something and found nothing has gone wrong, so it fails here.
  int status = 0;
  for (const std::string& operand : operands) {
    const fs::path file = FileSystemPath(operand);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(file, ec);
    if (!fs::exists(st)) {
      out.Say("Datei nicht gefunden - " + operand);
      status = 1;
    } else if (fs::is_directory(st)) {
      out.Say("Zugriff verweigert - " + operand + " ist ein Verzeichnis.");
      status = 1;
    } else if (!fs::remove(file, ec)) {
      out.Say(operand + ": " + ec.message());
      status = 1;
    }
  }
  return status;
}

int BuiltinRmdir(const std::vector<CommandWord>& words, CommandOutput& out) {
  std::string switches;
  std::vector<std::string> operands;
  if (!TakeSwitches(words, "SQ", switches, operands, out)) return 1;
  if (operands.empty()) {
    out.Say("Die Syntax des Befehls ist falsch.");
    return 1;
  }
  const bool tree = switches.find('S') != std::string::npos;
  int status = 0;
  for (const std::string& operand : operands) {
    std::string path = FileSystemPath(operand);
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    std::error_code ec;
    if (path.empty() || path == "/" || path == "." || path == "..") {
      out.Say("Der Vorgang ist für " + operand + " nicht zulässig.");
      status = 1;
      continue;
    }
    const fs::file_status st = fs::symlink_status(path, ec);
    if (fs::is_symlink(st) && fs::is_directory(fs::status(path, ec))) {
      // Like a junction on Windows: the link goes, its target stays.
      if (!fs::remove(path, ec)) {
        out.Say(operand + ": " + ec.message());
        status = 1;
      }
      continue;
    }
    if (!fs::is_directory(st)) {
      out.Say(kFileNotFound);
      status = 1;
      continue;
    }
    if (tree) {
      fs::remove_all(path, ec);
    } else if (!fs::is_empty(path, ec)) {
      out.Say("Das Verzeichnis ist nicht leer.");
      status = 1;
      continue;
    } else {
      fs::remove(path, ec);
    }
    if (ec || fs::exists(fs::symlink_status(path))) {
      out.Say(operand + ": " + (ec ? ec.message() : std::string("nicht entfernt")));
      status = 1;
    }
  }
  return status;
}

std::string LowerAscii(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// An environment variable as cmd finds it: the name in any case.
bool BatchVariable(const std::string& name, const std::vector<std::string>& environment,
                   std::string& value) {
  if (name.empty()) return false;
  const std::string wanted = LowerAscii(name);
  auto matches = [&](const std::string& entry) {
    const std::size_t eq = entry.find('=');
    if (eq == std::string::npos || LowerAscii(entry.substr(0, eq)) != wanted) return false;
    value = entry.substr(eq + 1);
    return true;
  };
  for (const std::string& entry : environment)
    if (matches(entry)) return true;
  for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry)
    if (matches(*entry)) return true;
  return false;
}

// ":~start,length" and ":old=new" ("*old=new": everything up to old) on a
// defined variable's value.
std::string EditVariable(const std::string& value, const std::string& edit) {
  const long size = static_cast<long>(value.size());
  if (!edit.empty() && edit[0] == '~') {
    char* end = nullptr;
    long start = std::strtol(edit.c_str() + 1, &end, 10);
    long length = size;
    if (*end == ',') length = std::strtol(end + 1, &end, 10);
    if (start < 0) start += size;
    start = std::max(0L, std::min(start, size));
    if (length < 0) length += size - start;
    length = std::max(0L, std::min(length, size - start));
    return value.substr(static_cast<std::size_t>(start), static_cast<std::size_t>(length));
  }
  const std::size_t eq = edit.find('=');
  if (eq == std::string::npos) return value;
  std::string find = edit.substr(0, eq);
  const std::string replacement = edit.substr(eq + 1);
  const bool uptoFirst = !find.empty() && find[0] == '*';
  if (uptoFirst) find.erase(0, 1);
  if (find.empty()) return value;
  const std::string lowerValue = LowerAscii(value);
  const std::string lowerFind = LowerAscii(find);
  std::string out;
  std::size_t pos = 0;
  for (;;) {
    const std::size_t hit = lowerValue.find(lowerFind, pos);
    if (hit == std::string::npos) break;
    out += uptoFirst ? replacement : value.substr(pos, hit - pos) + replacement;
    pos = hit + find.size();
    if (uptoFirst) break;
  }
  return out + value.substr(pos);
}

// A private file for a program's output, removed when the run is over.
class OutputCapture {
 public:
  OutputCapture() {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/kelvanor-out-XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd >= 0) {
      ::close(fd);
      path_ = pattern;
    }
  }
  ~OutputCapture() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  OutputCapture(const OutputCapture&) = delete;
  OutputCapture& operator=(const OutputCapture&) = delete;
  const std::string& Path() const { return path_; }
  std::string Text() const {
    std::ifstream in(path_, std::ios::binary);
    std::ostringstream buf;
    buf << in.rdbuf();
    return buf.str();
  }

 private:
  std::string path_;
};

int RunProgram(const std::string& word, const std::string& rest, IMessagePump& pump,
               const BatchOptions& options, CommandOutput& out) {
  const std::string program = FindProgram(FileSystemPath(word));
  if (program.empty()) {
    out.Say("Der Befehl \"" + word +
            "\" ist entweder falsch geschrieben oder konnte nicht gefunden werden.");
    return kExitProgramNotFound;
  }
  ChildProcessSetup setup;
  setup.program = program;
  setup.argv.push_back(word);
  for (std::string& arg : SplitProgramArguments(rest)) setup.argv.push_back(std::move(arg));
  setup.environment = options.environment;

  if (options.output == nullptr) return RunProcessAndWait(setup, pump);
  OutputCapture capture;
  if (capture.Path().empty()) {
    out.Say("Keine temporäre Datei für die Ausgabe.");
    return kExitCannotStart;
  }
  setup.outputFile = capture.Path();
  const int status = RunProcessAndWait(setup, pump);
  *options.output += capture.Text();
  if (status == kExitCannotExecute) out.Say(program + " kann nicht ausgeführt werden.");
  return status;
}

}  // namespace

std::string ExpandBatchPercents(const std::string& line, const std::string& batchFileUtf8,
                                const std::vector<std::string>& environment) {
  std::string out;
  const std::size_t n = line.size();
  std::size_t i = 0;
  while (i < n) {
    if (line[i] != '%') {
      out += line[i++];
      continue;
    }
    const char next = i + 1 < n ? line[i + 1] : '\0';
    if (next == '%') {
      out += '%';
      i += 2;
      continue;
    }
    if (next == '*') {  // all arguments: there are none
      i += 2;
      continue;
    }
    if (std::isdigit(static_cast<unsigned char>(next))) {
      if (next == '0') out += "\"" + batchFileUtf8 + "\"";
      i += 2;
      continue;
    }
    if (next == '~') {
      std::size_t j = i + 2;
      // The modifiers of "%~nx1" and the like.
      while (j < n && line[j] != '\0' &&
             std::strchr("fdpnxsatz", std::tolower(static_cast<unsigned char>(line[j]))) != nullptr) {
        ++j;
      }
      if (j < n && std::isdigit(static_cast<unsigned char>(line[j]))) {
        if (line[j] == '0') out += batchFileUtf8;
        i = j + 1;
        continue;
      }
    }
    const std::size_t close = line.find('%', i + 1);
    if (close == std::string::npos) {  // a lone "%" vanishes
      ++i;
      continue;
    }
    const std::string name = line.substr(i + 1, close - i - 1);
    const std::size_t colon = name.find(':');
    std::string value;
    if (colon == std::string::npos) {
      if (BatchVariable(name, environment, value)) out += value;
      i = close + 1;
      continue;
    }
    if (!BatchVariable(name.substr(0, colon), environment, value)) {
      // "%NAME:" vanishes and reading goes on after the colon.
      i += 1 + colon + 1;
      continue;
    }
    out += EditVariable(value, name.substr(colon + 1));
    i = close + 1;
  }
  return out;
}

std::vector<CommandWord> SplitCommandWords(const std::string& text) {
  std::vector<CommandWord> words;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n) {
    while (i < n && IsBlank(text[i])) ++i;
    if (i >= n) break;
    CommandWord w;
    bool inQuotes = false;
    while (i < n && (inQuotes || !IsBlank(text[i]))) {
      if (text[i] == '"') {
        inQuotes = !inQuotes;
        w.quoted = true;
      } else {
        w.text += text[i];
      }
      ++i;
    }
    words.push_back(std::move(w));
  }
  return words;
}

std::vector<std::string> SplitProgramArguments(const std::string& text) {
  std::vector<std::string> args;
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsBlank(text[i])) ++i;
  while (i < n) {
    std::string arg;
    std::size_t backslashes = 0;  // run of backslashes just copied into arg
    int quotes = 0;               // 1 while inside a quoted group
    while (i < n && !(IsBlank(text[i]) && quotes == 0)) {
      const char c = text[i];
      if (c == '\\') {
        arg += c;
        ++backslashes;
        ++i;
      } else if (c == '"') {
        if (backslashes % 2 == 0) {
          arg.resize(arg.size() - backslashes / 2);
          ++quotes;
        } else {
          arg.resize(arg.size() - backslashes / 2 - 1);
          arg += '"';
        }
        backslashes = 0;
        ++i;
        // Consecutive quotes: the third of a run (counting the one that
        // opened the group) stands for itself.
        while (i < n && text[i] == '"') {
          if (++quotes == 3) {
            arg += '"';
            quotes = 0;
          }
          ++i;
        }
        if (quotes == 2) quotes = 0;
      } else {
        arg += c;
        backslashes = 0;
        ++i;
      }
    }
    args.push_back(std::move(arg));
    while (i < n && IsBlank(text[i])) ++i;
  }
  return args;
}

int RunBatchLine(const std::string& line, IMessagePump& pump, const BatchOptions& options) {
  CommandOutput out(options);
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  if (i >= line.size()) return 0;

  // The command word: quotes group it, and a quoted word is never a built-in.
  std::string word;
  bool quoted = false;
  if (line[i] == '"') {
    quoted = true;
    const std::size_t close = line.find('"', i + 1);
    const std::size_t end = close == std::string::npos ? line.size() : close;
    word = line.substr(i + 1, end - i - 1);
    i = close == std::string::npos ? line.size() : close + 1;
  } else {
    const std::size_t start = i;
    while (i < line.size() && !IsBlank(line[i])) ++i;
    word = line.substr(start, i - start);
  }
  const std::string rest = line.substr(i);

  if (!quoted) {
    const std::string name = LowerAscii(word);
    if (name == "copy") return BuiltinCopy(SplitCommandWords(rest), out);
    if (name == "del" || name == "erase") return BuiltinDel(SplitCommandWords(rest), out);
    if (name == "rmdir" || name == "rd") return BuiltinRmdir(SplitCommandWords(rest), out);
  }
  return RunProgram(word, rest, pump, options, out);
}

int RunAndWait(const std::string& batchFile, IMessagePump& pump) {
  return RunAndWait(batchFile, pump, BatchOptions{});
}

int RunAndWait(const std::string& batchFile, IMessagePump& pump,
               const BatchOptions& options) {
  std::ifstream in(AnsiToUtf8Name(batchFile), std::ios::binary);
  std::ostringstream buf;
  if (in.is_open()) buf << in.rdbuf();
  if (!in.is_open() || in.bad()) {
    CommandOutput(options).Say("Die Stapeldatei kann nicht gelesen werden: " +
                               AnsiToUtf8Name(batchFile));
    return kExitCannotStart;
  }
  // The whole file is in the console code page, as cmd reads it: a byte the
  // tool did not convert is not read as Windows-1252 (0xE1 is ß, never á).
  const std::string text = OemToUtf8(buf.str());

  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    line = ExpandBatchPercents(line, AnsiToUtf8Name(batchFile), options.environment);
    const int status = RunBatchLine(line, pump, options);
    if (status != 0) return status;
    start = end + 1;
  }
  return 0;
}

}  // namespace kelvanor
