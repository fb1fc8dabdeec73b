// mob_rech_x.txt -> auftrag, with one vbauftragpferd row per horse treated and
// one verbindauftrag row per article or service used on it, then the order's
// totals. Every line is a new order. A line whose error is caught leaves
// nothing behind: its rows are rolled back together, so no order is ever
// stored without its totals.
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 50;
// At most 16 horses per order and 16 items per horse; a 17th element stays
// joined to the 16th and then fails to convert, so the line is refused.
constexpr std::size_t kHighestHorse = 15;
constexpr std::size_t kHighestItem = 15;

int8_t LowByte(int32_t value) { return static_cast<int8_t>(static_cast<uint8_t>(value & 0xFF)); }

// 1 to 5; an empty, zero or out-of-range level means the first price.
int PriceLevel(const std::string& text) {
  if (text.empty() || text == "0") return 1;
  const int level = LowByte(StrToInt(text));
  return level >= 1 && level <= 5 ? level : 1;
}

// The type code carries the type number in its 4th and 5th characters.
int OrderType(const std::string& text) {
  if (text.empty()) return -1;
  const std::string digits = text.size() > 3 ? text.substr(3, 2) : std::string();
  const int type = LowByte(StrToInt(Trim(digits)));
  return type == 0 ? -1 : type;
}

// True for text SQLite reads as one plain decimal number: sign, digits,
// optional fraction and exponent. Nothing else may stand unquoted.
bool IsNumberLiteral(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && text[i] >= '0' && text[i] <= '9') ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  return i == n;
}

// A value read from the practice as text goes in as a number when it is one
// (stored as before) and as a string otherwise, instead of breaking the row.
SqlParam NumberOrString(const std::string& text) {
  return IsNumberLiteral(text) ? SqlParam::Number(text) : SqlParam::Text(text);
}

enum class ItemKind { kArticle, kService };

struct ItemRef {
  ItemKind kind;
  int32_t id;
};

// "Art/12", "Lst/7" or "N/Art/3" (a mobile id of this run). False for an
// element that names no item: another kind word, no id, or a mobile id this
// run does not know.
bool ParseItem(const ImportContext& ctx, const std::string& element, ItemRef& item) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', element, parts, 2);
  const bool isNew = parts[0] == "N";
  const std::string& kindWord = isNew ? parts[1] : parts[0];
  const std::string& idText = isNew ? parts[2] : parts[1];
  if (kindWord == "Art") {
    item.kind = ItemKind::kArticle;
  } else if (kindWord == "Lst") {
    item.kind = ItemKind::kService;
  } else {
    return false;
  }
  if (idText.empty()) return false;
  item.id = StrToInt(idText);
  if (isNew) {
    item.id = LookupCreatedId(ctx, item.kind == ItemKind::kArticle ? "artikel" : "leistung",
                              item.id);
  }
  // Row 0 is the host's placeholder, never an article or service to copy.
  return item.id != 0;
}

struct ItemDetails {
  bool found = false;
  std::string number;
  std::string description;
  double price = 0;
  std::string duration;
  double vatRate = 0;
};

// What an order line copies from the article or service. A price column the
// table lacks raises "Field not found in dataset: ..." for the line.
ItemDetails ReadItemDetails(ImportContext& ctx, int priceLevel, const ItemRef& item) {
  const bool article = item.kind == ItemKind::kArticle;
  const std::string table = article ? "artikel" : "leistungen";
  const std::string priceColumn = std::string(article ? "vkpreis" : "preis") +
                                  std::to_string(priceLevel) + ctx.currency.priceColumnSuffix;
  auto row = ctx.db.QueryBound("SELECT * FROM " + table + " WHERE id=?1",
                               {SqlParam::Integer(item.id)});
  ItemDetails details;
  if (row->Eof()) return details;
  details.found = true;
  details.number = row->FieldAsString("nr");
  details.description = row->FieldAsString("bezeichnung");
  details.price = row->FieldAsVariant(priceColumn).AsDouble();
  details.duration = article ? "0" : row->FieldAsString("arbeitsdauer");
  details.vatRate = row->FieldAsVariant("mwst").AsDouble();
  return details;
}

std::string OrderTypeText(TDBase& db, int type) {
  auto row = db.QueryBound("SELECT text FROM zauftragstyp WHERE nid=?1", {SqlParam::Integer(type)});
  if (row->Eof()) return "Ihre Rechnung";
  return row->FieldAsString("text");
}

std::string OrderTypeTextOfOrder(TDBase& db, int32_t orderId) {
  auto row = db.QueryBound("SELECT text FROM zauftragstyp, auftrag WHERE auftrag.id=?1 and "
                           "nid=auftrag.auftragstyp",
                           {SqlParam::Integer(orderId)});
  if (row->Eof()) return std::string();
  return row->FieldAsString("text");
}

// "Meier, Anna" for the address of the order; the surname alone without a first name.
std::string CustomerDisplayName(TDBase& db, int32_t customerId) {
  auto row = db.QueryBound("SELECT name, vorname, kundennr, id FROM besitzer WHERE id = ?1",
                           {SqlParam::Integer(customerId)});
  if (row->Eof()) return std::string();
  std::string name = row->FieldAsString("name");
  const std::string firstName = row->FieldAsString("vorname");
  if (!firstName.empty()) name += ", " + firstName;
  return name;
}

// A sum over no rows is NULL and counts as 0.
double SumValue(const TDBTable& row, const std::string& column) {
  const std::string text = row.FieldAsString(column);
  return text.empty() ? 0.0 : TVariant(text).AsDouble();
}

struct Totals {
  double net = 0.0;
  double gross = 0.0;
};

// An order with its own VAT rate adds it to the whole net; otherwise the VAT
// comes from the lines, each at its own rate.
Totals OrderTotals(TDBase& db, int32_t orderId) {
  const SqlParams id{SqlParam::Integer(orderId)};
  auto order = db.QueryBound("SELECT * FROM auftrag WHERE id=?1", id);
  const double discount = order->FieldAsVariant("skonto").AsDouble();
  const double orderVat = order->FieldAsVariant("mwst").AsDouble();
  auto sums = db.QueryBound(
      "SELECT SUM(anzahl*preis) AS betrag_sum, SUM(anzahl*(preis*(mwst/100.0))) AS mwst_sum "
      "FROM verbindauftrag WHERE auftragindex=?1",
      id);
  const double lineNet = SumValue(*sums, "betrag_sum");
  const double lineVat = SumValue(*sums, "mwst_sum");
  Totals totals;
  if (orderVat != 0.0) {
    totals.net = lineNet + discount;
    totals.gross = lineNet * (1.0 + orderVat / 100.0);
  } else {
    totals.net = lineNet;
    totals.gross = lineNet + lineVat - discount;
  }
  return totals;
}

// The fields that follow the horses' item lists.
struct OrderLine {
  std::string invoiceNumber;
  int32_t customerId = 0;
  std::vector<std::string> horses;
  std::size_t horseCount = 0;
  double date = 0.0;
  int priceLevel = 1;
  int type = -1;
  bool paid = false;
};

OrderLine ReadOrderLine(const ImportContext& ctx, const std::vector<std::string>& f) {
  OrderLine order;
  order.invoiceNumber = f[1];
  order.customerId = ResolveReference(ctx, f[2], "besitzer");
  order.horseCount = SplitFieldsBy('|', f[3], order.horses, kHighestHorse);
  order.date = ParseRequiredDecimal(f[4]);
  (void)ParseRequiredDecimal(f[5]);  // not stored, but a broken number here means a broken line
  const std::size_t h = order.horseCount;
  order.priceLevel = PriceLevel(f[6 + h]);
  order.type = OrderType(f[7 + h]);
  order.paid = Trim(f[8 + h]) == "JA";
  return order;
}

// An order not yet invoiced (invoice number "0") has no invoice columns.
int32_t InsertOrder(ImportContext& ctx, const OrderLine& order) {
  RecordValues values;
  values.Integer("auftragstyp", order.type)
      .Text("bezeichnung", OrderTypeText(ctx.db, order.type))
      .Integer("besitzerindex", order.customerId)
      .Number("termin", order.date);
  if (order.invoiceNumber != "0") {
    values.Number("abgerechnetam", order.date)
        .Number("gedrucktam", order.date)
        .Text("rechnungsnr", order.invoiceNumber)
        .Integer("abgerechnet", -1);
  }
  values.Integer("bezahlt", order.paid ? -1 : 0)
      .Integer("waehrung", ctx.currency.mainCurrencyFlag)
      .Integer("npreisstufe", order.priceLevel)
      .Number("erstelltam", ctx.Now())
      .Text("erstelltvon", "MOB");
  return InsertValues(ctx.db, "auftrag", values);
}

void InsertItems(ImportContext& ctx, const OrderLine& order, int32_t orderId,
                 int32_t orderHorseId, const std::string& itemField) {
  std::vector<std::string> elements;
  const std::size_t count = SplitFieldsBy('|', itemField, elements, kHighestItem);
  for (std::size_t i = 0; i < count; ++i) {
    ItemRef item{};
    if (!ParseItem(ctx, elements[i], item)) continue;
    const ItemDetails details = ReadItemDetails(ctx, order.priceLevel, item);
    if (!details.found) continue;
    const int lineType = item.kind == ItemKind::kArticle ? 2 : 1;
    // The description goes in exactly as the practice holds it, quotes and
    // all; nr and duration are numbers in every practice we know of, but a
    // text there must not cost the order its line.
    InsertValues(ctx.db, "verbindauftrag",
                 RecordValues()
                     .Integer("auftragindex", orderId)
                     .Integer("nvbauftragindex", orderHorseId)
                     .Integer("anzahl", 1)
                     .Integer("typ", lineType)
                     .Integer("[index]", item.id)
                     .Value("nr", NumberOrString(details.number))
                     .Text("bezeichnung", details.description)
                     .Number("preis", details.price)
                     .Value("dauer", NumberOrString(details.duration))
                     .Number("mwst", details.vatRate));
  }
}

void ImportOrderLine(ImportContext& ctx, const std::vector<std::string>& f) {
  const OrderLine order = ReadOrderLine(ctx, f);
  const int32_t orderId = InsertOrder(ctx, order);

  for (std::size_t k = 0; k < order.horseCount; ++k) {
    const int32_t horseId = ResolveReference(ctx, order.horses[k], "pferd");
    const int32_t orderHorseId =
        InsertValues(ctx.db, "vbauftragpferd",
                     RecordValues()
                         .Integer("nauftragindex", orderId)
                         .Integer("npferdindex", horseId)
                         .Integer("nhufprotokoll", 0)
                         .Number("termin", order.date),
                     "nid");
    InsertItems(ctx, order, orderId, orderHorseId, f[6 + k]);
  }

  const Totals totals = OrderTotals(ctx.db, orderId);
  // Prices near the largest double can add up to infinity, which has no SQL
  // literal; the order would keep no totals, so it is refused as a whole.
  if (!std::isfinite(totals.net) || !std::isfinite(totals.gross)) {
    throw EConvertError(W1252("Der Betrag des Auftrags ist zu groß."));
  }
  UpdateValues(ctx.db, "auftrag",
               RecordValues()
                   .Number("rechbetrag", totals.net)
                   .Number("rechbetrag2", totals.gross)
                   .Number("davonbezahlt", order.paid ? totals.gross : 0.0)
                   .Text("adresse", CustomerDisplayName(ctx.db, order.customerId))
                   .Text("sAuftyp", OrderTypeTextOfOrder(ctx.db, orderId)),
               "id", orderId);
}

}  // namespace

void ImportOrders(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    ImportLineGuarded(ctx, [&] { ImportOrderLine(ctx, f); });
  });
}

}  // namespace kelvanor
