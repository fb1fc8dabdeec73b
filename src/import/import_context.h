// Everything one import run shares: the database, the id map, the currency
// settings, the journal of earlier runs, what the run has to tell the user,
// and the walk over the received-data tree.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "db/dbase.h"
#include "import/change_lines.h"
#include "import/id_map.h"
#include "import/import_journal.h"
#include "import/import_summary.h"
#include "import/received_data.h"
#include "import/record_values.h"
#include "util/exchange_files.h"
#include "util/w1252.h"
#include "import/node_list.h"

namespace kelvanor {

class FieldMerge;

struct CurrencySettings {
  uint8_t mainCurrencyFlag = 0;
  std::string priceColumnSuffix = "euro";
};

// Reads basiswaehrung/hauptwaehrung from settings (defaults when no row).
CurrencySettings ReadCurrencySettings(TDBase& db);

// Why a line of a change file of a kind the tool does not import (a name the
// mobile of a newer version may send, "mob_rechnung_x.txt") is not imported.
inline constexpr const char* kUnknownChangeFileReason =
    W1252("Änderungsdatei einer Art, die Kelvanor nicht kennt; die Zeile wurde nicht importiert.");

// A line that references a record whose own line failed in this run.
class EReferenceFailed : public Exception {
 public:
  using Exception::Exception;
};

// A change of a record the office has deleted, put into the recycle bin or
// deactivated since the mobile was sent it.
class ERecordUnavailable : public Exception {
 public:
  using Exception::Exception;
};

struct ImportContext {
  ImportContext(TDBase& database, const TreeModel& received)
      : db(database), tree(received), files(received) {}

  TDBase& db;
  const TreeModel& tree;
  // The tree read once: which of its lines are records.
  const ReceivedData files;
  IdMap idMap;  // the records this run created
  // The records journaled runs created, named when this run has no record of
  // the same kind and mobile id (the mobile may have reused an id since).
  IdMap journaledIdMap;
  CurrencySettings currency;
  ImportJournal* journal = nullptr;  // null: nothing is remembered across runs
  const FieldMerge* merge = nullptr;  // null: changed records are written whole
  ImportSummary summary;

  // The change file being imported and the line being handled, for messages:
  // `line` as it is imported, `receivedLine` as it came, at `lineNumber`.
  std::string file;
  std::string line;
  std::string receivedLine;
  std::size_t lineNumber = 0;
  // Set when the current line was not imported (failed and rolled back, or
  // kept for the office); such a line is not journaled.
  bool lineFailed = false;
  // For a line that changes a record an earlier run created from the
  // mobile's earlier form of it: that form, the base of the field merge in
  // place of the last upload (which may not hold the record yet); null
  // otherwise.
  const std::string* sentLine = nullptr;
  // Mobile ids ("stall", 12) whose creating line failed in this run.
  std::set<std::pair<std::string, int32_t>> failedNewIds;
  // Records (table, id) this run put into the recycle bin: a later change of
  // one of them in the same run is the mobile's, not the office's doing.
  std::set<std::pair<std::string, int32_t>> recycled;

  // The database id of the record created on the mobile as `mobileId`, by
  // this run or else by a journaled one; 0 when none is known.
  int32_t LookupNewId(const std::string& tableKey, int32_t mobileId) const;
  // For an "A/" line: the change file's field numbers the mobile left as it
  // was sent them (see FieldMerge), with any conflict noted in the summary;
  // nullopt when the record is written whole.
  std::optional<std::set<std::size_t>> UntouchedFields(FileKind kind, int32_t id,
                                                       const std::vector<std::string>& fields);
  // The current moment as a day number, for erstelltam and friends.
  double Now() const;
  // Notes a line that changed nothing on purpose, for the run's summary.
  void Notice(const std::string& text);
  // The current line was not imported because of `reason`: it is named in
  // the summary (and kept for the office) as failed, or as an operation the
  // practice does not take from the mobile.
  void FailLine(const std::string& reason);
  void KeepNotTaken(const std::string& reason);
};

// Names a line that starts with none of the operations its file knows
// (`known`, e.g. "N/, A/ oder D/"): it is not imported, and never passed
// over in silence.
void RefuseUnknownOperation(ImportContext& ctx, const char* known);

// The common skeleton of every importer: `position` stands on the file node;
// steps over the header line and calls `handleLine` with the text of every
// record line. A blank line holds nothing and is passed over; a line the
// reading refused (see TreeNode::refused) fails. A line an earlier run
// committed (see ImportJournal) is counted and skipped; a line handled
// without failing is journaled. Returns with `position` on the first node
// after the file's lines.
//
// A record an earlier run created and the mobile wrote anew since (in the same
// download after the first form, or in place of it after a failed delete
// request) comes with the key the journal knows and other bytes. Importing it
// as created would make the record twice: for the kinds whose "A/" lines
// change a record (see ChangeKeyOf) it is handed on as the change
// "A/<database id>;..." of that record, compared field by field with the line
// the earlier run imported (`sentLine` below); for the others it fails and is
// named in the summary for the office to correct by hand.
void ForEachRecordLine(ImportContext& ctx, std::size_t& position,
                       const std::function<void(const std::string& line)>& handleLine);

// The id-map key of the records the "N/" lines of `kind` create, for the
// kinds whose "A/" lines change such a record ("besitzer" ...); null for the
// others.
const char* ChangeKeyOf(FileKind kind);

// What an earlier run, as the journal holds it, makes of a record line.
struct EarlierImport {
  enum class Kind {
    kNone,          // the line is imported as it reads
    kSame,          // an earlier run imported this very line: it is skipped
    kChangedSince,  // it took the place of a line an earlier run imported
  };
  Kind kind = Kind::kNone;
  // For kChangedSince: the line as the change "A/<id>;..." of the record the
  // earlier run created; "" when the import cannot take it (see
  // ForEachRecordLine).
  std::string asChange;
  // For kChangedSince: the line the earlier run imported for the record.
  std::string importedLine;
};

// By node position, the record lines of `tree` an earlier run in `journal`
// decides, told exactly as ForEachRecordLine tells them while importing;
// for the preview, which must not describe them as what they read.
using EarlierImports = std::map<std::size_t, EarlierImport>;
EarlierImports EarlierImportsOf(const TreeModel& tree, const ImportJournal& journal);

// Runs the work of one line so that a caught error leaves no trace: the line's
// statements run in a savepoint and its id-map entries are dropped when it
// throws; the error goes into the run's summary (shown after the import) and
// the import goes on. When the line would have created a record under
// `createsKey` ("stall", "pferd" ...), its mobile id is remembered as failed,
// so lines naming it fail too instead of pointing at row 0. A failure of the
// database itself (EDatabaseFailure) is never caught here: it ends the run.
// Errors of types the line may not catch (see each importer) must be raised
// outside this guard.
void ImportLineGuarded(ImportContext& ctx, const std::function<void()>& work,
                       const char* createsKey = nullptr);

// The database id of a record created on the mobile (ImportContext::
// LookupNewId); 0 when no such record is known. Raises EReferenceFailed when the record's
// own line failed in this run.
int32_t LookupCreatedId(const ImportContext& ctx, const std::string& tableKey, int32_t mobileId);

// The database id a read reference names (see ReadReference): "A" its id,
// "N" and "AE" the record created on the mobile, looked up under `tableKey`;
// 0 for anything else. Raises EReferenceFailed as LookupCreatedId does.
int32_t Resolve(const ImportContext& ctx, const LineReference& reference,
                const std::string& tableKey);

// Resolves a reference "A/id", "N/id" or "AE/id" (op and id already split):
// "A" gives the id, "N" and "AE" look the mobile id up under tableKey, any
// other op gives 0. Non-numeric ids raise EConvertError; a reference to a
// record whose line failed in this run raises EReferenceFailed.
int32_t ResolveReference(const ImportContext& ctx, const std::string& op, const std::string& id,
                         const std::string& tableKey);
// The same for the unsplit text ("A/12"); split on "/" into exactly two parts.
int32_t ResolveReference(const ImportContext& ctx, const std::string& reference,
                         const std::string& tableKey);

// Deletion through the recycle bin: field0 is "D/N/id" or "D/A/id". Sets
// papierkorb=1 on `table` and writes the papierkorb row with `label`. A
// record the practice does not have (an unknown mobile id, id 0, an id
// without row) is left alone and named in the summary: the placeholder row 0
// is never touched.
void RecycleRecord(ImportContext& ctx, const std::string& field0, const std::string& table,
                   const std::string& idMapKey, const std::string& label);

// Writes `values` into the changed record `id` of `table`; a refused row
// raises ERecordRefused. A record the office has deleted, put into the
// recycle bin or deactivated (customers and horses; stables and appointments
// have no such mark), and the placeholder row 0, take no change: that raises
// ERecordUnavailable naming the record. With no values (the mobile changed
// nothing of it) only the record's state is asked.
void UpdateChangedRecord(ImportContext& ctx, const std::string& table, const RecordValues& values,
                         int32_t id);

}  // namespace kelvanor
