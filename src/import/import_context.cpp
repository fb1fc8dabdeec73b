#include "import/import_context.h"

#include <unordered_map>

#include "import/field_merge.h"
#include "platform/environment.h"
#include "util/daynumber.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// How a kind of record is named in a message.
std::string KindName(const std::string& tableKey) {
  if (tableKey == "besitzer") return "Kunde";
  if (tableKey == "stall") return "Stall";
  if (tableKey == "pferd") return "Pferd";
  if (tableKey == "termin") return "Termin";
  if (tableKey == "artikel") return "Artikel";
  if (tableKey == "leistung") return "Leistung";
  return tableKey;
}

// The mobile id of a line that creates a record ("N/12;..."); false when the
// line creates none or its id is no number.
bool CreatedMobileId(const std::string& line, int32_t& mobileId) {
  std::vector<std::string> op;
  SplitFieldsBy('/', FirstField(line), op, 1);
  if (op[0] != "N") return false;
  try {
    mobileId = StrToInt(op[1]);
    return true;
  } catch (const EConvertError&) {
    return false;
  }
}

}  // namespace

CurrencySettings ReadCurrencySettings(TDBase& db) {
  CurrencySettings currency;
  auto row = db.Query("SELECT basiswaehrung, hauptwaehrung FROM settings");
  if (row->Eof()) return currency;
  currency.mainCurrencyFlag =
      static_cast<uint8_t>(row->FieldAsVariant("hauptwaehrung").AsInteger() & 0xFF);
  if (currency.mainCurrencyFlag == 0) currency.priceColumnSuffix.clear();
  return currency;
}

int32_t ImportContext::LookupNewId(const std::string& tableKey, int32_t mobileId) const {
  const int32_t id = idMap.LookupNewId(tableKey, mobileId);
  return id != 0 ? id : journaledIdMap.LookupNewId(tableKey, mobileId);
}

double ImportContext::Now() const { return NowDayNumber(); }

std::optional<std::set<std::size_t>> ImportContext::UntouchedFields(
    FileKind kind, int32_t id, const std::vector<std::string>& fields) {
  if (merge == nullptr) return std::nullopt;
  const std::vector<std::string> sent =
      sentLine != nullptr ? SplitFields(*sentLine, 0) : std::vector<std::string>();
  std::optional<LineMerge> decided =
      merge->Decide(db, kind, id, fields, sentLine != nullptr ? &sent : nullptr);
  if (!decided) return std::nullopt;
  for (FieldConflict& conflict : decided->conflicts) {
    summary.conflicts.push_back(std::move(conflict));
  }
  return std::move(decided->untouched);
}

void ImportContext::Notice(const std::string& text) {
  summary.notices.push_back(file + " " + FirstField(line) + ": " + text);
}

namespace {

// The name a line gives its record, for messages; "" where it gives none.
std::string RecordNameOfLine(const std::string& file, const std::string& line) {
  const ExchangeFile* exchange = ExchangeFileByChangeFile(file);
  if (exchange == nullptr) return std::string();
  const std::vector<std::string> f = SplitFields(line, 3);
  switch (exchange->kind) {
    case FileKind::kCustomers:
      return f[3].empty() ? f[2] : f[2].empty() ? f[3] : f[2] + ", " + f[3];
    case FileKind::kStables:
    case FileKind::kHorses:
    case FileKind::kArticles:
    case FileKind::kServices:
      return f[1];
    case FileKind::kCashBook:
      return f[3];
    default:
      return std::string();
  }
}

LineFailure FailureOfLine(const ImportContext& ctx, const std::string& reason) {
  LineFailure failure;
  failure.file = ctx.file;
  failure.firstField = FirstField(ctx.line);
  failure.message = reason;
  failure.lineNumber = ctx.lineNumber;
  failure.text = ctx.receivedLine;
  failure.record = RecordNameOfLine(ctx.file, ctx.receivedLine);
  return failure;
}

}  // namespace

void ImportContext::FailLine(const std::string& reason) {
  lineFailed = true;
  summary.failures.push_back(FailureOfLine(*this, reason));
}

void ImportContext::KeepNotTaken(const std::string& reason) {
  lineFailed = true;
  summary.notTaken.push_back(FailureOfLine(*this, reason));
}

void RefuseUnknownOperation(ImportContext& ctx, const char* known) {
  ctx.FailLine(std::string("Zeile nicht lesbar: sie beginnt mit keiner bekannten Operation (") +
               known + ").");
}

const char* ChangeKeyOf(FileKind kind) {
  switch (kind) {
    case FileKind::kCustomers: return "besitzer";
    case FileKind::kStables: return "stall";
    case FileKind::kHorses: return "pferd";
    case FileKind::kAppointments: return "termin";
    default: return nullptr;
  }
}

namespace {

// "N/7;..." as the change "A/<id>;..." of the record a journaled run made of
// mobile id 7; "" when that record is not known.
std::string AsChangeOfJournaledRecord(const IdMap& journaledIdMap, const std::string& line,
                                      const char* changeKey) {
  int32_t mobileId = 0;
  if (changeKey == nullptr || !CreatedMobileId(line, mobileId)) return std::string();
  const int32_t id = journaledIdMap.LookupNewId(changeKey, mobileId);
  if (id == 0) return std::string();
  return "A/" + std::to_string(id) + line.substr(FirstField(line).size());
}

// What the journal makes of the `occurrence`-th line `line` of `file`.
EarlierImport EarlierImportOf(const ImportJournal& journal, const IdMap& journaledIdMap,
                              const std::string& file, const std::string& line,
                              std::size_t occurrence) {
  EarlierImport earlier;
  const ImportJournal::Match match = journal.Find(file, line, occurrence);
  if (match.kind == ImportJournal::Match::Kind::kNone) return earlier;
  // A record deleted once is deleted, however the mobile words it again.
  if (match.kind == ImportJournal::Match::Kind::kSameLine || StartsWith(line, "D/")) {
    earlier.kind = EarlierImport::Kind::kSame;
    return earlier;
  }
  const ExchangeFile* exchange = ExchangeFileByChangeFile(file);
  earlier.kind = EarlierImport::Kind::kChangedSince;
  earlier.importedLine = match.importedLine;
  earlier.asChange = AsChangeOfJournaledRecord(
      journaledIdMap, line, exchange == nullptr ? nullptr : ChangeKeyOf(exchange->kind));
  return earlier;
}

}  // namespace

void ForEachRecordLine(ImportContext& ctx, std::size_t& position,
                       const std::function<void(const std::string& line)>& handleLine) {
  const ReceivedFile* file = ctx.files.FileAt(position);
  if (file == nullptr) return;
  ctx.file = file->name;
  for (const ReceivedLine& record : file->records) {
    const std::string& line = record.Text();
    const EarlierImport earlier =
        ctx.journal == nullptr
            ? EarlierImport()
            : EarlierImportOf(*ctx.journal, ctx.journaledIdMap, ctx.file, line, record.occurrence);
    if (earlier.kind == EarlierImport::Kind::kSame) {
      ++ctx.summary.alreadyImported;
      continue;
    }
    const bool changedSince = earlier.kind == EarlierImport::Kind::kChangedSince;
    const std::string& work = changedSince ? earlier.asChange : line;
    ctx.line = changedSince && work.empty() ? line : work;
    ctx.receivedLine = line;
    ctx.lineNumber = record.Number();
    ctx.lineFailed = false;
    ctx.sentLine = changedSince ? &earlier.importedLine : nullptr;
    if (!record.Refused().empty()) {
      ctx.FailLine(record.Refused());
    } else if (changedSince && work.empty()) {
      ctx.FailLine(
          W1252("schon bei einem früheren Import übernommen und seitdem auf dem "
                "Mobilgerät geändert; die Änderung wurde nicht übernommen, "
                "bitte von Hand nachtragen."));
    } else {
      handleLine(work);
    }
    ctx.sentLine = nullptr;
    // The journal holds the line as the server sends it again.
    if (!ctx.lineFailed && ctx.journal != nullptr) {
      ctx.journal->RecordLine(ctx.file, line, record.occurrence);
    }
  }
  position = file->end;
}

EarlierImports EarlierImportsOf(const TreeModel& tree, const ImportJournal& journal) {
  IdMap journaledIdMap;
  for (const IdMapEntry& entry : journal.IdMapEntries()) {
    journaledIdMap.AddIdMapEntry(entry.tableKey, entry.mobileId, entry.dbId);
  }
  EarlierImports earlier;
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    // Only the files the import reads are journaled.
    if (file.exchange == nullptr || file.exchange->importPass == 0) continue;
    for (const ReceivedLine& record : file.records) {
      EarlierImport found =
          EarlierImportOf(journal, journaledIdMap, file.name, record.Text(), record.occurrence);
      if (found.kind != EarlierImport::Kind::kNone) earlier[record.position] = std::move(found);
    }
  }
  return earlier;
}

void ImportLineGuarded(ImportContext& ctx, const std::function<void()>& work,
                       const char* createsKey) {
  const std::size_t idMapSize = ctx.idMap.Size();
  const std::size_t conflicts = ctx.summary.conflicts.size();
  const std::size_t notices = ctx.summary.notices.size();
  const std::size_t notTaken = ctx.summary.notTaken.size();
  try {
    ctx.db.RunInTransaction(work);
  } catch (const EDatabaseFailure&) {
    throw;
  } catch (const Exception& error) {
    ctx.idMap.TruncateTo(idMapSize);
    ctx.summary.conflicts.resize(conflicts);
    ctx.summary.notices.resize(notices);
    ctx.summary.notTaken.resize(notTaken);
    ctx.FailLine(error.what());
    int32_t mobileId = 0;
    if (createsKey != nullptr && CreatedMobileId(ctx.line, mobileId)) {
      ctx.failedNewIds.emplace(createsKey, mobileId);
    }
  }
}

int32_t LookupCreatedId(const ImportContext& ctx, const std::string& tableKey, int32_t mobileId) {
  const int32_t id = ctx.LookupNewId(tableKey, mobileId);
  if (id == 0 && ctx.failedNewIds.count({tableKey, mobileId}) > 0) {
    throw EReferenceFailed("Die Zeile bezieht sich auf den Datensatz N/" +
                           std::to_string(mobileId) + " (" + KindName(tableKey) +
                           "), der selbst nicht importiert werden konnte.");
  }
  return id;
}

int32_t Resolve(const ImportContext& ctx, const LineReference& reference,
                const std::string& tableKey) {
  if (reference.op == "A") return reference.id;
  if (reference.ByMobileId()) return LookupCreatedId(ctx, tableKey, reference.id);
  return 0;
}

int32_t ResolveReference(const ImportContext& ctx, const std::string& op, const std::string& id,
                         const std::string& tableKey) {
  if (op == "A") return StrToInt(id);
  if (op == "N" || op == "AE") return LookupCreatedId(ctx, tableKey, StrToInt(id));
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
  const DeletedRecord deleted = ReadDeletion(field0);
  int32_t id = 0;
  if (deleted.by == DeletedRecord::By::kMobileId) {
    id = ctx.LookupNewId(idMapKey, deleted.id);
  } else if (deleted.by == DeletedRecord::By::kDatabaseId) {
    id = deleted.id;
  }
  const std::string skipped = W1252("nicht gelöscht, die Praxis hat keinen solchen Datensatz.");
  // Row 0 is the host's placeholder; it is never deleted for an unknown id.
  if (id == 0) {
    ctx.Notice(skipped);
    return;
  }
  if (!UpdateValues(ctx.db, table, RecordValues().Integer("papierkorb", 1), "ID", id)) {
    ctx.Notice(skipped);
    return;
  }
  InsertValues(ctx.db, "papierkorb",
               RecordValues()
                   .Text("name", "MOBIL")
                   .Text("tabelle", label)
                   .Number("loeschdatum", ctx.Now())
                   .Integer("[index]", id)
                   .Integer("typ", 0));
  ctx.recycled.emplace(table, id);
}

namespace {

// How the office marks a record it took away from the mobile's reach: the
// recycle bin of every table, and for customers and horses the deactivation.
struct ChangeableTable {
  const char* table;
  const char* kind;
  bool deactivates;
};

const ChangeableTable& ChangeableTableOf(const std::string& table) {
  static const ChangeableTable kTables[] = {{"besitzer", "Kunde", true},
                                            {"pferd", "Pferd", true},
                                            {"stall", "Stall", false},
                                            {"termine", "Termin", false}};
  for (const ChangeableTable& known : kTables) {
    if (table == known.table) return known;
  }
  static const ChangeableTable kOther{"", "Datensatz", false};
  return kOther;
}

// "Kunde A/12 (Huber, Anna)", or without the name where the record has none.
std::string RecordLabel(const ChangeableTable& kind, int32_t id, const TDBTable& row) {
  std::string name;
  if (kind.table != std::string("termine")) {
    name = row.FieldAsString("name");
    if (kind.table == std::string("besitzer") && !row.FieldIsEmpty("vorname")) {
      name += (name.empty() ? "" : ", ") + row.FieldAsString("vorname");
    }
  }
  return std::string(kind.kind) + " A/" + std::to_string(id) +
         (name.empty() ? std::string() : " (" + name + ")");
}

// Whether a mark column (papierkorb, deaktiv) is set; any number but 0 is,
// as the host reads it. An empty or unreadable mark is not.
bool MarkSet(const TDBTable& row, const char* column) {
  const std::string text = row.FieldAsString(column);
  if (text.empty()) return false;
  try {
    return TVariant(text).AsDouble() != 0.0;
  } catch (const EConvertError&) {
    return false;
  }
}

}  // namespace

void UpdateChangedRecord(ImportContext& ctx, const std::string& table, const RecordValues& values,
                         int32_t id) {
  const ChangeableTable& kind = ChangeableTableOf(table);
  const std::string notTaken = W1252("; die Änderung wurde nicht übernommen.");
  const std::string gone = std::string(kind.kind) + " A/" + std::to_string(id) +
                           " gibt es in der Praxis nicht mehr" + notTaken;
  // Row 0 is the host's placeholder, never a record the mobile was sent.
  if (id == 0) throw ERecordUnavailable(gone);
  auto row = ctx.db.QueryBound("SELECT * FROM " + table + " WHERE id=?1",
                               {SqlParam::Integer(id)});
  if (row->Eof()) throw ERecordUnavailable(gone);
  // A record this run binned itself is still the mobile's to change.
  if (MarkSet(*row, "papierkorb") && ctx.recycled.count({table, id}) == 0) {
    throw ERecordUnavailable(RecordLabel(kind, id, *row) +
                             " liegt in der Praxis im Papierkorb" + notTaken);
  }
  if (kind.deactivates && MarkSet(*row, "deaktiv")) {
    throw ERecordUnavailable(RecordLabel(kind, id, *row) + " ist in der Praxis deaktiviert" +
                             notTaken);
  }
  if (!values.Columns().empty()) UpdateValues(ctx.db, table, values, "id", id);
}

}  // namespace kelvanor
