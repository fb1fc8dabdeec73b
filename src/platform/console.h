// The terminal side of kelvanor-cli: its arguments, its input, its output.
#pragma once

#include <string>
#include <vector>

namespace kelvanor {

// The program's arguments after its name, as UTF-8 (on Windows taken from
// the wide command line, since argv holds them in the ANSI code page).
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// True when standard input is an interactive terminal (a console window).
bool StdinIsTerminal();

// Writes UTF-8 text to stdout or stderr and flushes it. A Windows console
// window gets it as characters, whatever its code page (which stays the
// OEM one: the command interpreter reads tmp.bat in it); a pipe or a file
// gets the UTF-8 bytes.
void WriteStdout(const std::string& utf8);
void WriteStderr(const std::string& utf8);

}  // namespace kelvanor
