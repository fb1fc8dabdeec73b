#include "import/field_merge.h"

#include <charconv>
#include <cmath>
#include <utility>

#include "import/import.h"
#include "import/received_data.h"
#include "import/record_names.h"
#include "platform/file_system.h"
#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// How a field of a change line is compared with the same field of a data line.
enum class Compare {
  kText,       // byte for byte
  kNumber,     // by value: "03" is 3
  kDayNumber,  // a day number; the data file may use the locale's comma
  kMoment,     // a moment the data file shows with three decimals
  kInterval,   // the data file has the interval's number, the mobile its text
  kStable,     // the stable key; a horse in two stables has two data lines
};

struct MergedField {
  std::size_t field;  // the same number in the change line and the data line
  const char* label;  // how the preview names it
  Compare how;
};

const std::vector<MergedField>& FieldsOf(FileKind kind) {
  static const std::vector<MergedField> kCustomer = {
      {1, "Anrede", Compare::kText},  {2, "Name", Compare::kText},
      {3, "Vorname", Compare::kText}, {4, "Kundennummer", Compare::kText},
      {5, "Telefon", Compare::kText}, {6, W1252("Straße"), Compare::kText},
      {7, "PLZ", Compare::kText},     {8, "Ort", Compare::kText},
      {9, "E-Mail", Compare::kText},  {10, "Preisstufe", Compare::kNumber},
      {11, "Handy", Compare::kText}};
  static const std::vector<MergedField> kStable = {
      {1, "Name", Compare::kText},    {2, "Ansprechpartner", Compare::kText},
      {3, "Telefon", Compare::kText}, {4, W1252("Straße"), Compare::kText},
      {5, "PLZ", Compare::kText},     {6, "Ort", Compare::kText},
      {7, "Land", Compare::kText}};
  static const std::vector<MergedField> kHorse = {
      {1, "Name", Compare::kText},
      {3, "Beschlagsrhythmus", Compare::kInterval},
      {5, W1252("Nächster Beschlag"), Compare::kDayNumber},
      {6, "Stall", Compare::kStable}};
  static const std::vector<MergedField> kAppointment = {
      {1, "Beginn", Compare::kMoment},
      {2, "Ende", Compare::kMoment},
      {3, "Betreff", Compare::kText},
      {4, "Ort", Compare::kText}};
  static const std::vector<MergedField> kNone;
  switch (kind) {
    case FileKind::kCustomers: return kCustomer;
    case FileKind::kStables: return kStable;
    case FileKind::kHorses: return kHorse;
    case FileKind::kAppointments: return kAppointment;
    default: return kNone;
  }
}

// A number (a day number) written with "." or with the locale's ",".
std::optional<double> DayNumber(const std::string& text) {
  const std::string t = ReplaceAll(Trim(text), ",", ".");
  if (t.empty()) return 0.0;
  double value = 0;
  const char* first = t.data() + (t[0] == '+' ? 1 : 0);
  const auto [end, error] = std::from_chars(first, t.data() + t.size(), value);
  if (error != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return value;
}

// The moment as the data file shows it; the text itself when it is none.
std::string MomentText(const std::string& text) {
  const std::optional<double> moment = DayNumber(text);
  return moment ? FormatFixedDot(*moment, 3) : text;
}

std::string IntervalText(TDBase& db, const std::string& number) {
  if (Trim(number).empty() || Trim(number) == "0") return std::string();
  auto row = db.QueryBound("SELECT text FROM zbeschlagsrhythmus WHERE nid = ?1",
                           {SqlParam::Text(Trim(number))});
  return row->Eof() ? number : row->FieldAsString("text");
}

// What a data field says in the change file's own form.
std::string AsMobileWrites(TDBase& db, const MergedField& f, const std::string& data) {
  switch (f.how) {
    case Compare::kInterval: return IntervalText(db, data);
    case Compare::kMoment: return MomentText(data);
    default: return data;
  }
}

// Whether a mobile value and a data field say the same.
bool Same(TDBase& db, const MergedField& f, const std::string& mobile, const std::string& data) {
  switch (f.how) {
    case Compare::kNumber:
    case Compare::kDayNumber: {
      const std::optional<double> a = DayNumber(mobile);
      const std::optional<double> b = DayNumber(data);
      return a && b ? *a == *b : mobile == data;
    }
    case Compare::kMoment: return MomentText(mobile) == data;
    case Compare::kInterval:
      // The mobile may echo the number it was sent, or show the text.
      return Trim(mobile) == Trim(data) || Trim(mobile) == Trim(IntervalText(db, data));
    default: return mobile == data;
  }
}

// Whether two values in the mobile's own form say the same.
bool SameAsSent(TDBase& db, const MergedField& f, const std::string& mobile,
                const std::string& sent) {
  switch (f.how) {
    case Compare::kMoment: return MomentText(mobile) == MomentText(sent);
    case Compare::kInterval: return Trim(mobile) == Trim(sent);
    default: return Same(db, f, mobile, sent);
  }
}

const std::string* FieldIn(const DataFields& line, std::size_t field) {
  return field < line.size() ? &line[field] : nullptr;
}

// A stable key as the farrier knows the stable: by its name.
std::string StableName(TDBase& db, const std::string& key) {
  if (StartsWith(key, "N/")) return "neuer Stall";
  if (Trim(key).empty() || key == "A/0") return std::string();
  if (StartsWith(key, "A/")) {
    auto row = db.QueryBound("SELECT name FROM stall WHERE id = ?1",
                             {SqlParam::Text(Trim(key.substr(2)))});
    if (!row->Eof() && !row->FieldAsString("name").empty()) return row->FieldAsString("name");
  }
  return key;
}

// A value in the change file's form as the preview shows it: dates and
// moments as the calendar writes them, a stable by its name.
std::string Shown(TDBase& db, const MergedField& f, const std::string& value) {
  std::string text = value;
  if (f.how == Compare::kDayNumber) {
    text = DayFieldText(value);
  } else if (f.how == Compare::kMoment) {
    // To the minute the calendar shows, also for the three decimals of an
    // echoed moment.
    text = MomentFieldText(value);
  } else if (f.how == Compare::kStable) {
    text = StableName(db, value);
  } else if (f.how == Compare::kInterval) {
    // The interval's number, as the export sends it, reads as its text.
    const std::optional<int32_t> interval = ShoeingIntervalId(db, value);
    if (interval && *interval != 0) text = IntervalText(db, std::to_string(*interval));
  }
  // An empty side would read as a stray double blank.
  return text.empty() ? "(leer)" : text;
}

}  // namespace

DataFileSet::DataFileSet(const std::string& folder) {
  for (const FileKind kind :
       {FileKind::kCustomers, FileKind::kStables, FileKind::kHorses, FileKind::kAppointments}) {
    const std::string path = folder + ExchangeFileOf(kind).dataFile;
    if (!FileExists(path)) continue;
    present_ = true;
    auto& byId = lines_[kind];
    for (const std::string& line : SplitLines(ReadWholeFile(path))) {
      DataFields fields = SplitFields(line, 0);
      if (fields[0].compare(0, 2, "A/") != 0) continue;
      int32_t id = 0;
      const std::string idText = fields[0].substr(2);
      const auto [end, error] = std::from_chars(idText.data(), idText.data() + idText.size(), id);
      if (error != std::errc() || end != idText.data() + idText.size()) continue;
      byId[id].push_back(std::move(fields));
    }
  }
}

const std::vector<DataFields>* DataFileSet::Lines(FileKind kind, int32_t id) const {
  const auto ofKind = lines_.find(kind);
  if (ofKind == lines_.end()) return nullptr;
  const auto found = ofKind->second.find(id);
  return found == ofKind->second.end() ? nullptr : &found->second;
}

FieldMerge::FieldMerge(DataFileSet base, DataFileSet current)
    : base_(std::move(base)), current_(std::move(current)) {}

std::optional<LineMerge> FieldMerge::Decide(TDBase& db, FileKind kind, int32_t id,
                                            const std::vector<std::string>& fields,
                                            const std::vector<std::string>* sent) const {
  const std::vector<MergedField>& merged = FieldsOf(kind);
  const std::vector<DataFields>* currentLines = current_.Lines(kind, id);
  if (currentLines != nullptr && currentLines->empty()) currentLines = nullptr;
  const std::vector<DataFields>* baseLines = base_.Lines(kind, id);
  // Without a base line (no base kept yet, or a record new since the upload)
  // the practice's own line stands in: the mobile cannot have been sent more
  // of a record than its export holds now, so what that cut off is still
  // told apart, and every other field is written as the mobile sends it.
  if (baseLines == nullptr || baseLines->empty()) baseLines = currentLines;
  if (merged.empty() || (baseLines == nullptr && sent == nullptr)) return std::nullopt;
  const DataFields* base = baseLines != nullptr ? &baseLines->front() : nullptr;
  const DataFields* current =
      currentLines != nullptr && !currentLines->empty() ? &currentLines->front() : nullptr;
  // Named as the office knows the record, once there is something to name.
  std::string record;
  auto named = [&]() -> const std::string& {
    if (record.empty()) {
      const std::string name = RecordName(db, kind, id);
      record = std::string(RecordKindLabel(kind)) + " " +
               (name.empty() ? "A/" + std::to_string(id)
                             : name + " (A/" + std::to_string(id) + ")");
    }
    return record;
  };

  LineMerge merge;
  for (const MergedField& f : merged) {
    const std::string& mobile = f.field < fields.size() ? fields[f.field] : std::string();
    if (f.how == Compare::kStable) {
      // Named one of the stables it was sent with: the links stay as they are.
      if (sent != nullptr) {
        const std::string* key = FieldIn(*sent, f.field);
        if (key != nullptr && *key == mobile) merge.untouched.insert(f.field);
      } else {
        for (const DataFields& line : *baseLines) {
          const std::string* key = FieldIn(line, f.field);
          if (key != nullptr && *key == mobile) merge.untouched.insert(f.field);
        }
      }
      if (merge.untouched.count(f.field) == 0) {
        std::string before;
        const std::vector<DataFields>* shownLines =
            currentLines != nullptr ? currentLines : baseLines;
        for (const DataFields& line :
             shownLines != nullptr ? *shownLines : std::vector<DataFields>()) {
          const std::string* key = FieldIn(line, f.field);
          if (key == nullptr || StableName(db, *key).empty()) continue;
          before += (before.empty() ? "" : ", ") + StableName(db, *key);
        }
        merge.changes.push_back(std::string(f.label) + ": " + (before.empty() ? "(leer)" : before) +
                                " -> " + Shown(db, f, mobile) + W1252(" (zusätzlich)"));
      }
      continue;
    }
    // What the mobile had of the field: the upload's data line, or the line
    // it sent before for a record created since (in the mobile's own form).
    const std::string* was =
        sent != nullptr ? FieldIn(*sent, f.field) : base != nullptr ? FieldIn(*base, f.field) : nullptr;
    // A field the export cut off was never shown; sent back empty it is
    // untouched, with a value it is the mobile's.
    const bool untouched = was == nullptr    ? mobile.empty()
                           : sent != nullptr ? SameAsSent(db, f, mobile, *was)
                                             : Same(db, f, mobile, *was);
    if (untouched) {
      merge.untouched.insert(f.field);
      continue;
    }
    const std::string* now = current != nullptr ? FieldIn(*current, f.field) : nullptr;
    const std::string desktop = now != nullptr ? AsMobileWrites(db, f, *now) : std::string();
    if (now != nullptr && Same(db, f, mobile, *now)) continue;  // already so in the practice
    const bool officeChanged =
        now != nullptr && was != nullptr &&
        (sent != nullptr ? !Same(db, f, *was, *now) : *now != *was);
    // A field cut off in the practice's own line has no old side to show.
    std::string change = std::string(f.label) + ": " +
                         (now != nullptr ? Shown(db, f, desktop) + " -> " : "") +
                         Shown(db, f, mobile);
    if (officeChanged) {
      merge.conflicts.push_back({named(), f.label, Shown(db, f, desktop), Shown(db, f, mobile)});
      change += W1252(" (auch im Büro geändert)");
    }
    merge.changes.push_back(change);
  }
  return merge;
}

bool HoldsMergedChanges(const TreeModel& tree) {
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    if (file.exchange == nullptr || FieldsOf(file.exchange->kind).empty()) continue;
    for (const ReceivedLine& record : file.records) {
      if (StartsWith(record.Text(), "A/")) return true;
    }
  }
  return false;
}

std::map<std::size_t, std::vector<std::string>> DescribeChanges(TDBase& db, const TreeModel& tree,
                                                                const FieldMerge& merge) {
  std::map<std::size_t, std::vector<std::string>> described;
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    if (file.exchange == nullptr) continue;
    for (const ReceivedLine& record : file.records) {
      const std::vector<std::string> fields = SplitFields(record.Text(), 0);
      std::vector<std::string> op;
      SplitFieldsBy('/', fields[0], op, 1);
      if (op[0] != "A") continue;
      int32_t id = 0;
      const auto [end, error] = std::from_chars(op[1].data(), op[1].data() + op[1].size(), id);
      if (error != std::errc() || end != op[1].data() + op[1].size()) continue;
      try {
        std::optional<LineMerge> decided = merge.Decide(db, file.exchange->kind, id, fields);
        if (decided) {
          described[record.position] = decided->changes.empty()
                                           ? std::vector<std::string>{W1252("keine Änderung")}
                                           : std::move(decided->changes);
        }
      } catch (const ESQLiteException&) {
        // The preview only shows; the import itself reports what fails.
      }
    }
  }
  return described;
}

}  // namespace kelvanor
