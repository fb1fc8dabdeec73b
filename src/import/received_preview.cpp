#include "import/received_preview.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cstdlib>
#include <optional>
#include <unordered_map>
#include <utility>

#include "import/change_lines.h"
#include "import/field_merge.h"
#include "import/import.h"
#include "import/import_context.h"
#include "import/import_journal.h"
#include "import/received_data.h"
#include "import/record_names.h"
#include "platform/file_system.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The widest lines the importers read: orders, and hoof reports among the rest.
constexpr std::size_t kOrderFields = 50;
constexpr std::size_t kOtherFields = 16;
constexpr std::size_t kHighestItem = 15;

std::vector<std::string> FieldsOf(FileKind kind, const std::string& line) {
  return SplitFields(line, kind == FileKind::kOrders ? kOrderFields : kOtherFields);
}

struct KindWords {
  const char* singular;
  const char* plural;
  char gender;  // 'm', 'f' or 'n': "neuer", "neue", "neues"
};

KindWords WordsOf(FileKind kind) {
  switch (kind) {
    case FileKind::kCustomers: return {"Kunde", "Kunden", 'm'};
    case FileKind::kStables:
      return {"Stall", W1252("Ställe"), 'm'};
    case FileKind::kHorses: return {"Pferd", "Pferde", 'n'};
    case FileKind::kCustomerHorses: return {"Besitzerzuordnung", "Besitzerzuordnungen", 'f'};
    case FileKind::kAppointments: return {"Termin", "Termine", 'm'};
    case FileKind::kArticles: return {"Artikel", "Artikel", 'm'};
    case FileKind::kServices: return {"Leistung", "Leistungen", 'f'};
    case FileKind::kOrders:
      return {"Auftrag", W1252("Aufträge"), 'm'};
    case FileKind::kCashBook: return {"Kassenbuchung", "Kassenbuchungen", 'f'};
    case FileKind::kHoofReports: return {"Hufprotokoll", "Hufprotokolle", 'n'};
    default:
      return {"Datensatz", W1252("Datensätze"), 'm'};
  }
}

// "neuer Kunde", "neue Kunden", "gelöschtes Pferd".
std::string Phrase(FileKind kind, LineEffect effect, std::size_t count) {
  const KindWords words = WordsOf(kind);
  std::string text = effect == LineEffect::kNew       ? "neu"
                     : effect == LineEffect::kChanged ? W1252("geändert")
                                                      : W1252("gelöscht");
  if (count != 1) return text + "e " + words.plural;
  text += words.gender == 'm' ? "er " : words.gender == 'n' ? "es " : "e ";
  return text + words.singular;
}

std::string Capitalized(std::string text) {
  if (!text.empty()) text[0] = AnsiUpperChar(text[0]);
  return text;
}

// "Neuer Kunde Müller, Jörg".
std::string Headline(FileKind kind, LineEffect effect, const std::string& name) {
  return Capitalized(Phrase(kind, effect, 1)) + (name.empty() ? "" : " " + name);
}

// "Ein gelöschter Stall wird nicht übernommen (ohne Wirkung)".
std::string NotTaken(FileKind kind, LineEffect effect) {
  return std::string(WordsOf(kind).gender == 'f' ? "Eine " : "Ein ") + Phrase(kind, effect, 1) +
         W1252(
             " wird nicht ü"
             "bernommen (ohne Wirkung)");
}

std::optional<int32_t> IdNumber(const std::string& text) {
  const std::string t = Trim(text);
  int32_t id = 0;
  const auto [end, error] = std::from_chars(t.data(), t.data() + t.size(), id);
  if (t.empty() || error != std::errc() || end != t.data() + t.size()) return std::nullopt;
  return id;
}

// A reference "A/12", "N/5" or "AE/5" split into its op and id.
struct Reference {
  std::string op;
  std::optional<int32_t> id;
  bool ByPractice() const { return op == "A" && id.has_value(); }
  bool ByMobile() const { return (op == "N" || op == "AE") && id.has_value(); }
};

Reference ParseReference(const std::string& text) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', text, parts, 1);
  return {parts[0], IdNumber(parts[1])};
}

// The key of a deletion "D/A/12" or "D/N/5", without its "D/".
Reference DeletedReference(const std::string& field0) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', field0, parts, 2);
  return {parts[1], IdNumber(parts[2])};
}

// Every header and record line with its file (null for a kind the tool does
// not import) and whether it is the file's header line.
template <typename Visit>
void ForEachLine(const TreeModel& tree, Visit visit) {
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    if (const ReceivedLine* header = file.Header()) visit(header->position, file.exchange, true);
    for (const ReceivedLine& record : file.records) visit(record.position, file.exchange, false);
  }
}

// An order line as the import reads it; nullopt when the import refuses it
// (the refusal is told with the headline).
std::optional<OrderValues> ReadOrder(const std::vector<std::string>& f) {
  try {
    return ReadOrderValues(f);
  } catch (const EConvertError&) {
    return std::nullopt;
  }
}

// What an earlier run made of the line at `position`; null when nothing.
const EarlierImport* EarlierAt(const EarlierImports* earlier, std::size_t position) {
  if (earlier == nullptr) return nullptr;
  const auto found = earlier->find(position);
  return found == earlier->end() ? nullptr : &found->second;
}

bool ChangedSinceAndTaken(const EarlierImport& earlier) {
  return earlier.kind == EarlierImport::Kind::kChangedSince && !earlier.asChange.empty();
}

class Describer {
 public:
  Describer(TDBase* db, const TreeModel& tree, const EarlierImports* earlier)
      : db_(db), tree_(tree), earlier_(earlier) {}

  LineDescriptions Describe(const FieldMerge* merge);
  const std::vector<std::size_t>& Refused() const { return refused_; }

 private:
  // Notes what the line names, and what it creates, for the lookups.
  void Collect(FileKind kind, const std::string& line, const std::vector<std::string>& f);
  void WantReference(FileKind kind, const std::string& reference);
  void WantSubject(const std::string& subject);

  std::vector<std::string> DescribeLine(FileKind kind, const std::string& line);
  // DescribeLine, for a line an earlier run decides as `earlier` tells.
  std::vector<std::string> DescribeAfterEarlier(FileKind kind, const std::string& line,
                                                const EarlierImport& earlier);
  std::string DescribeRecord(FileKind kind, const std::vector<std::string>& f, LineEffect effect);
  std::string DescribeOrder(const std::vector<std::string>& f, std::vector<std::string>& more);
  std::string DescribeCash(const std::vector<std::string>& f);
  std::string Unchanged(FileKind kind, const std::vector<std::string>& f);
  // A horse line whose interval the practice's list lacks fails in the
  // import: its headline says so, and no field change is shown for it.
  void TellRefusedIntervals(const FieldMerge* merge, LineDescriptions& described);
  // Adds to the headline of every line the import will refuse as it reads
  // (its operation, a field that does not convert, a letter the reading
  // refused) the very reason the import gives.
  void TellRefusals(const FieldMerge* merge, LineDescriptions& described);
  // `sent`: for a record an earlier run created, the line that run imported
  // (the merge compares with it, as the import does); null otherwise.
  std::optional<std::string> RefusedInterval(const std::string& line, const FieldMerge* merge,
                                             const std::string* sent) const;

  // A record the line names by reference, as the farrier knows it.
  std::string Named(FileKind kind, const std::string& reference) const;
  std::string NamedRecord(FileKind kind, const Reference& reference) const;
  std::string AppointmentOf(const std::vector<std::string>& f) const;
  std::string SubjectText(const std::string& subject) const;
  const PricedItem* Item(const std::string& element, std::string& shown) const;

  TDBase* db_;
  const TreeModel& tree_;
  const EarlierImports* earlier_;
  PracticeRecords practice_;
  std::string priceSuffix_ = "euro";
  // The records new in this download, by the mobile's id: their names, the
  // lines of new appointments, new articles and services.
  std::map<FileKind, std::unordered_map<int32_t, std::string>> created_;
  std::unordered_map<int32_t, std::vector<std::string>> createdAppointments_;
  std::map<FileKind, std::unordered_map<int32_t, PricedItem>> createdItems_;
  std::vector<std::size_t> refused_;  // lines the import will fail, by position
};

void Describer::WantReference(FileKind kind, const std::string& reference) {
  const Reference r = ParseReference(reference);
  if (r.ByPractice()) practice_.Want(kind, *r.id);
}

void Describer::WantSubject(const std::string& subject) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', subject, parts, 3);
  if (parts[0] == "kd") WantReference(FileKind::kCustomers, parts[1] + "/" + parts[2]);
  if (parts[0] == "pfd") WantReference(FileKind::kHorses, parts[1] + "/" + parts[2]);
}

void Describer::Collect(FileKind kind, const std::string& line, const std::vector<std::string>& f) {
  const LineEffect effect = EffectOf(kind, line);
  if (effect == LineEffect::kChanged) WantReference(kind, f[0]);
  if (effect == LineEffect::kDeleted) {
    const Reference deleted = DeletedReference(f[0]);
    if (deleted.ByPractice()) practice_.Want(kind, *deleted.id);
  }
  const Reference own = ParseReference(f[0]);
  const bool created = effect == LineEffect::kNew && own.ByMobile();
  switch (kind) {
    case FileKind::kCustomers:
      if (created) created_[kind][*own.id] = PersonName(f[2], f[3]);
      break;
    case FileKind::kStables:
      if (created) created_[kind][*own.id] = f[1];
      break;
    case FileKind::kHorses:
      if (created) created_[kind][*own.id] = f[1];
      if (effect != LineEffect::kDeleted) WantReference(FileKind::kStables, f[6]);
      break;
    case FileKind::kCustomerHorses: {
      WantReference(FileKind::kCustomers, f[0]);
      std::vector<std::string> elements;
      SplitFieldsBy('|', f[1], elements, 2);
      WantReference(FileKind::kHorses, elements[1]);
      break;
    }
    case FileKind::kAppointments:
      if (created) createdAppointments_[*own.id] = f;
      WantSubject(f[3]);
      break;
    case FileKind::kArticles:
    case FileKind::kServices:
      if (created) {
        PricedItem item;
        item.description = f[1];
        item.vatRate = FieldNumber(f[3]).value_or(0);
        const std::size_t priceFields[5] = {2, 4, 5, 6, 7};
        for (int level = 0; level < 5; ++level) {
          item.prices[level] = FieldNumber(f[priceFields[level]]).value_or(0);
        }
        createdItems_[kind][*own.id] = item;
      }
      break;
    case FileKind::kOrders: {
      WantReference(FileKind::kCustomers, f[2]);
      const std::optional<OrderValues> order = ReadOrder(f);
      if (!order) break;
      for (const OrderHorse& horse : order->horses) {
        WantReference(FileKind::kHorses, horse.reference);
        for (const OrderItem& item : horse.items) {
          if (item.byMobileId) continue;
          practice_.Want(item.article ? FileKind::kArticles : FileKind::kServices, item.id);
        }
      }
      break;
    }
    case FileKind::kCashBook:
      if (f[2] != "A") WantReference(FileKind::kCustomers, f[7]);
      break;
    case FileKind::kHoofReports: WantReference(FileKind::kHorses, f[1]); break;
    default: break;
  }
}

std::string Describer::NamedRecord(FileKind kind, const Reference& r) const {
  if (r.ByPractice()) {
    const std::string* name = practice_.Name(kind, *r.id);
    if (name != nullptr) return *name;
    return "A/" + std::to_string(*r.id) + " (nicht in der Praxis)";
  }
  if (r.ByMobile()) {
    const auto ofKind = created_.find(kind);
    if (ofKind != created_.end()) {
      const auto found = ofKind->second.find(*r.id);
      if (found != ofKind->second.end()) return found->second;
    }
    return r.op + "/" + std::to_string(*r.id) + W1252(" (vom Mobilgerät)");
  }
  return std::string();
}

std::string Describer::Named(FileKind kind, const std::string& reference) const {
  const std::string name = NamedRecord(kind, ParseReference(reference));
  if (!name.empty()) return name;
  return Trim(reference).empty() ? std::string() : reference + " (unbekannt)";
}

std::string Describer::SubjectText(const std::string& subject) const {
  std::vector<std::string> parts;
  SplitFieldsBy('/', subject, parts, 3);
  // One created on the mobile is named by its mobile id; the import stores
  // the database id alone, without anything after it.
  if (parts[0] == "kd" && parts[1] == "N") {
    return "Kunde " + Named(FileKind::kCustomers, "N/" + parts[2]);
  }
  if (parts[0] == "pfd" && parts[1] == "N") {
    return "Pferd " + Named(FileKind::kHorses, "N/" + parts[2]);
  }
  return practice_.SubjectText(subject);
}

std::string Describer::AppointmentOf(const std::vector<std::string>& f) const {
  return AppointmentText(f[1], f[2], SubjectText(f[3]), f[4]);
}

const PricedItem* Describer::Item(const std::string& element, std::string& shown) const {
  std::vector<std::string> parts;
  SplitFieldsBy('/', element, parts, 2);
  const bool isNew = parts[0] == "N";
  const std::string& kindWord = isNew ? parts[1] : parts[0];
  const std::optional<int32_t> id = IdNumber(isNew ? parts[2] : parts[1]);
  shown = element;
  if ((kindWord != "Art" && kindWord != "Lst") || !id) return nullptr;
  const FileKind kind = kindWord == "Art" ? FileKind::kArticles : FileKind::kServices;
  if (!isNew) return practice_.Item(kind, *id);
  const auto ofKind = createdItems_.find(kind);
  if (ofKind == createdItems_.end()) return nullptr;
  const auto found = ofKind->second.find(*id);
  return found == ofKind->second.end() ? nullptr : &found->second;
}

std::string Describer::DescribeOrder(const std::vector<std::string>& f,
                                     std::vector<std::string>& more) {
  const std::string number = Trim(f[1]);
  std::string text =
      number.empty() || number == "0" ? "Neuer Auftrag" : "Neuer Auftrag Nr. " + number;
  const std::string customer = Named(FileKind::kCustomers, f[2]);
  if (!customer.empty()) text += W1252(" für ") + customer;
  const std::string day = DayFieldText(f[4]);
  if (!day.empty()) text += " vom " + day;
  // What the import refuses has no sum: the refusal follows the headline.
  const std::optional<OrderValues> order = ReadOrder(f);
  if (!order) return text;
  double total = 0;
  for (std::size_t k = 0; k < order->horses.size(); ++k) {
    const OrderHorse& horse = order->horses[k];
    std::vector<std::string> elements;
    const std::size_t count = SplitFieldsBy('|', f[6 + k], elements, kHighestItem);
    std::string items;
    for (std::size_t i = 0; i < count; ++i) {
      if (Trim(elements[i]).empty()) continue;
      std::string shown;
      const PricedItem* item = Item(elements[i], shown);
      if (item != nullptr) {
        shown = item->description;
        total += item->prices[order->priceLevel - 1] * (1.0 + item->vatRate / 100.0);
      } else {
        shown += W1252(" (unbekannt, entfällt)");
      }
      items += (items.empty() ? "" : ", ") + shown;
    }
    const std::string named = Named(FileKind::kHorses, horse.reference);
    more.push_back((named.empty() ? "ohne Pferd" : "Pferd " + named) + ": " +
                   (items.empty() ? "keine Posten" : items));
  }
  text += ", Summe " + EuroText(total) + (order->paid ? " (bezahlt)" : "");
  return text;
}

std::string Describer::DescribeCash(const std::vector<std::string>& f) {
  std::string text = "Neue Kassenbuchung";
  const std::string day = DayFieldText(f[1]);
  if (!day.empty()) text += " vom " + day;
  const std::optional<double> amount = FieldNumber(f[5]);
  text += ": " + (amount ? EuroText(*amount) : f[5]);
  if (!f[3].empty()) text += " " + f[3];
  if (f[2] == "A") {
    text += ", Ausgabe";
    if (!f[7].empty()) text += " an Lieferant " + f[7];
  } else {
    text += ", Einnahme";
    const std::string customer = Named(FileKind::kCustomers, f[7]);
    if (!customer.empty()) text += " von Kunde " + customer;
  }
  return text;
}

// Why a line that is no header changes nothing.
std::string Describer::Unchanged(FileKind kind, const std::vector<std::string>& f) {
  const std::string& key = f[0];
  switch (kind) {
    case FileKind::kStables:
      if (StartsWith(key, "D/")) return NotTaken(kind, LineEffect::kDeleted);
      break;
    case FileKind::kArticles:
    case FileKind::kServices:
      if (StartsWith(key, "A/")) return NotTaken(kind, LineEffect::kChanged);
      if (StartsWith(key, "D/")) return NotTaken(kind, LineEffect::kDeleted);
      break;
    case FileKind::kCustomerHorses: return NotTaken(kind, LineEffect::kDeleted);
    case FileKind::kHoofReports:
      return W1252(
          "Nur neue Hufprotokolle werden ü"
          "bernommen (ohne Wirkung)");
    default: break;
  }
  return "Unbekannte Kennung \"" + FirstField(key) + "\"";
}

std::string Describer::DescribeRecord(FileKind kind, const std::vector<std::string>& f,
                                      LineEffect effect) {
  const std::string label = RecordKindLabel(kind);
  if (effect == LineEffect::kNew) {
    switch (kind) {
      case FileKind::kCustomers:
        return Headline(kind, effect,
                        PersonName(f[2], f[3]) + (f[8].empty() ? "" : " (" + f[8] + ")"));
      case FileKind::kStables:
        return Headline(kind, effect, f[1] + (f[6].empty() ? "" : " (" + f[6] + ")"));
      case FileKind::kHorses: {
        const std::string stable = Named(FileKind::kStables, f[6]);
        return Headline(kind, effect, f[1] + (stable.empty() ? "" : ", Stall " + stable));
      }
      case FileKind::kAppointments: return Headline(kind, effect, AppointmentOf(f));
      case FileKind::kArticles:
      case FileKind::kServices: {
        const std::optional<double> price = FieldNumber(f[2]);
        return Headline(kind, effect, f[1] + (price ? ", " + EuroText(*price) : ""));
      }
      case FileKind::kCustomerHorses: {
        std::vector<std::string> elements;
        SplitFieldsBy('|', f[1], elements, 2);
        const std::string horse = Named(FileKind::kHorses, elements[1]);
        const std::string customer = Named(FileKind::kCustomers, f[0]);
        return Headline(kind, effect, std::string()) + ": Pferd " +
               (horse.empty() ? "(keines)" : horse) + " zu Kunde " +
               (customer.empty() ? "(keiner)" : customer);
      }
      case FileKind::kHoofReports: {
        const std::string horse = Named(FileKind::kHorses, f[1]);
        std::string date = Trim(f[3]);
        if (date.size() >= 2 && (date.front() == '\'' || date.front() == '"') &&
            date.back() == date.front()) {
          date = date.substr(1, date.size() - 2);
        }
        const std::string day = DayFieldText(date);
        return Headline(kind, effect, std::string()) +
               (horse.empty() ? "" : W1252(" für Pferd ") + horse) +
               (day.empty() ? "" : " vom " + day);
      }
      default: return Headline(kind, effect, std::string());
    }
  }
  // A changed or deleted record is named as the practice holds it.
  const Reference r =
      effect == LineEffect::kDeleted ? DeletedReference(f[0]) : ParseReference(f[0]);
  std::string name;
  if (kind == FileKind::kAppointments) {
    if (r.ByPractice()) {
      if (const AppointmentRecord* a = practice_.Appointment(*r.id)) {
        name = AppointmentText(a->begin, a->end, practice_.SubjectText(a->subject), a->place);
      }
    } else if (r.ByMobile()) {
      const auto found = createdAppointments_.find(*r.id);
      if (found != createdAppointments_.end()) name = AppointmentOf(found->second);
    }
  } else if (r.ByPractice()) {
    if (const std::string* known = practice_.Name(kind, *r.id)) name = *known;
  } else if (r.ByMobile()) {
    name = NamedRecord(kind, r);
  }
  if (!name.empty()) return Headline(kind, effect, name);
  const std::string key = r.op + "/" + (r.id ? std::to_string(*r.id) : std::string("?"));
  if (r.ByPractice()) {
    return label + " " + key + " gibt es in der Praxis nicht (ohne Wirkung)";
  }
  return Headline(kind, effect, key);
}

std::vector<std::string> Describer::DescribeLine(FileKind kind, const std::string& line) {
  const std::vector<std::string> f = FieldsOf(kind, line);
  const LineEffect effect = EffectOf(kind, line);
  std::vector<std::string> described;
  if (Trim(line).empty()) {
    described.push_back("Leere Zeile (ohne Wirkung)");
  } else if (effect == LineEffect::kNone) {
    described.push_back(Unchanged(kind, f));
  } else if (kind == FileKind::kOrders) {
    std::vector<std::string> horses;
    described.push_back(DescribeOrder(f, horses));
    for (std::string& horse : horses) described.push_back(std::move(horse));
  } else if (kind == FileKind::kCashBook) {
    described.push_back(DescribeCash(f));
  } else {
    described.push_back(DescribeRecord(kind, f, effect));
  }
  return described;
}

std::vector<std::string> Describer::DescribeAfterEarlier(FileKind kind, const std::string& line,
                                                         const EarlierImport& earlier) {
  if (earlier.kind == EarlierImport::Kind::kSame) {
    std::vector<std::string> described = DescribeLine(kind, line);
    described.front() =
        W1252("Schon bei einem früheren Import übernommen: ") + described.front();
    return described;
  }
  if (ChangedSinceAndTaken(earlier)) {
    std::vector<std::string> described = DescribeLine(kind, earlier.asChange);
    described.front() = W1252(
                            "Schon bei einem früheren Import übernommen, seitdem auf dem "
                            "Mobilgerät geändert: ") +
                        described.front();
    return described;
  }
  std::vector<std::string> described = DescribeLine(kind, line);
  described.front() = W1252(
                          "Schon bei einem früheren Import übernommen, seitdem auf dem "
                          "Mobilgerät geändert; die Änderung wird nicht übernommen, bitte von "
                          "Hand nachtragen: ") +
                      described.front();
  return described;
}

LineDescriptions Describer::Describe(const FieldMerge* merge) {
  ForEachLine(tree_, [&](std::size_t position, const ExchangeFile* file, bool header) {
    if (file == nullptr || header) return;
    const std::string& line = tree_.Text(position);
    Collect(file->kind, line, FieldsOf(file->kind, line));
    // The change of a record an earlier run created names it as the practice holds it.
    const EarlierImport* earlier = EarlierAt(earlier_, position);
    if (earlier != nullptr && ChangedSinceAndTaken(*earlier)) {
      Collect(file->kind, earlier->asChange, FieldsOf(file->kind, earlier->asChange));
    }
  });
  if (db_ != nullptr) {
    try {
      priceSuffix_ = ReadCurrencySettings(*db_).priceColumnSuffix;
    } catch (const Exception&) {
      // The prices then come from the euro columns.
    }
  }
  practice_.Load(db_, priceSuffix_);

  LineDescriptions described;
  ForEachLine(tree_, [&](std::size_t position, const ExchangeFile* file, bool header) {
    if (header) {
      described[position] = {"Kopfzeile (wird nicht importiert)"};
    } else if (file != nullptr) {
      const EarlierImport* earlier = EarlierAt(earlier_, position);
      described[position] = earlier != nullptr
                                ? DescribeAfterEarlier(file->kind, tree_.Text(position), *earlier)
                                : DescribeLine(file->kind, tree_.Text(position));
    } else {
      described[position] = {W1252(
          "Wird nicht importiert: eine Änderungsdatei, die Kelvanor nicht kennt (die Zeile "
          "bleibt in der Sicherung und steht danach in nicht_importierte_Zeilen.txt)")};
    }
  });
  TellRefusals(merge, described);
  if (db_ != nullptr) TellRefusedIntervals(merge, described);
  if (db_ != nullptr && merge != nullptr) {
    try {
      for (auto& [position, changes] : DescribeChanges(*db_, tree_, *merge)) {
        // A line the import skips changes nothing.
        if (EarlierAt(earlier_, position) != nullptr) continue;
        std::vector<std::string>& lines = described[position];
        for (std::string& change : changes) lines.push_back(std::move(change));
      }
      // A record an earlier run created, written anew on the mobile: what it
      // changes against the line that run imported.
      ForEachLine(tree_, [&](std::size_t position, const ExchangeFile* file, bool header) {
        const EarlierImport* earlier = EarlierAt(earlier_, position);
        if (header || file == nullptr || earlier == nullptr || !ChangedSinceAndTaken(*earlier)) {
          return;
        }
        const std::vector<std::string> fields = SplitFields(earlier->asChange, 0);
        const std::vector<std::string> sent = SplitFields(earlier->importedLine, 0);
        const int32_t id = static_cast<int32_t>(std::strtol(fields[0].c_str() + 2, nullptr, 10));
        const std::optional<LineMerge> decided =
            merge->Decide(*db_, file->kind, id, fields, &sent);
        if (!decided) return;
        std::vector<std::string>& lines = described[position];
        if (decided->changes.empty()) lines.push_back(W1252("keine Änderung"));
        for (const std::string& change : decided->changes) lines.push_back(change);
      });
    } catch (const Exception&) {
      // The changed records are still named; the import tells what fails.
    }
  }
  // A line the import fails changes no field either.
  for (const std::size_t position : refused_) {
    std::vector<std::string>& lines = described[position];
    if (lines.size() > 1) lines.resize(1);
  }
  return described;
}

std::optional<std::string> Describer::RefusedInterval(const std::string& line,
                                                      const FieldMerge* merge,
                                                      const std::string* sent) const {
  const std::vector<std::string> f = FieldsOf(FileKind::kHorses, line);
  const LineEffect effect = EffectOf(FileKind::kHorses, line);
  int32_t horseId = 0;
  if (effect == LineEffect::kChanged) {
    const Reference r = ParseReference(f[0]);
    if (!r.ByPractice()) return std::nullopt;  // the line fails for its id
    horseId = *r.id;
  } else if (effect != LineEffect::kNew) {
    return std::nullopt;
  }
  if (HorseLineInterval(*db_, f[3], horseId)) return std::nullopt;
  if (merge != nullptr && horseId != 0) {
    // The import writes the interval only when the mobile changed it.
    const std::vector<std::string> sentFields =
        sent != nullptr ? SplitFields(*sent, 0) : std::vector<std::string>();
    const std::optional<LineMerge> decided = merge->Decide(
        *db_, FileKind::kHorses, horseId, f, sent != nullptr ? &sentFields : nullptr);
    if (decided && decided->untouched.count(3) > 0) return std::nullopt;
  }
  return UnknownShoeingInterval(f[3]);
}

void Describer::TellRefusals(const FieldMerge* merge, LineDescriptions& described) {
  const ReceivedData received(tree_);
  for (const ReceivedFile& file : received.Files()) {
    if (file.exchange == nullptr) continue;
    const FileKind kind = file.exchange->kind;
    for (const ReceivedLine& record : file.records) {
      const EarlierImport* earlier = EarlierAt(earlier_, record.position);
      // A line the import skips is not read at all; one it cannot take as
      // the change of an earlier record says so already.
      if (earlier != nullptr && !ChangedSinceAndTaken(*earlier)) continue;
      std::string reason = record.Refused();
      if (reason.empty()) {
        const std::string& line = earlier != nullptr ? earlier->asChange : record.Text();
        // A changed record reads only the fields the mobile changed.
        std::optional<std::set<std::size_t>> untouched;
        if (merge != nullptr && db_ != nullptr && StartsWith(line, "A/")) {
          const std::vector<std::string> fields = SplitFields(line, 0);
          const std::optional<int32_t> id = IdNumber(FirstField(line).substr(2));
          const std::vector<std::string> sent =
              earlier != nullptr ? SplitFields(earlier->importedLine, 0)
                                 : std::vector<std::string>();
          try {
            if (id) {
              const std::optional<LineMerge> decided =
                  merge->Decide(*db_, kind, *id, fields, earlier != nullptr ? &sent : nullptr);
              if (decided) untouched = decided->untouched;
            }
          } catch (const Exception&) {
            // Then every field is read, as the import reads a record it
            // cannot compare.
          }
        }
        reason = RefusalOf(kind, line, untouched ? &*untouched : nullptr);
      }
      if (reason.empty()) continue;
      std::vector<std::string>& lines = described[record.position];
      if (lines.empty()) lines.push_back(std::string());
      lines.front() += W1252(" wird nicht übernommen: ") + reason;
      refused_.push_back(record.position);
    }
  }
}

void Describer::TellRefusedIntervals(const FieldMerge* merge, LineDescriptions& described) {
  ForEachLine(tree_, [&](std::size_t position, const ExchangeFile* file, bool header) {
    if (header || file == nullptr || file->kind != FileKind::kHorses) return;
    const EarlierImport* earlier = EarlierAt(earlier_, position);
    if (earlier != nullptr && !ChangedSinceAndTaken(*earlier)) return;  // the import skips it
    if (std::find(refused_.begin(), refused_.end(), position) != refused_.end()) return;
    try {
      const std::optional<std::string> refused =
          earlier != nullptr ? RefusedInterval(earlier->asChange, merge, &earlier->importedLine)
                             : RefusedInterval(tree_.Text(position), merge, nullptr);
      if (!refused) return;
      std::string& headline = described[position].front();
      headline += W1252(" wird nicht übernommen: ") + *refused;
      refused_.push_back(position);
    } catch (const Exception&) {
      // The line is still named; the import tells what fails.
    }
  });
}

}  // namespace

LineEffect EffectOf(FileKind kind, const std::string& line) {
  if (Trim(line).empty()) return LineEffect::kNone;
  const bool isNew = StartsWith(line, "N/");
  const bool changed = StartsWith(line, "A/");
  const bool deleted = StartsWith(line, "D/");
  switch (kind) {
    case FileKind::kCustomers:
    case FileKind::kHorses:
    case FileKind::kAppointments:
      return isNew     ? LineEffect::kNew
             : changed ? LineEffect::kChanged
             : deleted ? LineEffect::kDeleted
                       : LineEffect::kNone;
    case FileKind::kStables:
      return isNew ? LineEffect::kNew : changed ? LineEffect::kChanged : LineEffect::kNone;
    case FileKind::kArticles:
    case FileKind::kServices:
    case FileKind::kHoofReports: return isNew ? LineEffect::kNew : LineEffect::kNone;
    case FileKind::kCashBook: return isNew || changed ? LineEffect::kNew : LineEffect::kNone;
    case FileKind::kCustomerHorses:
      return FirstField(line) == "DELETED" ? LineEffect::kNone : LineEffect::kNew;
    case FileKind::kOrders: return LineEffect::kNew;
    default: return LineEffect::kNone;
  }
}

std::string SummarizeReceived(const TreeModel& tree, const EarlierImports* earlier,
                              const std::set<std::size_t>* refused) {
  // Kinds in the order they arrive, each with its new, changed, deleted lines.
  std::vector<std::pair<FileKind, std::array<std::size_t, 4>>> counts;
  std::size_t withoutEffect = 0;
  std::size_t alreadyImported = 0;
  std::size_t byHand = 0;
  std::size_t ofUnknownFiles = 0;
  std::size_t notTaken = 0;
  ForEachLine(tree, [&](std::size_t position, const ExchangeFile* file, bool header) {
    if (header) return;
    if (refused != nullptr && refused->count(position) > 0) {
      ++notTaken;
      return;
    }
    if (file == nullptr) {
      ++ofUnknownFiles;
      return;
    }
    const EarlierImport* before = EarlierAt(earlier, position);
    if (before != nullptr && !ChangedSinceAndTaken(*before)) {
      ++(before->kind == EarlierImport::Kind::kSame ? alreadyImported : byHand);
      return;
    }
    const std::string& line = before != nullptr ? before->asChange : tree.Text(position);
    const LineEffect effect = file == nullptr ? LineEffect::kNone : EffectOf(file->kind, line);
    if (effect == LineEffect::kNone) {
      ++withoutEffect;
      return;
    }
    auto kind = counts.begin();
    while (kind != counts.end() && kind->first != file->kind) ++kind;
    if (kind == counts.end()) kind = counts.insert(kind, {file->kind, {0, 0, 0, 0}});
    ++kind->second[static_cast<std::size_t>(effect)];
  });
  std::string summary;
  for (const auto& [kind, byEffect] : counts) {
    for (const LineEffect effect : {LineEffect::kNew, LineEffect::kChanged, LineEffect::kDeleted}) {
      const std::size_t n = byEffect[static_cast<std::size_t>(effect)];
      if (n == 0) continue;
      summary += (summary.empty() ? "" : ", ") + std::to_string(n) + " " + Phrase(kind, effect, n);
    }
  }
  if (withoutEffect > 0) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(withoutEffect) +
               (withoutEffect == 1 ? " Zeile" : " Zeilen") + " ohne Wirkung";
  }
  if (byHand > 0) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(byHand) +
               (byHand == 1 ? W1252(" Änderung") : W1252(" Änderungen")) +
               " zum Nachtragen von Hand";
  }
  if (alreadyImported > 0) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(alreadyImported) +
               W1252(" schon übernommene ") + (alreadyImported == 1 ? "Zeile" : "Zeilen");
  }
  if (notTaken > 0) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(notTaken) +
               (notTaken == 1 ? W1252(" Zeile wird nicht übernommen")
                              : W1252(" Zeilen werden nicht übernommen"));
  }
  if (ofUnknownFiles > 0) {
    summary += (summary.empty() ? "" : ", ") + std::to_string(ofUnknownFiles) +
               (ofUnknownFiles == 1 ? " Zeile" : " Zeilen") + " unbekannter Art";
  }
  return summary;
}

LineDescriptions DescribeReceived(TDBase* db, const TreeModel& tree, const FieldMerge* merge,
                                  const EarlierImports* earlier, std::set<std::size_t>* refused) {
  Describer describer(db, tree, earlier);
  LineDescriptions described = describer.Describe(merge);
  if (refused != nullptr) refused->insert(describer.Refused().begin(), describer.Refused().end());
  return described;
}

EarlierImports EarlierImportsForPreview(TDBase& db, const std::string& journalPath,
                                        const TreeModel& tree, JournalScope scope,
                                        std::size_t* droppedRuns) {
  try {
    // No journal yet: no run imported anything; the import creates it.
    if (journalPath.empty() || !FileExists(journalPath)) return EarlierImports();
    const ImportJournal journal(journalPath, db, scope);
    if (droppedRuns != nullptr) *droppedRuns = journal.DroppedRuns();
    return EarlierImportsOf(tree, journal);
  } catch (const std::exception&) {
    // The preview describes the lines as they read; the import, which needs
    // the journal, says what is wrong with it.
  }
  return EarlierImports();
}

}  // namespace kelvanor
