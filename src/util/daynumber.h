// Day numbers: days since 30 December 1899, the time of day as fraction. The
// host database stores every date and moment this way.
#pragma once

#include <ctime>
#include <string>

namespace kelvanor {

struct CivilTime {
  int year = 1899, month = 12, day = 30;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

double CivilToDayNumber(const CivilTime& t);
CivilTime DayNumberToCivil(double dayNumber);


// The short date text of the user's settings; here always the German form
// "07.12.2026" (two-digit day and month, four-digit year).
std::string ShortDateText(const CivilTime& t);
// Reads a text of that form back; returns false when it is not a valid date.
bool ParseShortDate(const std::string& text, CivilTime& out);

}  // namespace kelvanor
