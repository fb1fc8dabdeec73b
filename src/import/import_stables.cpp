// mob_stall_x.txt -> stall. Stables are created and changed, never deleted; a
// line whose error is caught is shown and skipped.
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 7;

void ImportStableLine(ImportContext& ctx, const std::vector<std::string>& f) {
  std::vector<std::string> op;
  SplitFieldsBy('/', f[0], op, 1);
  const std::string street = Transliterate("stra\xDF" "e");
  if (op[0] == "N") {
    const int32_t mobileId = StrToInt(op[1]);
    const std::string sql = "INSERT INTO stall (name,ansprechpartner,telefon," + street +
                            ",plz,ort,land,erstelltam,erstelltvon) VALUES (" + SqlString(f[1]) +
                            "," + SqlString(f[2]) + "," + SqlString(f[3]) + "," +
                            SqlString(f[4]) + "," + SqlString(f[5]) + "," + SqlString(f[6]) +
                            "," + SqlString(f[7]) + "," + ctx.NowLiteral() + ",'MOB')";
    ctx.idMap.AddIdMapEntry("stall", mobileId, ctx.db.InsertRecordChecked(sql, "stall", "id"));
  } else {
    const int32_t dbId = StrToInt(op[1]);
    UpdateChangedRecord(ctx, "UPDATE stall SET name=" + SqlString(f[1]) +
                   ",ansprechpartner=" + SqlString(f[2]) + ",telefon=" + SqlString(f[3]) + "," +
                   street + "=" + SqlString(f[4]) + ",plz=" + SqlString(f[5]) +
                   ",ort=" + SqlString(f[6]) + ",land=" + SqlString(f[7]) +
                   " WHERE id=" + std::to_string(dbId));
  }
}

}  // namespace

void ImportStables(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/")) return;
    ImportLineGuarded(ctx, [&] { ImportStableLine(ctx, f); }, "stall");
  });
}

}  // namespace kelvanor
