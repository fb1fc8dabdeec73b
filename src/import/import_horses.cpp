// mob_pferd_x.txt -> pferd, with each horse's stable link in verbindstall.
// Every line is guarded: a line whose error is caught is shown and skipped.
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 10;

int32_t StableId(const ImportContext& ctx, const std::string& reference) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', reference, parts, 1);
  if (parts[0] == "A") return StrToInt(parts[1]);
  if (parts[0] == "N") return LookupCreatedId(ctx, "stall", StrToInt(parts[1]));
  return 0;
}

void LinkStable(ImportContext& ctx, int32_t horseId, int32_t stableId) {
  const std::string horse = std::to_string(horseId);
  const std::string stable = std::to_string(stableId);
  auto existing = ctx.db.Query("SELECT * FROM verbindstall WHERE pferdindex=" + horse +
                               " AND stallindex=" + stable);
  // A horse already linked to the named stable keeps all its links: one that
  // stands in two stables comes as two lines, one per stable, and pointing
  // every link at the stable of the line would lose the other one.
  if (!existing->Eof()) return;
  ctx.db.InsertRecordChecked(
      "INSERT INTO verbindstall (stallindex,pferdindex) VALUES (" + stable + "," + horse + ")",
      "verbindstall", "id");
}

void ImportHorseLine(ImportContext& ctx, const std::vector<std::string>& f) {
  if (StartsWith(f[0], "D/")) {
    RecycleRecord(ctx, f[0], "pferd", "pferd", "Pferd");
    return;
  }
  std::vector<std::string> op;
  SplitFieldsBy('/', f[0], op, 1);
  const std::string next = SqlNumber(ParseRequiredDecimal(f[5]));
  const int32_t stableId = StableId(ctx, f[6]);
  int32_t horseId = 0;
  if (op[0] == "N") {
    const int32_t mobileId = StrToInt(op[1]);
    const std::string sql =
        "INSERT INTO pferd (name,beschlagsrhythmus,naechsterbeschlag,erstelltam,erstelltvon) "
        "VALUES (" +
        SqlString(f[1]) + "," + std::to_string(ShoeingIntervalId(ctx.db, f[3])) + "," + next +
        "," + ctx.NowLiteral() + ",'MOB')";
    horseId = ctx.db.InsertRecordChecked(sql, "pferd", "id");
    ctx.idMap.AddIdMapEntry("pferd", mobileId, horseId);
  } else {
    horseId = StrToInt(op[1]);
    // A horse gone from the practice gets no new stable link either.
    if (!UpdateChangedRecord(ctx, "UPDATE pferd SET name=" + SqlString(f[1]) + ",beschlagsrhythmus=" +
                                      std::to_string(ShoeingIntervalId(ctx.db, f[3])) +
                                      ",naechsterbeschlag=" + next +
                                      " WHERE id=" + std::to_string(horseId))) {
      return;
    }
  }
  LinkStable(ctx, horseId, stableId);
}

}  // namespace

int32_t ShoeingIntervalId(TDBase& db, const std::string& text) {
  if (Trim(text).empty()) return 0;
  auto row = db.Query("SELECT nid FROM zbeschlagsrhythmus WHERE text = " + SqlString(text));
  if (row->Eof()) return 0;
  return static_cast<int32_t>(row->FieldAsVariant("nid").AsInteger());
}

void ImportHorses(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/") && !StartsWith(f[0], "D/")) return;
    ImportLineGuarded(ctx, [&] { ImportHorseLine(ctx, f); }, "pferd");
  });
}

}  // namespace kelvanor
