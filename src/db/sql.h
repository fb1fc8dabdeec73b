// Building SQL text safely. Every text value an importer writes goes through
// SqlString, never bare between double quotes: a value with a quote is stored
// intact, and a value equal to a column name stays a value.
#pragma once

#include <string>

namespace kelvanor {

// 'text' with inner single quotes doubled; the bytes stay as they are
// (Windows-1252), NUL bytes included are cut at the first NUL, like the host does.
std::string SqlString(const std::string& text);

// A day number, price or amount as SQL numeric literal ("." decimal point).
std::string SqlNumber(double value);

}  // namespace kelvanor
