#include "import/record_names.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// Ids per lookup: the statement always has this many parameters (the last id
// repeated), so it is prepared once and reused.
constexpr std::size_t kIdsPerQuery = 500;

// Day numbers beyond the year 9999 are no dates.
constexpr double kLastDay = 2958465;

std::string InList() {
  std::string list;
  for (std::size_t i = 1; i <= kIdsPerQuery; ++i) {
    list += (i == 1 ? "?" : ",?") + std::to_string(i);
  }
  return list;
}

// Runs `sql` (ending in "IN (") once per slice of `ids` and hands every row
// to `take`.
template <typename Take>
void ForEachRowOf(TDBase& db, const std::string& sql, const std::set<int32_t>& ids, Take take) {
  static const std::string kInList = InList();
  auto next = ids.begin();
  while (next != ids.end()) {
    SqlParams params;
    params.reserve(kIdsPerQuery);
    int32_t last = 0;
    for (; next != ids.end() && params.size() < kIdsPerQuery; ++next) {
      params.push_back(SqlParam::Integer(*next));
      last = *next;
    }
    while (params.size() < kIdsPerQuery) params.push_back(SqlParam::Integer(last));
    auto rows = db.QueryBound(sql + kInList + ")", params);
    for (; !rows->Eof(); rows->Next()) take(*rows);
  }
}

int32_t IdOf(const TDBTable& row) {
  return static_cast<int32_t>(row.FieldAsVariant("id").AsInteger());
}

// The decimals a number field is written with.
std::size_t DecimalsOf(const std::string& text) {
  const std::size_t point = text.find_first_of(".,");
  if (point == std::string::npos) return 0;
  std::size_t n = 0;
  for (std::size_t i = point + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) ++n;
  return n;
}

std::string TwoDigits(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

bool IsDate(double dayNumber) { return dayNumber > 0 && dayNumber <= kLastDay; }

}  // namespace

std::optional<double> FieldNumber(const std::string& text) {
  const std::string t = ReplaceAll(Trim(text), ",", ".");
  if (t.empty()) return 0.0;
  double value = 0;
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, t.data() + t.size(), value);
  if (error != std::errc() || end != t.data() + t.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return value;
}

CivilTime MomentToMinute(double dayNumber, bool threeDecimals) {
  const double minutes = dayNumber * 1440.0;
  double chosen = std::round(minutes);
  if (threeDecimals) {
    // The minutes whose moment the three decimals may stand for.
    const double first = std::ceil((dayNumber - 0.0005) * 1440.0 - 1e-6);
    const double last = std::floor((dayNumber + 0.0005) * 1440.0 + 1e-6);
    for (double m = first; m <= last; ++m) {
      if (std::fmod(std::fabs(m), 5.0) == 0 &&
          (std::fmod(std::fabs(chosen), 5.0) != 0 ||
           std::fabs(m - minutes) < std::fabs(chosen - minutes))) {
        chosen = m;
      }
    }
  }
  return DayNumberToCivil(chosen / 1440.0);
}

CivilTime MomentToMinute(const std::string& field) {
  const std::optional<double> value = FieldNumber(field);
  return MomentToMinute(value.value_or(0), DecimalsOf(field) == 3);
}

std::string DateText(const CivilTime& t) { return ShortDateText(t); }

std::string TimeText(const CivilTime& t) { return TwoDigits(t.hour) + ":" + TwoDigits(t.minute); }

std::string MomentFieldText(const std::string& field) {
  const std::optional<double> value = FieldNumber(field);
  if (!value) return field;
  if (*value == 0) return std::string();
  if (!IsDate(*value)) return field;
  const CivilTime t = MomentToMinute(field);
  return DateText(t) + " " + TimeText(t);
}

std::string DayFieldText(const std::string& field) {
  const std::optional<double> value = FieldNumber(field);
  if (!value) return field;
  if (*value == 0) return std::string();
  if (!IsDate(*value)) return field;
  return DateText(DayNumberToCivil(std::floor(*value)));
}

std::string AppointmentText(const std::string& beginField, const std::string& endField,
                            const std::string& subject, const std::string& place) {
  std::string text;
  const std::optional<double> begin = FieldNumber(beginField);
  const std::optional<double> end = FieldNumber(endField);
  if (begin && IsDate(*begin)) {
    const CivilTime from = MomentToMinute(beginField);
    text = DateText(from) + " " + TimeText(from);
    if (end && IsDate(*end)) {
      const CivilTime to = MomentToMinute(endField);
      const bool sameDay = to.year == from.year && to.month == from.month && to.day == from.day;
      text += W1252("–") + (sameDay ? std::string() : DateText(to) + " ") + TimeText(to);
    }
  } else {
    text = "ohne Datum";
  }
  if (!Trim(subject).empty()) text += " " + subject;
  if (!Trim(place).empty()) text += ", " + place;
  return text;
}

std::string EuroText(double amount) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.2f", std::fabs(amount));
  // The C locale wrote "1234.50"; the office reads "1.234,50".
  std::string digits(buffer);
  const std::size_t point = digits.find('.');
  std::string whole = digits.substr(0, point);
  std::string grouped;
  for (std::size_t i = 0; i < whole.size(); ++i) {
    if (i > 0 && (whole.size() - i) % 3 == 0) grouped += '.';
    grouped += whole[i];
  }
  const bool negative = amount < 0 && std::round(std::fabs(amount) * 100) != 0;
  return (negative ? "-" : "") + grouped + "," + digits.substr(point + 1) + W1252(" €");
}

std::string PersonName(const std::string& name, const std::string& firstName) {
  if (firstName.empty()) return name;
  if (name.empty()) return firstName;
  return name + ", " + firstName;
}

const char* RecordKindLabel(FileKind kind) {
  switch (kind) {
    case FileKind::kCustomers: return "Kunde";
    case FileKind::kStables: return "Stall";
    case FileKind::kHorses: return "Pferd";
    case FileKind::kAppointments: return "Termin";
    case FileKind::kArticles: return "Artikel";
    case FileKind::kServices: return "Leistung";
    case FileKind::kOrders: return "Auftrag";
    case FileKind::kCashBook: return "Kassenbuchung";
    case FileKind::kHoofReports: return "Hufprotokoll";
    case FileKind::kCustomerHorses: return "Besitzerzuordnung";
    default: return "Datensatz";
  }
}

void PracticeRecords::Want(FileKind kind, int32_t id) {
  // Row 0 is the host's placeholder, never a record.
  if (id != 0) wanted_[kind].insert(id);
}

void PracticeRecords::Load(TDBase* db, const std::string& priceSuffix) {
  if (db == nullptr) return;
  try {
    LoadAppointments(*db);
  } catch (const Exception&) {
    // Unnamed, the records still show by their keys.
  }
  for (const FileKind kind : {FileKind::kCustomers, FileKind::kStables, FileKind::kHorses}) {
    try {
      LoadNames(*db, kind);
    } catch (const Exception&) {
    }
  }
  for (const FileKind kind : {FileKind::kArticles, FileKind::kServices}) {
    try {
      LoadItems(*db, kind, priceSuffix);
    } catch (const Exception&) {
    }
  }
  wanted_.clear();
}

void PracticeRecords::LoadAppointments(TDBase& db) {
  const auto wanted = wanted_.find(FileKind::kAppointments);
  if (wanted == wanted_.end()) return;
  ForEachRowOf(
      db,
      "SELECT id, beginn, beginnzeit, ende, endezeit, thema, ort FROM termine "
      "WHERE id IN (",
      wanted->second, [&](const TDBTable& row) {
        AppointmentRecord record;
        record.begin = FloatToDotStr(row.FieldAsNumber("beginn") + row.FieldAsNumber("beginnzeit"));
        record.end = FloatToDotStr(row.FieldAsNumber("ende") + row.FieldAsNumber("endezeit"));
        record.subject = row.FieldAsString("thema");
        record.place = row.FieldAsString("ort");
        // The subject names whom the appointment is for.
        std::vector<std::string> parts;
        SplitFieldsBy('/', record.subject, parts, 3);
        if ((parts[0] == "kd" || parts[0] == "pfd") && parts[1] == "A") {
          int32_t id = 0;
          const auto [end, error] =
              std::from_chars(parts[2].data(), parts[2].data() + parts[2].size(), id);
          if (error == std::errc() && end == parts[2].data() + parts[2].size()) {
            Want(parts[0] == "kd" ? FileKind::kCustomers : FileKind::kHorses, id);
          }
        }
        appointments_[IdOf(row)] = std::move(record);
      });
}

void PracticeRecords::LoadNames(TDBase& db, FileKind kind) {
  const auto wanted = wanted_.find(kind);
  if (wanted == wanted_.end()) return;
  auto& names = names_[kind];
  if (kind == FileKind::kCustomers) {
    ForEachRowOf(db, "SELECT id, name, vorname FROM besitzer WHERE id IN (", wanted->second,
                 [&](const TDBTable& row) {
                   names[IdOf(row)] =
                       PersonName(row.FieldAsString("name"), row.FieldAsString("vorname"));
                 });
  } else {
    const std::string table = kind == FileKind::kStables ? "stall" : "pferd";
    ForEachRowOf(db, "SELECT id, name FROM " + table + " WHERE id IN (", wanted->second,
                 [&](const TDBTable& row) { names[IdOf(row)] = row.FieldAsString("name"); });
  }
}

void PracticeRecords::LoadItems(TDBase& db, FileKind kind, const std::string& priceSuffix) {
  const auto wanted = wanted_.find(kind);
  if (wanted == wanted_.end()) return;
  const bool article = kind == FileKind::kArticles;
  const std::string stem = article ? "vkpreis" : "preis";
  auto& items = items_[kind];
  ForEachRowOf(
      db, std::string("SELECT * FROM ") + (article ? "artikel" : "leistungen") + " WHERE id IN (",
      wanted->second, [&](const TDBTable& row) {
        PricedItem item;
        item.description = row.FieldAsString("bezeichnung");
        item.vatRate = row.FieldAsNumber("mwst");
        for (int level = 0; level < 5; ++level) {
          try {
            item.prices[level] = row.FieldAsNumber(stem + std::to_string(level + 1) + priceSuffix);
          } catch (const Exception&) {
            // A price column the practice lacks: the order line fails
            // in the import and says so; here the price counts 0.
          }
        }
        items[IdOf(row)] = std::move(item);
      });
}

const std::string* PracticeRecords::Name(FileKind kind, int32_t id) const {
  const auto ofKind = names_.find(kind);
  if (ofKind == names_.end() || id == 0) return nullptr;
  const auto found = ofKind->second.find(id);
  return found == ofKind->second.end() ? nullptr : &found->second;
}

const AppointmentRecord* PracticeRecords::Appointment(int32_t id) const {
  const auto found = appointments_.find(id);
  return found == appointments_.end() || id == 0 ? nullptr : &found->second;
}

const PricedItem* PracticeRecords::Item(FileKind kind, int32_t id) const {
  const auto ofKind = items_.find(kind);
  if (ofKind == items_.end() || id == 0) return nullptr;
  const auto found = ofKind->second.find(id);
  return found == ofKind->second.end() ? nullptr : &found->second;
}

std::string PracticeRecords::SubjectText(const std::string& subject) const {
  std::vector<std::string> parts;
  SplitFieldsBy('/', subject, parts, 3);
  // Free text as the mobile shows it: without the calendar's tags.
  if ((parts[0] != "kd" && parts[0] != "pfd") || parts[1] != "A") return StripTags(subject);
  int32_t id = 0;
  const auto [end, error] = std::from_chars(parts[2].data(), parts[2].data() + parts[2].size(), id);
  if (error != std::errc() || end != parts[2].data() + parts[2].size()) return StripTags(subject);
  const bool customer = parts[0] == "kd";
  const std::string* name = Name(customer ? FileKind::kCustomers : FileKind::kHorses, id);
  std::string text =
      std::string(customer ? "Kunde " : "Pferd ") + (name != nullptr ? *name : "A/" + parts[2]);
  if (!parts[3].empty()) text += " " + parts[3];
  return text;
}

std::string RecordName(TDBase& db, FileKind kind, int32_t id) {
  PracticeRecords records;
  records.Want(kind, id);
  records.Load(&db, std::string());
  if (kind == FileKind::kAppointments) {
    const AppointmentRecord* appointment = records.Appointment(id);
    if (appointment == nullptr) return std::string();
    return AppointmentText(appointment->begin, appointment->end,
                           records.SubjectText(appointment->subject), appointment->place);
  }
  const std::string* name = records.Name(kind, id);
  return name != nullptr ? *name : std::string();
}

}  // namespace kelvanor
