// mob_kasse_x.txt -> kasse. Every accepted line is a new cash entry, either
// paid to a supplier (named by text) or received from a customer (by id).
// Amounts arrive gross and are stored net.
#include <cmath>
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

constexpr std::size_t kHighestField = 10;

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
  const double moment = Trim(f[1]).empty() ? 0.0 : ParseDecimal(f[1]);
  const double date = std::trunc(moment);
  const double time = moment - date;

  const bool supplierEntry = f[2] == "A";
  int32_t customerId = 0;
  int32_t supplierId = 0;
  std::string remark;
  if (supplierEntry) {
    // An empty name would match every supplier.
    supplierId = f[7].empty() ? 0 : SupplierId(ctx.db, f[7]);
    remark = "Lieferant: " + f[7];
  } else {
    customerId = ResolveReference(ctx, f[7], "besitzer");
  }

  const double gross = ParseRequiredDecimal(f[5]);
  const double vat = ParseRequiredDecimal(f[6]);
  const double net = gross / (vat * 0.01 + 1.0);
  // A VAT rate of -100 % would divide by zero; such an entry has no amount.
  if (!std::isfinite(net)) {
    throw EConvertError(W1252("Kein gültiger Nettobetrag aus Betrag '") + f[5] + "' und MwSt. '" +
                        f[6] + "'");
  }

  InsertValues(ctx.db, "kasse",
               RecordValues()
                   .Integer("neinaus", supplierEntry ? 1 : 0)
                   .Text("bezeichnung", f[3])
                   .Text("buchungsnr", f[4])
                   .Integer("besitzerindex", customerId)
                   .Integer("lieferantindex", supplierId)
                   .Number("termin", date)
                   .Number("uhrzeit", time)
                   .Number("betrag", net)
                   .Integer("waehrung", 1)
                   .Number("mwst", vat)
                   .Text("bemerkung", remark)
                   .Number("erstelltam", ctx.Now())
                   .Text("erstelltvon", "MOB"));
}

}  // namespace

void ImportCashBook(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "D/")) {
      ctx.KeepNotTaken(
          W1252("Gelöschte Kassenbuchungen übernimmt Kelvanor nicht; die Buchung "
                "bleibt im Kassenbuch der Praxis."));
      return;
    }
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/")) {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
      return;
    }
    ImportLineGuarded(ctx, [&] { ImportCashLine(ctx, f); });
  });
}

}  // namespace kelvanor
