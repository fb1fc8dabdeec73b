#include "import/change_lines.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// The highest field each kind reads.
std::size_t HighestField(FileKind kind) {
  switch (kind) {
    case FileKind::kCustomers: return 11;
    case FileKind::kStables: return 7;
    case FileKind::kHorses: return 10;
    case FileKind::kCustomerHorses: return 10;
    case FileKind::kAppointments: return 10;
    case FileKind::kArticles:
    case FileKind::kServices: return 11;
    case FileKind::kOrders: return 50;
    case FileKind::kCashBook: return 10;
    case FileKind::kHoofReports: return 16;
    default: return 0;
  }
}

std::string UnknownOperation(const char* known) {
  return std::string("Zeile nicht lesbar: sie beginnt mit keiner bekannten Operation (") + known +
         ").";
}

// At most 16 horses per order and 16 items per horse; a 17th element stays
// joined to the 16th and then fails to convert, so the line is refused.
constexpr std::size_t kHighestHorse = 15;
constexpr std::size_t kHighestItem = 15;
constexpr std::size_t kCustomerPriceLevelField = 10;

int8_t LowByte(int32_t value) { return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF)); }

constexpr const char* kNoValidNumber = W1252("enthält keine gültige Nummer");

// The number `idText` of a record the field `shown` names; a broken one is
// said with the field's word and the whole field: 'Kunde "A/z" enthält
// keine gültige Nummer'.
int32_t RecordNumber(const std::string& what, const std::string& shown, const std::string& idText) {
  try {
    return StrToInt(idText);
  } catch (const EConvertError&) {
    RefuseField(what, shown, kNoValidNumber);
  }
}

// 1 to 5; an empty, zero or out-of-range level means the first price.
int PriceLevel(const std::string& text) {
  if (text.empty() || text == "0") return 1;
  const int level = LowByte(FieldToInt("Preisstufe", text));
  return level >= 1 && level <= 5 ? level : 1;
}

// The type code carries the type number in its 4th and 5th characters.
int OrderType(const std::string& text) {
  if (text.empty()) return -1;
  const std::string digits = text.size() > 3 ? text.substr(3, 2) : std::string();
  const int type = LowByte(RecordNumber("Auftragstyp", text, Trim(digits)));
  return type == 0 ? -1 : type;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number: one optional sign, digits with an optional
// fraction, an optional exponent, and a finite value.
bool IsNumber(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  if (i != n) return false;
  // SQLite would read an overflowing number as infinity.
  const char* first = text.data() + (text[0] == '+' || text[0] == '-' ? 1 : 0);
  double value = 0.0;
  const auto result = std::from_chars(first, text.data() + n, value);
  return result.ec == std::errc() && std::isfinite(value);
}

// The content of a string literal quoted with `quote`, the quote doubled
// inside; false when the text is not exactly one such literal.
bool UnquoteLiteral(const std::string& text, char quote, std::string& value) {
  if (text.size() < 2 || text.front() != quote || text.back() != quote) return false;
  value.clear();
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == quote) {
      if (i + 2 >= text.size() || text[i + 1] != quote) return false;
      ++i;
    }
    value += text[i];
  }
  return true;
}

// The field as one SQL value: a number, a string in single or double quotes,
// or NULL, with blanks around it. Anything else is refused with `what` named.
SqlParam SqlValue(const std::string& field, const std::string& what) {
  const std::string text = Trim(field);
  if (IsNumber(text)) return SqlParam::Number(text);
  if (AsciiLowerCase(text) == "null") return SqlParam::Null();
  std::string value;
  if (UnquoteLiteral(text, '\'', value) || UnquoteLiteral(text, '"', value)) {
    return SqlParam::Text(value);
  }
  RefuseField(what, field, W1252("ist kein gültiger Wert"));
}

const ColumnMap& CustomerColumns() {
  // strasse is spelt through the transliteration the host's own column
  // naming follows.
  static const ColumnMap map = {
      {"anrede", 1, FieldKind::kText, "Anrede"},
      {"name", 2, FieldKind::kText, "Name"},
      {"vorname", 3, FieldKind::kText, "Vorname"},
      {"kundennr", 4, FieldKind::kText, "Kundennummer"},
      {"telefon", 5, FieldKind::kText, "Telefon"},
      {Transliterate(W1252("straße")), 6, FieldKind::kText, W1252("Straße")},
      {"plz", 7, FieldKind::kText, "PLZ"},
      {"ort", 8, FieldKind::kText, "Ort"},
      {"email", 9, FieldKind::kText, "E-Mail"},
      {"preisstufe", kCustomerPriceLevelField, FieldKind::kInteger, "Preisstufe"},
      {"telefonhandy", 11, FieldKind::kText, "Handy"}};
  return map;
}

const ColumnMap& StableColumns() {
  static const ColumnMap map = {
      {"name", 1, FieldKind::kText, "Name"},
      {"ansprechpartner", 2, FieldKind::kText, "Ansprechpartner"},
      {"telefon", 3, FieldKind::kText, "Telefon"},
      {Transliterate(W1252("straße")), 4, FieldKind::kText, W1252("Straße")},
      {"plz", 5, FieldKind::kText, "PLZ"},
      {"ort", 6, FieldKind::kText, "Ort"},
      {"land", 7, FieldKind::kText, "Land"}};
  return map;
}

// The interval comes as its display text and is looked up by the importer.
const ColumnMap& HorseColumns() {
  static const ColumnMap map = {
      {"name", 1, FieldKind::kText, "Name"},
      {"naechsterbeschlag", 5, FieldKind::kRequiredDay, W1252("Nächster Beschlag")}};
  return map;
}

// A moment as the calendar stores it: the day in one column, the time of day
// as fraction in the other. A blank field is the zero moment. The subject is
// added by the importer.
const ColumnMap& AppointmentColumns() {
  static const ColumnMap map = {{"beginn", 1, FieldKind::kMomentDay, "Beginn"},
                                {"beginnzeit", 1, FieldKind::kMomentTime, "Beginn"},
                                {"ende", 2, FieldKind::kMomentDay, "Ende"},
                                {"endezeit", 2, FieldKind::kMomentTime, "Ende"},
                                {"ort", 4, FieldKind::kText, "Ort"}};
  return map;
}

// Field 3 (the VAT rate) is read first, then the prices of levels 1 to 5;
// the price columns carry the currency's suffix.
ColumnMap PricedItemColumns(FileKind kind, const std::string& suffix) {
  const char* stem = kind == FileKind::kArticles ? "vkpreis" : "preis";
  ColumnMap map = {{"bezeichnung", 1, FieldKind::kText, "Bezeichnung"},
                   {"mwst", 3, FieldKind::kDecimal, "MwSt."}};
  const std::size_t priceFields[5] = {2, 4, 5, 6, 7};
  for (int level = 0; level < 5; ++level) {
    map.push_back({stem + std::to_string(level + 1) + suffix, priceFields[level],
                   FieldKind::kDecimal, "Preis " + std::to_string(level + 1)});
  }
  return map;
}

// A customer line that clears its price level changes the rest and keeps the
// practice's level (the importer tells the office so).
std::set<std::size_t> WithClearedPriceLevel(const std::vector<std::string>& fields,
                                            const std::set<std::size_t>* untouched) {
  std::set<std::size_t> skipped = untouched != nullptr ? *untouched : std::set<std::size_t>();
  if (Trim(fields[kCustomerPriceLevelField]).empty()) skipped.insert(kCustomerPriceLevelField);
  return skipped;
}

// Converts what a subject "kd/N/5" or "pfd/N/5" names by mobile id.
void ReadSubject(const std::string& subject) {
  if (subject.compare(0, 5, "kd/N/") != 0 && subject.compare(0, 6, "pfd/N/") != 0) return;
  (void)ReadSubjectId(subject);
}

}  // namespace

ClassifiedLine ClassifyChangeLine(FileKind kind, const std::string& line) {
  ClassifiedLine read;
  read.fields = SplitFields(line, HighestField(kind));
  const std::string& key = read.fields[0];
  const bool isNew = StartsWith(key, "N/");
  const bool changed = StartsWith(key, "A/");
  const bool deleted = StartsWith(key, "D/");
  auto unknown = [&](const char* known) {
    read.op = LineOp::kUnknown;
    read.reason = UnknownOperation(known);
  };
  auto notTaken = [&](const char* reason) {
    read.op = LineOp::kNotTaken;
    read.reason = reason;
  };
  switch (kind) {
    case FileKind::kCustomers:
    case FileKind::kHorses:
    case FileKind::kAppointments:
      if (isNew || changed || deleted) {
        read.op = isNew ? LineOp::kNew : changed ? LineOp::kChanged : LineOp::kDeleted;
      } else {
        unknown("N/, A/ oder D/");
      }
      break;
    case FileKind::kStables:
      if (deleted) {
        notTaken(W1252("Gelöschte Ställe übernimmt Kelvanor nicht; der Stall bleibt "
                       "in der Praxis."));
      } else if (isNew || changed) {
        read.op = isNew ? LineOp::kNew : LineOp::kChanged;
      } else {
        unknown("N/, A/ oder D/");
      }
      break;
    case FileKind::kCustomerHorses:
      if (key == "DELETED") {
        notTaken(W1252("Gelöschte Verknüpfungen von Besitzer und Pferd übernimmt "
                       "Kelvanor nicht; die Verknüpfung bleibt in der Praxis."));
      } else if (isNew || changed || StartsWith(key, "AE/")) {
        read.op = LineOp::kNew;
      } else {
        unknown("N/, A/, AE/ oder DELETED");
      }
      break;
    case FileKind::kArticles:
    case FileKind::kServices:
      if (isNew) {
        read.op = LineOp::kNew;
      } else if (changed || deleted) {
        notTaken(kind == FileKind::kArticles
                     ? W1252("Geänderte und gelöschte Artikel übernimmt Kelvanor nicht; der "
                             "Artikel bleibt in der Praxis, wie er ist.")
                     : W1252("Geänderte und gelöschte Leistungen übernimmt Kelvanor nicht; die "
                             "Leistung bleibt in der Praxis, wie sie ist."));
      } else {
        unknown("N/, A/ oder D/");
      }
      break;
    case FileKind::kOrders:
      // Field 0 is not read: every line is a new order.
      read.op = LineOp::kNew;
      break;
    case FileKind::kCashBook:
      if (deleted) {
        notTaken(W1252("Gelöschte Kassenbuchungen übernimmt Kelvanor nicht; die Buchung "
                       "bleibt im Kassenbuch der Praxis."));
      } else if (isNew || changed) {
        read.op = LineOp::kNew;
      } else {
        unknown("N/, A/ oder D/");
      }
      break;
    case FileKind::kHoofReports:
      if (changed || deleted) {
        notTaken(W1252("Geänderte und gelöschte Hufberichte übernimmt Kelvanor nicht; "
                       "der Bericht bleibt in der Praxis, wie er ist."));
      } else if (isNew) {
        read.op = LineOp::kNew;
      } else {
        unknown("N/, A/ oder D/");
      }
      break;
    default:
      unknown("N/, A/ oder D/");
      break;
  }
  return read;
}

int32_t ReadLineId(const std::vector<std::string>& fields) {
  std::vector<std::string> op;
  SplitFieldsBy('/', fields[0], op, 1);
  return RecordNumber("Datensatz", fields[0], op[1]);
}

int32_t ReadItemId(const std::string& field0) {
  std::vector<std::string> op;
  SplitFieldsBy('/', field0, op, 2);
  return RecordNumber("Datensatz", field0, op[1]);
}

int32_t ReadSubjectId(const std::string& subject) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', subject, parts, 3);
  return RecordNumber("Betreff", subject, parts[2]);
}

DeletedRecord ReadDeletion(const std::string& field0) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', field0, parts, 2);
  DeletedRecord deleted;
  if (parts[1] == "N") {
    deleted.by = DeletedRecord::By::kMobileId;
  } else if (parts[1] == "A") {
    deleted.by = DeletedRecord::By::kDatabaseId;
  } else {
    return deleted;
  }
  deleted.id = RecordNumber("Datensatz", field0, Trim(parts[2]));
  return deleted;
}

RecordValues ReadRecordColumns(FileKind kind, const std::vector<std::string>& fields,
                               const std::set<std::size_t>* untouched,
                               const std::string& priceSuffix) {
  switch (kind) {
    case FileKind::kCustomers: return RecordValues(CustomerColumns(), fields, untouched);
    case FileKind::kStables: return RecordValues(StableColumns(), fields, untouched);
    case FileKind::kHorses: return RecordValues(HorseColumns(), fields, untouched);
    case FileKind::kAppointments: return RecordValues(AppointmentColumns(), fields, untouched);
    case FileKind::kArticles:
    case FileKind::kServices:
      return RecordValues(PricedItemColumns(kind, priceSuffix), fields, untouched);
    default: return RecordValues();
  }
}

LineReference ReadReference(const std::string& what, const std::string& text, bool allowNew) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', text, parts, 1);
  LineReference reference;
  reference.op = parts[0];
  if (parts[0] == "A" || parts[0] == "N" || (allowNew && parts[0] == "AE")) {
    reference.id = RecordNumber(what, text, parts[1]);
  } else {
    reference.op.clear();
  }
  return reference;
}

OrderValues ReadOrderValues(const std::vector<std::string>& f) {
  OrderValues order;
  order.invoiceNumber = f[1];
  order.customer = ReadReference("Kunde", f[2]);
  std::vector<std::string> horses;
  const std::size_t h = SplitFieldsBy('|', f[3], horses, kHighestHorse);
  order.date = FieldToRequiredDay("Datum", f[4]);
  // Not stored, but a broken number here means a broken line.
  (void)FieldToRequiredDecimal("Feld 6", f[5]);
  order.priceLevel = PriceLevel(f[6 + h]);
  order.type = OrderType(f[7 + h]);
  order.paid = Trim(f[8 + h]) == "JA";
  // The import reads each horse's reference, then its items, in turn.
  for (std::size_t k = 0; k < h; ++k) {
    OrderHorse horse;
    horse.reference = horses[k];
    (void)ReadReference("Pferd", horses[k]);
    std::vector<std::string> elements;
    const std::size_t count = SplitFieldsBy('|', f[6 + k], elements, kHighestItem);
    for (std::size_t i = 0; i < count; ++i) {
      std::vector<std::string> parts;
      SplitFieldsBy('/', elements[i], parts, 2);
      OrderItem item;
      item.byMobileId = parts[0] == "N";
      const std::string& kindWord = item.byMobileId ? parts[1] : parts[0];
      const std::string& idText = item.byMobileId ? parts[2] : parts[1];
      if (kindWord != "Art" && kindWord != "Lst") continue;
      if (idText.empty()) continue;
      item.article = kindWord == "Art";
      item.id = RecordNumber(item.article ? "Artikel" : "Leistung", elements[i], idText);
      horse.items.push_back(item);
    }
    order.horses.push_back(std::move(horse));
  }
  return order;
}

CashValues ReadCashValues(const std::vector<std::string>& f) {
  CashValues cash;
  const double moment = Trim(f[1]).empty() ? 0.0 : FieldToDay("Datum", f[1]);
  cash.date = std::trunc(moment);
  cash.time = moment - cash.date;
  cash.supplierEntry = f[2] == "A";
  cash.party = f[7];
  if (!cash.supplierEntry) (void)ReadReference("Kunde", f[7]);
  cash.gross = FieldToRequiredDecimal("Betrag", f[5]);
  cash.vatRate = FieldToRequiredDecimal("MwSt.", f[6]);
  cash.net = cash.gross / (cash.vatRate * 0.01 + 1.0);
  // A VAT rate of -100 % would divide by zero; such an entry has no amount.
  if (!std::isfinite(cash.net)) {
    throw EConvertError("Betrag \"" + f[5] + "\" und MwSt. \"" + f[6] +
                        "\" ergeben keinen Nettobetrag");
  }
  return cash;
}

ReportValues ReadReportValues(const std::vector<std::string>& f) {
  ReportValues report;
  report.horse = ReadReference("Pferd", f[1]);
  // One after the other, so the message names the first field in error.
  report.order = SqlValue(f[2], "Auftragsnummer");
  report.date = SqlValue(f[3], "Datum");
  return report;
}

LinkValues ReadLinkValues(const std::vector<std::string>& f) {
  LinkValues link;
  link.customer = ReadReference("Kunde", f[0]);
  std::vector<std::string> elements;
  SplitFieldsBy('|', f[1], elements, 2);
  link.horse = ReadReference("Pferd", elements[1]);
  return link;
}

std::string RefusalOf(FileKind kind, const std::string& line,
                      const std::set<std::size_t>* untouched) {
  const ClassifiedLine read = ClassifyChangeLine(kind, line);
  if (read.op == LineOp::kUnknown) return read.reason;
  const std::vector<std::string>& f = read.fields;
  try {
    switch (kind) {
      case FileKind::kCustomers:
        if (read.op == LineOp::kDeleted) {
          (void)ReadDeletion(f[0]);
        } else if (read.op == LineOp::kNew) {
          (void)ReadRecordColumns(kind, f);
          (void)ReadLineId(f);
        } else {
          (void)ReadLineId(f);
          const std::set<std::size_t> skipped = WithClearedPriceLevel(f, untouched);
          (void)ReadRecordColumns(kind, f, &skipped);
        }
        break;
      case FileKind::kStables:
        if (read.op == LineOp::kNotTaken) break;
        (void)ReadLineId(f);
        break;
      case FileKind::kHorses:
        if (read.op == LineOp::kDeleted) {
          (void)ReadDeletion(f[0]);
        } else if (read.op == LineOp::kNew) {
          (void)ReadRecordColumns(kind, f);
          (void)ReadReference("Stall", f[6], false);
          (void)ReadLineId(f);
        } else {
          (void)ReadLineId(f);
          (void)ReadRecordColumns(kind, f, untouched);
          if (untouched == nullptr || untouched->count(6) == 0) {
            (void)ReadReference("Stall", f[6], false);
          }
        }
        break;
      case FileKind::kAppointments:
        if (read.op == LineOp::kDeleted) {
          (void)ReadDeletion(f[0]);
        } else if (read.op == LineOp::kNew) {
          (void)ReadRecordColumns(kind, f);
          ReadSubject(f[3]);
          (void)ReadLineId(f);
        } else {
          (void)ReadLineId(f);
          (void)ReadRecordColumns(kind, f, untouched);
          if (untouched == nullptr || untouched->count(3) == 0) ReadSubject(f[3]);
        }
        break;
      case FileKind::kCustomerHorses:
        if (read.op == LineOp::kNew) (void)ReadLinkValues(f);
        break;
      case FileKind::kArticles:
      case FileKind::kServices: {
        // The numbers must be valid on every line, whatever its operation.
        (void)ReadRecordColumns(kind, f);
        if (read.op != LineOp::kNew) break;
        (void)ReadItemId(f[0]);
        break;
      }
      case FileKind::kOrders: (void)ReadOrderValues(f); break;
      case FileKind::kCashBook:
        if (read.op == LineOp::kNew) (void)ReadCashValues(f);
        break;
      case FileKind::kHoofReports:
        if (read.op == LineOp::kNew) (void)ReadReportValues(f);
        break;
      default: break;
    }
  } catch (const EConvertError& error) {
    return error.what();
  }
  return std::string();
}

}  // namespace kelvanor
