// Windows-1252 <-> UTF-8. The tool keeps Windows-1252 bytes end to end and
// converts only at the edge: file names for SQLite, the window, the terminal.
#pragma once

#include <string>

namespace kelvanor {

// Windows-1252 to UTF-8; the five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the code point of the same value.
std::string AnsiToUtf8Name(const std::string& ansi);

// The same conversion, named for its use in display code.
inline std::string Cp1252ToUtf8(const std::string& ansi) { return AnsiToUtf8Name(ansi); }

// UTF-8 to Windows-1252 (text typed into the window or given on the command
// line). Characters the code page lacks become "?"; invalid UTF-8 bytes are
// taken as Windows-1252 bytes as they stand.
std::string Utf8ToCp1252(const std::string& utf8);

}  // namespace kelvanor
