// The last appointment day of a horse: the newest order date (`termin` of
// vbauftragpferd) as a short date text, "" when the horse was never on an order
// or the newest date is 0.
//
// The host database has no index on vbauftragpferd.npferdindex and the tool
// never alters the host's schema, so one lookup per horse scans the whole
// table: on a practice of 20,000 horses that is over a minute. The export
// therefore reads the newest date of every horse once (LastAppointmentIndex)
// and answers each horse from memory; LastAppointmentDate is the single
// lookup, kept for callers that need one horse only.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>

#include "db/dbase.h"

namespace kelvanor {

// One horse: runs the lookup query for `horseId`. Errors inside the lookup
// give "" (a missing order table must not stop the export).
std::string LastAppointmentDate(TDBase& db, int32_t horseId);

// Every horse at once, from one grouped query with the single lookup's own
// match. DateText(id) gives exactly what LastAppointmentDate(db, id) gives for
// a horse that exists in `pferd`; an order reference that equals no horse's id
// (beyond 32 bits, a word, a fraction) counts for no horse.
class LastAppointmentIndex {
 public:
  // Reads the newest order date of every horse. When the query fails every
  // horse reads "", as each single lookup would.
  explicit LastAppointmentIndex(TDBase& db);
  LastAppointmentIndex() = default;

  std::string DateText(int32_t horseId) const;
  size_t size() const { return newest_.size(); }

 private:
  // Only horses whose newest date is not 0.
  std::unordered_map<int32_t, double> newest_;
  std::unordered_map<double, std::string> dateTexts_;  // by newest date
};

// The sub-field of the horse files: the date text read back as a date and
// written as its whole day number ("01.09.2026" gives "46266"); "" stays "".
// A text that is no date raises EConvertError.
std::string LastAppointmentDayField(const std::string& dateText);

}  // namespace kelvanor
