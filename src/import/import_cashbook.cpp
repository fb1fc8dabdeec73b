// mob_kasse_x.txt -> kasse. Every accepted line is a new cash entry, either
// paid to a supplier (named by text) or received from a customer (by id).
// Amounts arrive gross and are stored net.
#include <cmath>
#include <string>
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

// The name as a LIKE pattern that matches only itself: the wildcards "%" and
// "_" and the escape character are escaped.
std::string LikeEscaped(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    if (c == '\\' || c == '%' || c == '_') escaped += '\\';
    escaped += c;
  }
  return escaped;
}

// The first supplier whose name begins with `name`; 0 when there is none.
int32_t SupplierId(TDBase& db, const std::string& name) {
  auto row = db.QueryBound("SELECT id FROM lieferant WHERE name LIKE ?1 || '%' ESCAPE '\\'",
                           {SqlParam::Text(LikeEscaped(name))});
  if (row->Eof()) return 0;
  return static_cast<int32_t>(row->FieldAsVariant("id").AsInteger());
}

void ImportCashLine(ImportContext& ctx, const std::vector<std::string>& f) {
  const CashValues cash = ReadCashValues(f);
  int32_t customerId = 0;
  int32_t supplierId = 0;
  std::string remark;
  if (cash.supplierEntry) {
    // An empty name would match every supplier.
    supplierId = cash.party.empty() ? 0 : SupplierId(ctx.db, cash.party);
    remark = "Lieferant: " + cash.party;
  } else {
    customerId = Resolve(ctx, ReadReference("Kunde", cash.party), "besitzer");
  }
  InsertValues(ctx.db, "kasse",
               RecordValues()
                   .Integer("neinaus", cash.supplierEntry ? 1 : 0)
                   .Text("bezeichnung", f[3])
                   .Text("buchungsnr", f[4])
                   .Integer("besitzerindex", customerId)
                   .Integer("lieferantindex", supplierId)
                   .Number("termin", cash.date)
                   .Number("uhrzeit", cash.time)
                   .Number("betrag", cash.net)
                   .Integer("waehrung", 1)
                   .Number("mwst", cash.vatRate)
                   .Text("bemerkung", remark)
                   .Number("erstelltam", ctx.Now())
                   .Text("erstelltvon", "MOB"));
}

}  // namespace

void ImportCashBook(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kCashBook, line);
    switch (read.op) {
      case LineOp::kNotTaken: ctx.KeepNotTaken(read.reason); break;
      case LineOp::kUnknown: ctx.FailLine(read.reason); break;
      default: ImportLineGuarded(ctx, [&] { ImportCashLine(ctx, read.fields); }); break;
    }
  });
}

}  // namespace kelvanor
