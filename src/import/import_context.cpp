#include "import/import_context.h"

#include "db/sql.h"
#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"

namespace kelvanor {

CurrencySettings ReadCurrencySettings(TDBase& db) {
  CurrencySettings currency;
  auto row = db.Query("SELECT basiswaehrung, hauptwaehrung FROM settings");
  if (row->Eof()) return currency;
  currency.mainCurrencyFlag =
      static_cast<uint8_t>(row->FieldAsVariant("hauptwaehrung").AsInteger() & 0xFF);
  if (currency.mainCurrencyFlag == 0) currency.priceColumnSuffix.clear();
  return currency;
}

std::string ImportContext::NowLiteral() const { return SqlNumber(NowDayNumber()); }

void ForEachRecordLine(const TreeModel& tree, std::size_t& position,
                       const std::function<void(const std::string& line)>& handleLine) {
  const std::size_t count = tree.Count();
  auto lineFollows = [&] { return position + 1 < count && tree.Level(position + 1) == 2; };
  // The header line names the fields; it is stepped over, never imported.
  if (!lineFollows()) return;
  ++position;
  if (!lineFollows()) return;
  ++position;
  while (position < count && tree.Level(position) == 2) {
    handleLine(tree.Text(position));
    ++position;
  }
}

void ImportLineGuarded(ImportContext& ctx, const std::function<void()>& work) {
  const std::size_t idMapSize = ctx.idMap.Size();
  try {
    ctx.db.RunInTransaction(work);
  } catch (const Exception& error) {
    ctx.idMap.TruncateTo(idMapSize);
    ctx.view.ShowLineError(error.what());
  }
}

int32_t ResolveReference(const ImportContext& ctx, const std::string& op, const std::string& id,
                         const std::string& tableKey) {
  if (op == "A") return StrToInt(id);
  if (op == "N" || op == "AE") return ctx.idMap.LookupNewId(tableKey, StrToInt(id));
  return 0;
}

int32_t ResolveReference(const ImportContext& ctx, const std::string& reference,
                         const std::string& tableKey) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', reference, parts, 1);
  return ResolveReference(ctx, parts[0], parts[1], tableKey);
}

void RecycleRecord(ImportContext& ctx, const std::string& field0, const std::string& table,
                   const std::string& idMapKey, const std::string& label) {
  std::vector<std::string> parts;
  SplitFieldsBy('/', field0, parts, 2);
  int32_t id = 0;
  if (parts[1] == "N") {
    id = ctx.idMap.LookupNewId(idMapKey, StrToInt(Trim(parts[2])));
  } else if (parts[1] == "A") {
    id = StrToInt(Trim(parts[2]));
  }
  const std::string idText = std::to_string(id);
  ctx.db.Execute("UPDATE " + table + " SET papierkorb=1 WHERE ID=" + idText);
  ctx.db.InsertRecord(
      "INSERT INTO papierkorb (name,tabelle,loeschdatum,[index],typ) VALUES ('MOBIL'," +
          SqlString(label) + "," + ctx.NowLiteral() + "," + idText + ",0)",
      "papierkorb", "id");
}

}  // namespace kelvanor
