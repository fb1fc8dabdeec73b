#include "export/last_appointment.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>

#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// Day numbers of 1 January 0001 and 31 December 9999: a short date text has a
// four-digit year, so nothing outside can be written as one.
constexpr double kFirstDay = -693593.0;
constexpr double kLastDayEnd = 2958466.0;

// The date text of a newest order date, "" for 0. Raises for a moment no date
// text can show; callers treat that as a failed lookup.
std::string DateTextOf(double termin) {
  if (termin == 0) return std::string();
  if (!std::isfinite(termin) || termin < kFirstDay || termin >= kLastDayEnd) {
    throw EConvertError(W1252("Datum außerhalb des gültigen Bereichs"));
  }
  return ShortDateText(DayNumberToCivil(termin));
}

// A 32-bit id in its one plain spelling ("41", "-3", "0"): the text an
// integer id, or a whole real one, reads as. "041", "41x" and "41.5" are not.
bool IsPlainInt32(const std::string& text, int32_t& value) {
  const std::size_t digits = text.size() - (!text.empty() && text[0] == '-' ? 1 : 0);
  if (digits == 0 || (digits > 1 && text[text.size() - digits] == '0')) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::string LastAppointmentDate(TDBase& db, int32_t horseId) {
  char sql[200];
  std::snprintf(sql, sizeof sql,
                "SELECT termin FROM pferd, vbauftragpferd WHERE pferd.ID = %d AND "
                "vbauftragpferd.npferdindex = pferd.ID ORDER BY termin DESC LIMIT 1",
                static_cast<int>(horseId));
  try {
    auto table = db.Query(sql);
    if (table->Eof()) return std::string();
    return DateTextOf(table->FieldAsVariant("termin").AsDouble());
  } catch (const std::exception&) {
    return std::string();
  }
}

LastAppointmentIndex::LastAppointmentIndex(TDBase& db) {
  // The single lookup's own match, vbauftragpferd.npferdindex = pferd.ID with
  // SQLite's comparison, grouped by the horse: a reference no horse's id
  // equals (a number beyond 32 bits, '41x', 41.5) counts for no horse, where
  // reading it as a number would have charged it to horse 41 or 42.
  // MAX picks the same row as ORDER BY termin DESC LIMIT 1 (NULLs lose to any
  // value, texts win over numbers, both ways), and the bare column `termin`
  // takes its value from that row while keeping the declared type REAL, so it
  // reads exactly as the single lookup reads it.
  std::unique_ptr<TDBTable> table;
  try {
    table = db.Query(
        "SELECT pferd.ID AS horse, MAX(termin) AS newest, termin FROM pferd, vbauftragpferd "
        "WHERE vbauftragpferd.npferdindex = pferd.ID GROUP BY pferd.ID");
  } catch (const std::exception&) {
    return;
  }
  for (; !table->Eof(); table->Next()) {
    // The export asks by a 32-bit id, and the single lookup finds this horse
    // only when its stored id equals that number.
    int32_t horse = 0;
    if (!IsPlainInt32(table->FieldAsString("horse"), horse)) continue;
    try {
      const double termin = table->FieldAsVariant("termin").AsDouble();
      if (termin == 0) continue;
      // Many horses share a date; its text is made once. A moment without a
      // date text reads "" like a failed lookup.
      if (dateTexts_.count(termin) == 0) dateTexts_.emplace(termin, DateTextOf(termin));
      newest_[horse] = termin;
    } catch (const std::exception&) {
      continue;
    }
  }
}

std::string LastAppointmentIndex::DateText(int32_t horseId) const {
  auto it = newest_.find(horseId);
  return it == newest_.end() ? std::string() : dateTexts_.at(it->second);
}

std::string LastAppointmentDayField(const std::string& dateText) {
  if (dateText.empty()) return std::string();
  CivilTime date;
  if (!ParseShortDate(dateText, date)) {
    throw EConvertError("'" + dateText + W1252("' ist kein gültiges Datum"));
  }
  return FloatToStr(std::floor(CivilToDayNumber(date)));
}

}  // namespace kelvanor
