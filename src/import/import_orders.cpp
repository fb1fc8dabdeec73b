// mob_rech_x.txt -> auftrag, with one vbauftragpferd row per horse treated and
// one verbindauftrag row per article or service used on it, then the order's
// totals. Every line is a new order. A line whose error is caught leaves
// nothing behind: its rows are rolled back together, so no order is ever
// stored without its totals.
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "db/sql.h"
#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

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

// The database id of an item the line names; 0 for a mobile id this run
// does not know (the item is then left out). Row 0 is the host's
// placeholder, never an article or service to copy.
int32_t ItemId(const ImportContext& ctx, const OrderItem& item) {
  if (!item.byMobileId) return item.id;
  return LookupCreatedId(ctx, item.article ? "artikel" : "leistung", item.id);
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
ItemDetails ReadItemDetails(ImportContext& ctx, int priceLevel, const OrderItem& item,
                            int32_t id) {
  const bool article = item.article;
  const std::string table = article ? "artikel" : "leistungen";
  const std::string priceColumn = std::string(article ? "vkpreis" : "preis") +
                                  std::to_string(priceLevel) + ctx.currency.priceColumnSuffix;
  auto row = ctx.db.QueryBound("SELECT * FROM " + table + " WHERE id=?1",
                               {SqlParam::Integer(id)});
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

// An order not yet invoiced (invoice number "0") has no invoice columns.
int32_t InsertOrder(ImportContext& ctx, const OrderValues& order, int32_t customerId) {
  RecordValues values;
  values.Integer("auftragstyp", order.type)
      .Text("bezeichnung", OrderTypeText(ctx.db, order.type))
      .Integer("besitzerindex", customerId)
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

// The articles and services one order line has read: its horses mostly get
// the same ones, and nothing the line writes changes them.
using ItemsRead = std::map<std::pair<bool, int32_t>, ItemDetails>;

void InsertItems(ImportContext& ctx, const OrderValues& order, int32_t orderId,
                 int32_t orderHorseId, const OrderHorse& horse, ItemsRead& itemsRead) {
  for (const OrderItem& item : horse.items) {
    const int32_t itemId = ItemId(ctx, item);
    if (itemId == 0) continue;
    auto read = itemsRead.find({item.article, itemId});
    if (read == itemsRead.end()) {
      read = itemsRead
                 .emplace(std::make_pair(item.article, itemId),
                          ReadItemDetails(ctx, order.priceLevel, item, itemId))
                 .first;
    }
    const ItemDetails& details = read->second;
    if (!details.found) continue;
    const int lineType = item.article ? 2 : 1;
    // The description goes in exactly as the practice holds it, quotes and
    // all; nr and duration are numbers in every practice we know of, but a
    // text there must not cost the order its line.
    InsertValues(ctx.db, "verbindauftrag",
                 RecordValues()
                     .Integer("auftragindex", orderId)
                     .Integer("nvbauftragindex", orderHorseId)
                     .Integer("anzahl", 1)
                     .Integer("typ", lineType)
                     .Integer("[index]", itemId)
                     .Value("nr", NumberOrString(details.number))
                     .Text("bezeichnung", details.description)
                     .Number("preis", details.price)
                     .Value("dauer", NumberOrString(details.duration))
                     .Number("mwst", details.vatRate));
  }
}

void ImportOrderLine(ImportContext& ctx, const std::vector<std::string>& f) {
  const OrderValues order = ReadOrderValues(f);
  const int32_t customerId = Resolve(ctx, order.customer, "besitzer");
  const int32_t orderId = InsertOrder(ctx, order, customerId);

  ItemsRead itemsRead;
  for (const OrderHorse& horse : order.horses) {
    const int32_t horseId = Resolve(ctx, ReadReference("Pferd", horse.reference), "pferd");
    const int32_t orderHorseId =
        InsertValues(ctx.db, "vbauftragpferd",
                     RecordValues()
                         .Integer("nauftragindex", orderId)
                         .Integer("npferdindex", horseId)
                         .Integer("nhufprotokoll", 0)
                         .Number("termin", order.date),
                     "nid");
    InsertItems(ctx, order, orderId, orderHorseId, horse, itemsRead);
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
                   .Text("adresse", CustomerDisplayName(ctx.db, customerId))
                   .Text("sAuftyp", OrderTypeTextOfOrder(ctx.db, orderId)),
               "id", orderId);
}

}  // namespace

void ImportOrders(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kOrders, line);
    ImportLineGuarded(ctx, [&] { ImportOrderLine(ctx, read.fields); });
  });
}

}  // namespace kelvanor
