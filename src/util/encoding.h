// Windows-1252 <-> UTF-8. The tool keeps Windows-1252 bytes end to end and
// converts only at the edge: file names for SQLite, the window, the terminal.
#pragma once

#include <cstddef>
#include <string>

namespace kelvanor {

// The bytes an editor writes before UTF-8 text to mark it as such (Notepad
// does, and PHP sends them for every included file saved with them).
inline const std::string kUtf8ByteOrderMark = "\xEF\xBB\xBF";

// Windows-1252 to UTF-8; the five unassigned bytes (0x81, 0x8D, 0x8F, 0x90,
// 0x9D) map to the code point of the same value.
std::string AnsiToUtf8Name(const std::string& ansi);

// The same conversion, named for its use in display code.
inline std::string Cp1252ToUtf8(const std::string& ansi) { return AnsiToUtf8Name(ansi); }

// UTF-8 to Windows-1252 (text typed into the window or given on the command
// line). Characters the code page lacks become "?"; invalid UTF-8 bytes are
// taken as Windows-1252 bytes as they stand.
std::string Utf8ToCp1252(const std::string& utf8);

// The first character of a UTF-8 text that Windows-1252 has no byte for,
// written "U+0141" (it cannot be shown in the tool's own texts); "" when
// Utf8ToCp1252 keeps every character.
std::string FirstCharacterCp1252Lacks(const std::string& utf8);

// A code point written as "U+0141".
std::string CodePointName(unsigned long codePoint);

// UTF-8 to Windows-1252 for text that must not lose a letter: a character the
// code page lacks is written as its name in angle brackets ("<U+0141>")
// instead of "?", and `lacking` (when given) is set to true.
std::string Utf8ToCp1252Marked(const std::string& utf8, bool* lacking);

// Whether `bytes` hold at least one multi-byte UTF-8 sequence and are valid
// UTF-8 throughout (no overlong form, no surrogate, nothing past U+10FFFF). A
// Windows-1252 text with umlauts practically never is: "ü" alone is a lead
// byte without its continuation.
bool IsMultiByteUtf8(const std::string& bytes);

// UTF-16 text (without its byte-order mark) as UTF-8. A surrogate without its
// partner and an odd last byte become U+FFFD.
std::string Utf16ToUtf8(const std::string& bytes, bool bigEndian);

// Windows-1252 -> code page 850, the console code page in which the command
// interpreter reads tmp.bat. ASCII is the same in both. Every other character
// that code page 850 can show becomes its byte there: the German letters as
// they always were (ä 0x84, ö 0x94, ü 0x81, Ä 0x8E, Ö 0x99, Ü 0x9A, ß 0xE1),
// and so do á é ñ ç ø ... and the other Latin-1 letters and signs.
// Characters code page 850 lacks (€ ‚ „ … † ‰ Š Œ Ž ' " • – — ˜ ™ š œ ž Ÿ and
// the five unassigned bytes) have no byte there: a caller checks with
// FindNonOemCharacter and refuses such a text; AnsiToOem would write "?".
std::string AnsiToOem(const std::string& ansi);
// Where the first character lies that AnsiToOem cannot convert, npos if none.
std::size_t FindNonOemCharacter(const std::string& ansi);
// A code page 850 text (a line of tmp.bat) in UTF-8, byte by byte.
std::string OemToUtf8(const std::string& oem);

}  // namespace kelvanor
