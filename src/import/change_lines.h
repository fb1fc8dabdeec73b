// How each kind of change line is read: what its operation asks for, and
// every field the import converts, converted once, in the order the import
// converts them (so the first field in error is the one named). The import
// reads a line here and then writes what it read; the preview reads it here
// too, so it describes what the import will take and names the very reason
// for a line the import will refuse. Nothing here touches the practice.
#pragma once

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/record_values.h"
#include "util/exchange_files.h"

namespace kelvanor {

// What the operation field of a line asks of the import.
enum class LineOp {
  kNew,       // creates a record (every order, cash entry and owner link too)
  kChanged,   // changes the record it names
  kDeleted,   // puts the record it names into the recycle bin
  kNotTaken,  // an operation the practice keeps to itself: kept for the office
  kUnknown,   // no operation the file knows: the line fails
};

struct ClassifiedLine {
  LineOp op = LineOp::kUnknown;
  // The line split into the fields its kind reads (missing ones empty).
  std::vector<std::string> fields;
  // For kNotTaken and kUnknown: what the import says of the line.
  std::string reason;
};
ClassifiedLine ClassifyChangeLine(FileKind kind, const std::string& line);

// The id after the operation of a new or changed line ("N/5", "A/12").
// Like every reader here, a field that does not convert raises
// EConvertError naming it in the office's words ('Datensatz "N/x" enthält
// keine gültige Nummer', 'Betrag "abc" ist keine Zahl').
int32_t ReadLineId(const std::vector<std::string>& fields);
// The mobile id of a new article or service ("N/5").
int32_t ReadItemId(const std::string& field0);
// The mobile id an appointment's subject "kd/N/5/..." or "pfd/N/5/..." names.
int32_t ReadSubjectId(const std::string& subject);

// The record a deletion "D/N/5" or "D/A/12" names: a mobile id of this or an
// earlier run, or a database id; neither for any other second operation.
struct DeletedRecord {
  enum class By { kNothing, kMobileId, kDatabaseId };
  By by = By::kNothing;
  int32_t id = 0;
};
DeletedRecord ReadDeletion(const std::string& field0);

// The columns a new or changed customer, stable, horse, appointment, article
// or service line fills from its own fields (the importer adds what it
// computes: ids, moments, references). `untouched` fields are left out
// unread (see FieldMerge); `priceSuffix` names the currency's price columns.
RecordValues ReadRecordColumns(FileKind kind, const std::vector<std::string>& fields,
                               const std::set<std::size_t>* untouched = nullptr,
                               const std::string& priceSuffix = "euro");

// A reference "A/12", "N/5" or "AE/5", read but not yet resolved.
struct LineReference {
  std::string op;
  int32_t id = 0;  // 0 for an op that names nothing
  bool ByMobileId() const { return op == "N" || op == "AE"; }
};
// Reads `text` split at its first "/": "A", "N" and "AE" convert the id
// (raising EConvertError that names `what`, "Kunde" or "Pferd"), any other
// op names nothing. `allowNew` false takes only "A" and "N" (the stable of a
// horse).
LineReference ReadReference(const std::string& what, const std::string& text,
                            bool allowNew = true);

// An order line: one new order with its horses and their items.
struct OrderItem {
  bool article = true;  // "Art"; false: "Lst"
  bool byMobileId = false;  // "N/Art/3": an article or service created on the mobile
  int32_t id = 0;
};
struct OrderHorse {
  std::string reference;  // as the line has it, resolved by the import
  std::vector<OrderItem> items;  // elements naming no item are left out
};
struct OrderValues {
  std::string invoiceNumber;  // "0": not invoiced
  LineReference customer;
  std::vector<OrderHorse> horses;
  double date = 0.0;
  int priceLevel = 1;  // 1 to 5
  int type = -1;
  bool paid = false;
};
OrderValues ReadOrderValues(const std::vector<std::string>& fields);

// A cash-book line.
struct CashValues {
  double date = 0.0;  // whole days
  double time = 0.0;  // the fraction of the day
  bool supplierEntry = false;
  std::string party;  // the supplier's name, or the customer reference
  double gross = 0.0;
  double vatRate = 0.0;
  double net = 0.0;
};
CashValues ReadCashValues(const std::vector<std::string>& fields);

// A hoof-report line's order number and date: SQL values the mobile writes,
// taken as values, never as SQL.
struct ReportValues {
  LineReference horse;
  SqlParam order = SqlParam::Null();
  SqlParam date = SqlParam::Null();
};
ReportValues ReadReportValues(const std::vector<std::string>& fields);

// An owner link "N/7;x|N/3": the customer and the horse.
struct LinkValues {
  LineReference customer;
  LineReference horse;
};
LinkValues ReadLinkValues(const std::vector<std::string>& fields);

// Why the import refuses the line before it looks at the practice: its
// operation (kUnknown), or the first field that does not convert; "" when
// it takes the line (as new, changed, deleted, or kept for the office).
// `untouched` as for ReadRecordColumns.
std::string RefusalOf(FileKind kind, const std::string& line,
                      const std::set<std::size_t>* untouched = nullptr);

}  // namespace kelvanor
