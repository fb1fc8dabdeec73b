// Running the tool's batch file tmp.bat. On Windows the real command
// interpreter runs it (batch_windows.cpp). Elsewhere a small interpreter
// (batch_posix.cpp) stands in for it. It knows the three commands the tool writes
// (copy, del, rmdir /S /Q); any other first word names a program, found as
// NAME or as NAME without ".exe" (curl.exe -> curl), first in the current
// folder, then on PATH.
//
// The file's bytes are in the console code page 850 (what AnsiToOem writes),
// every byte of every line, and are handed to the file system and to programs
// as UTF-8.
//
// Each line is first read for "%" as cmd reads a batch file (see
// ExpandBatchPercents), so a "%" the tool forgot to double goes wrong here as
// it would on Windows. Splitting then follows the two layers of Windows: the
// interpreter's own commands see words grouped by double quotes (a backslash
// is an ordinary character); a program receives the rest of the line split by
// the C runtime's rules (CommandLineToArgvW: quotes group, backslashes escape
// only before a quote). Nothing else of cmd is emulated: & | < > ^ are
// ordinary characters.
#pragma once

#include <string>
#include <vector>

#include "platform/message_pump.h"

namespace kelvanor {

// The name of the settings file curl reads from the folder $CURL_HOME: on
// Windows every curl.exe reads "_curlrc" (newer ones also ".curlrc").
#ifdef _WIN32
constexpr char kCurlConfigFileName[] = "_curlrc";
#else
constexpr char kCurlConfigFileName[] = ".curlrc";
#endif

struct BatchOptions {
  // "NAME=VALUE" entries (UTF-8) added to the environment of a started
  // program (on Windows: set in our own, which the interpreter inherits).
  std::vector<std::string> environment;
  // When set, receives what the command wrote (stdout and stderr of a
  // program, the messages of a built-in command), as UTF-8. When not set,
  // that text goes to our stderr.
  std::string* output = nullptr;
};

// Runs the batch file (path in Windows-1252) and returns its exit status:
// 0 for success; 0 or 1 for a built-in command; the program's own status; 9009
// when the program cannot be found; 128 + signal when a signal ended it; -1
// when the file cannot be read or no process could be started. Non-blank
// lines run in order and the first failing one ends the run (the tool writes
// exactly one). While a program runs, pump.ProcessPendingMessages() is called
// every 50 ms at the latest.
int RunAndWait(const std::string& batchFile, IMessagePump& pump);
int RunAndWait(const std::string& batchFile, IMessagePump& pump,
               const BatchOptions& options);

// The interpreter's parts, Linux only: the real one has its own.
#ifndef _WIN32
// One command line, already UTF-8 (what RunAndWait does for each line).
int RunBatchLine(const std::string& line, IMessagePump& pump, const BatchOptions& options);

// A line of a batch file as cmd has it after reading its "%" signs: "%%"
// gives "%"; "%0" the batch file's path in quotes, "%1" to "%9" and "%*"
// nothing (tmp.bat is started without arguments), "%~0" the path without
// quotes; "%NAME%" the value of the environment variable NAME (any case;
// `environment` entries "NAME=VALUE" first, then the process's own), with
// ":~start,length" and ":old=new" applied when it follows the name; an
// undefined "%NAME%" vanishes, and so does "%NAME:" of an undefined one; a
// lone "%" without a closing one on the line vanishes. All UTF-8.
std::string ExpandBatchPercents(const std::string& line, const std::string& batchFileUtf8,
                                const std::vector<std::string>& environment);

// A word as the interpreter's own commands see it.
struct CommandWord {
  std::string text;     // without its quotes
  bool quoted = false;  // held a double quote (then it is never a switch)
};

// The interpreter's splitting: blanks and tabs separate outside quotes, a
// double quote toggles grouping and is dropped.
std::vector<CommandWord> SplitCommandWords(const std::string& text);

// The arguments a program receives from the text after its name, split by the
// rules of CommandLineToArgvW: 2n backslashes before a quote give n
// backslashes and the quote groups; 2n+1 give n backslashes and a literal
// quote; backslashes elsewhere are literal; inside quotes, a run of three
// quotes gives one literal quote.
std::vector<std::string> SplitProgramArguments(const std::string& text);
#endif

}  // namespace kelvanor
