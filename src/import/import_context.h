// Everything one import run shares: the database, the id map, the currency
// settings, the user's view, and the walk over the received-data tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "import/id_map.h"
#include "import/import_view.h"
#include "import/node_list.h"

namespace kelvanor {

struct CurrencySettings {
  uint8_t mainCurrencyFlag = 0;
  std::string priceColumnSuffix = "euro";
};

// Reads basiswaehrung/hauptwaehrung from settings (defaults when no row).
CurrencySettings ReadCurrencySettings(TDBase& db);

struct ImportContext {
  TDBase& db;
  const TreeModel& tree;
  IImportView& view;
  IdMap idMap;
  CurrencySettings currency;
  // The moment of this run as SQL literal, for erstelltam and friends.
  std::string NowLiteral() const;
};

// The common skeleton of every importer: `position` stands on the file node;
// steps over the header line and calls `handleLine` with the text of every
// record line. Returns with `position` on the first node after the file's lines.
void ForEachRecordLine(const TreeModel& tree, std::size_t& position,
                       const std::function<void(const std::string& line)>& handleLine);

// Runs the work of one line so that a caught error leaves no trace: the line's
// statements run in a savepoint and its id-map entries are dropped when it
// throws; the error's message is shown through the view and the import goes on.
// Errors of types the line may not catch (see each importer) must be raised
// outside this guard.
void ImportLineGuarded(ImportContext& ctx, const std::function<void()>& work);

// Resolves a reference "A/id", "N/id" or "AE/id" (op and id already split):
// "A" gives the id, "N" and "AE" look the mobile id up under tableKey, any
// other op gives 0. Non-numeric ids raise EConvertError.
int32_t ResolveReference(const ImportContext& ctx, const std::string& op, const std::string& id,
                         const std::string& tableKey);
// The same for the unsplit text ("A/12"); split on "/" into exactly two parts.
int32_t ResolveReference(const ImportContext& ctx, const std::string& reference,
                         const std::string& tableKey);

// Deletion through the recycle bin: field0 is "D/N/id" or "D/A/id". Sets
// papierkorb=1 on `table` and writes the papierkorb row with `label`.
void RecycleRecord(ImportContext& ctx, const std::string& field0, const std::string& table,
                   const std::string& idMapKey, const std::string& label);

}  // namespace kelvanor
