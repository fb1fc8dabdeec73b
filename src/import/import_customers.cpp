// mob_kunde_x.txt -> besitzer. No line is caught on its own: a conversion error
// ends the whole import, which the driver then rolls back.
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 11;

// The next debitor number: one above the highest, or 0 while the practice
// does not number its debitors (highest 0 or no customer at all).
int64_t NextDebitorNumber(TDBase& db) {
  auto top = db.Query("SELECT * FROM besitzer ORDER BY debitornr DESC LIMIT 1");
  if (top->Eof()) return 0;
  const int64_t highest = top->FieldAsVariant("debitornr").AsInteger();
  return highest == 0 ? 0 : highest + 1;
}

// The shared column list; strasse is spelt through the transliteration the
// host's own column naming follows.
std::string StreetColumn() { return Transliterate("stra\xDF" "e"); }

void InsertCustomer(ImportContext& ctx, const std::vector<std::string>& f, const std::string& id) {
  const int32_t priceLevel = StrToInt(f[10]);
  const int32_t mobileId = StrToInt(id);
  const int64_t debitor = NextDebitorNumber(ctx.db);
  const std::string now = ctx.NowLiteral();
  const std::string sql =
      "INSERT INTO besitzer (anrede,name,vorname,kundennr,telefon," + StreetColumn() +
      ",plz,ort,email,preisstufe,telefonhandy,debitornr,aufgenommenam,erstelltam,erstelltvon) "
      "VALUES (" +
      SqlString(f[1]) + "," + SqlString(f[2]) + "," + SqlString(f[3]) + "," + SqlString(f[4]) +
      "," + SqlString(f[5]) + "," + SqlString(f[6]) + "," + SqlString(f[7]) + "," +
      SqlString(f[8]) + "," + SqlString(f[9]) + "," + std::to_string(priceLevel) + "," +
      SqlString(f[11]) + "," + std::to_string(debitor) + "," + now + "," + now + ",'MOB')";
  ctx.idMap.AddIdMapEntry("besitzer", mobileId, ctx.db.InsertRecordChecked(sql, "besitzer", "id"));
}

void UpdateCustomer(ImportContext& ctx, const std::vector<std::string>& f, const std::string& id) {
  const int32_t dbId = StrToInt(id);
  const int32_t priceLevel = StrToInt(f[10]);
  UpdateChangedRecord(ctx, "UPDATE besitzer SET anrede=" + SqlString(f[1]) + ",name=" + SqlString(f[2]) +
                 ",vorname=" + SqlString(f[3]) + ",kundennr=" + SqlString(f[4]) +
                 ",telefon=" + SqlString(f[5]) + "," + StreetColumn() + "=" + SqlString(f[6]) +
                 ",plz=" + SqlString(f[7]) + ",ort=" + SqlString(f[8]) +
                 ",email=" + SqlString(f[9]) + ",preisstufe=" + std::to_string(priceLevel) +
                 ",telefonhandy=" + SqlString(f[11]) + " WHERE id=" + std::to_string(dbId));
}

}  // namespace

void ImportCustomers(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "D/")) {
      RecycleRecord(ctx, f[0], "besitzer", "besitzer", "Besitzer");
      return;
    }
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/")) return;
    std::vector<std::string> op;
    SplitFieldsBy('/', f[0], op, 1);
    if (op[0] == "N") {
      InsertCustomer(ctx, f, op[1]);
    } else {
      UpdateCustomer(ctx, f, op[1]);
    }
  });
}

}  // namespace kelvanor
