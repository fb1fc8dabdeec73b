// Text helpers over the tool's 8-bit Windows-1252 strings. None keeps state.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvanor {

// Splits a change-file line at every ";" (no quoting, no trimming). The result
// has at least highestSlot + 1 entries, missing fields empty; a line with more
// fields yields all of them, so callers simply ignore what they do not read.
std::vector<std::string> SplitFields(const std::string& line, std::size_t highestSlot);

// Splits text at sep into at most highestSlot + 1 parts; the last part keeps
// any further separators. `parts` is resized to highestSlot + 1 with the unused
// slots empty. Returns the number of parts found.
std::size_t SplitFieldsBy(char sep, const std::string& text, std::vector<std::string>& parts,
                          std::size_t highestSlot);

// Replaces every non-overlapping occurrence of pattern, scanning left to right;
// replaced text is never scanned again. An empty pattern returns text unchanged.
// Splits file content into lines at CR, LF or CR LF; a last line without
// terminator counts; empty content gives no line.
std::vector<std::string> SplitLines(const std::string& content);

std::string ReplaceAll(const std::string& text, const std::string& pattern,
                       const std::string& replacement);

// Every double quote becomes "+!" / every "+!" becomes two double quotes.
std::string EscapeQuotes(const std::string& text);
std::string UnescapeQuotes(const std::string& text);

// ß -> ss, ü -> ue, ä -> ae, ö -> oe (in that order); capitals stay.
std::string Transliterate(const std::string& text);

// Drops every span from "<" to the next ">"; a lone ">" is dropped, an unclosed
// "<" drops the rest.
std::string StripTags(const std::string& text);

// Removes leading and trailing blanks (spaces only) / blanks and control
// characters (every byte <= 0x20).
std::string TrimBlanks(const std::string& text);
std::string Trim(const std::string& text);

// Upper-cases ASCII and the Windows-1252 Latin-1 letters (ä -> Ä ...), the way
// the host platform compares column names.
std::string AnsiUpperCase(const std::string& text);
// The same for one character.
char AnsiUpperChar(char c);
// Lower-cases the letters A to Z only.
std::string AsciiLowerCase(const std::string& text);

bool StartsWith(const std::string& text, const std::string& prefix);

// A count with its noun in the right number: "1 Zeile", "2 Zeilen", "0 Zeilen".
std::string Counted(std::size_t count, const std::string& one, const std::string& many);

}  // namespace kelvanor
