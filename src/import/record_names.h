// How the farrier knows the practice's records: a customer as "Müller, Jörg",
// a horse or a stable by its name, an appointment by its day, times, subject
// and place, an article or a service by its description and price. The
// received lines and the conflicts of the field merge name records this way
// instead of by their keys. Texts are Windows-1252.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>

#include "db/dbase.h"
#include "util/daynumber.h"
#include "util/exchange_files.h"

namespace kelvanor {

// A number as a change line or a data file writes it ("46400.5", "46363,438",
// "59.50"); empty text is 0, anything that is no number nullopt.
std::optional<double> FieldNumber(const std::string& text);

// The moment to the minute the calendar shows. A moment written with three
// decimals (the export's "46363.438") is only known to about 43 seconds; of
// the minutes it may stand for, one on a five-minute mark wins (10:30, not
// 10:31). Any other moment goes to the nearest minute.
CivilTime MomentToMinute(double dayNumber, bool threeDecimals = false);
// The same for a field: "46363.438" with its three decimals.
CivilTime MomentToMinute(const std::string& field);

// "13.01.2027" / "12:00" / "13.01.2027 12:00".
std::string DateText(const CivilTime& t);
std::string TimeText(const CivilTime& t);
// A moment field as "13.01.2027 12:00"; a day field as "13.01.2027". "" for an
// empty or zero field; the text itself when it is no day number.
std::string MomentFieldText(const std::string& field);
std::string DayFieldText(const std::string& field);

// An appointment as the calendar lists it: "13.01.2027 12:00–18:00
// Kontrolle, Hof"; an end on another day gets its date, an empty end is left
// out, a subject or place that is empty too. `subject` is already in words.
std::string AppointmentText(const std::string& beginField, const std::string& endField,
                            const std::string& subject, const std::string& place);

// "1.234,50 €" (the euro sign is Windows-1252's 0x80).
std::string EuroText(double amount);

// "Müller, Jörg"; the surname alone without a first name.
std::string PersonName(const std::string& name, const std::string& firstName);

// What an order line copies from an article or a service.
struct PricedItem {
  std::string description;
  double prices[5] = {0, 0, 0, 0, 0};  // price levels 1 to 5, net
  double vatRate = 0;
};

// An appointment as the practice holds it; the moments are whole day numbers
// plus time, as text in the change files' form.
struct AppointmentRecord {
  std::string begin;  // "46400.5"
  std::string end;
  std::string subject;  // raw: "kd/A/12", "pfd/A/40" or free text
  std::string place;
};

// Records of the practice looked up by id, all that are wanted at once: a
// few queries per kind instead of one per line. Kinds: customers, stables,
// horses, appointments, articles, services.
class PracticeRecords {
 public:
  void Want(FileKind kind, int32_t id);
  // Looks up every wanted record, and the customers and horses the subjects
  // of wanted appointments name. Article and service prices are read from the
  // price columns with `priceSuffix` ("euro" or ""). Without a database
  // nothing is found. A lookup the database refuses leaves its records unfound.
  void Load(TDBase* db, const std::string& priceSuffix);

  // The name of a customer ("Müller, Jörg"), stable or horse; null when the
  // practice has no such record (or it is the placeholder row 0).
  const std::string* Name(FileKind kind, int32_t id) const;
  const AppointmentRecord* Appointment(int32_t id) const;
  const PricedItem* Item(FileKind kind, int32_t id) const;

  // An appointment subject in words: "kd/A/12" is "Kunde Müller, Jörg",
  // "pfd/A/40" "Pferd Fury"; free text loses the calendar's tags, as the
  // export sends it.
  std::string SubjectText(const std::string& subject) const;

 private:
  void LoadNames(TDBase& db, FileKind kind);
  void LoadAppointments(TDBase& db);
  void LoadItems(TDBase& db, FileKind kind, const std::string& priceSuffix);

  std::map<FileKind, std::set<int32_t>> wanted_;
  std::map<FileKind, std::unordered_map<int32_t, std::string>> names_;
  std::unordered_map<int32_t, AppointmentRecord> appointments_;
  std::map<FileKind, std::unordered_map<int32_t, PricedItem>> items_;
};

// "Kunde", "Stall", "Pferd", "Termin", "Artikel", "Leistung" ...
const char* RecordKindLabel(FileKind kind);

// How the farrier knows one record of the practice: "Müller, Jörg", "Fury",
// "13.01.2027 12:00–18:00 Kontrolle, Hof"; "" when the practice has no such
// record. For a single record (a conflict); many at once go through
// PracticeRecords.
std::string RecordName(TDBase& db, FileKind kind, int32_t id);

}  // namespace kelvanor
