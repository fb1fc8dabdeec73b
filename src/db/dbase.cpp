#include "db/dbase.h"

#include <sqlite3.h>

#include <algorithm>

#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
// The counter row's name goes into the statement as a literal; only plain
// table names are ever allocated for.
bool IsPlainName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                    c == '_';
    if (!ok) return false;
  }
  return true;
}

bool FileExistsOnDisk(const std::string& ansiPath) { return FileExists(ansiPath); }
}  // namespace

// ---- TDBTable ----

TDBTable::TDBTable(std::unique_ptr<TSQLiteTable> table) : table_(std::move(table)) {}

bool TDBTable::Eof() const { return table_ == nullptr || table_->IsEOF(); }

bool TDBTable::Next() { return table_ != nullptr && table_->Next(); }

int64_t TDBTable::RowCount() const { return Eof() ? 0 : table_->Count(); }

TVariant TDBTable::FieldAsVariant(const std::string& column) const {
  if (table_ == nullptr) throw ESQLiteException("Table is at End of File");
  return TVariant(table_->FieldByName(column));
}

double TDBTable::FieldAsNumber(const std::string& column) const {
  if (table_ == nullptr) throw ESQLiteException("Table is at End of File");
  return table_->FieldsAsNumber(table_->FieldIndex(column));
}

bool TDBTable::FieldIsEmpty(const std::string& column) const {
  if (table_ == nullptr) throw ESQLiteException("Table is at End of File");
  return table_->FieldIsEmpty(table_->FieldIndex(column));
}

std::string TDBTable::FieldAsString(const std::string& column) const {
  if (table_ == nullptr) throw ESQLiteException("Table is at End of File");
  return table_->FieldAsString(table_->FieldIndex(column));
}

// ---- TDBase ----

TDBase::TDBase(const std::string& fileName) { Open(fileName); }

void TDBase::Open(const std::string& fileName) {
  if (!FileExistsOnDisk(fileName)) {
    throw EAssertionFailed("Datenbank-Datei nicht gefunden! (uDB.cpp, Zeile " +
                           std::to_string(__LINE__) + ")");
  }
  fileName_ = fileName;
  connection_ = std::make_unique<TSQLiteDatabase>(fileName);
  closed_ = false;
  sqlite3_commit_hook(
      connection_->Handle(),
      [](void* self) {
        auto* db = static_cast<TDBase*>(self);
        // A step not written to the file would be lost with the commit, and
        // the host would give the same id again: such a commit is refused.
        const bool unwritten = db->HasUnwrittenCounters();
        db->ForgetCounters();
        return unwritten ? 1 : 0;
      },
      this);
  sqlite3_rollback_hook(
      connection_->Handle(), [](void* self) { static_cast<TDBase*>(self)->ForgetCounters(); },
      this);
}

void TDBase::Reopen() {
  ClearStatementCache();
  ForgetCounters();
  connection_.reset();
  closed_ = true;
  Open(fileName_);
}

TDBase::~TDBase() {
  connection_.reset();
  closed_ = true;
}

void TDBase::Close() {
  if (closed_) return;
  connection_.reset();
  closed_ = true;
}

std::unique_ptr<TDBTable> TDBase::QueryStreamed(const std::string& sql) {
  if (closed_) return std::make_unique<TDBTable>(nullptr);
  return std::make_unique<TDBTable>(TSQLiteTable::Streamed(*connection_, sql));
}

std::unique_ptr<TDBTable> TDBase::Query(const std::string& sql) {
  if (closed_) return std::make_unique<TDBTable>(nullptr);
  return std::make_unique<TDBTable>(connection_->GetTable(sql));
}

bool TDBase::Execute(const std::string& sql) {
  return ExecuteWith([&] { connection_->ExecSQL(sql); });
}

bool TDBase::ExecuteBound(const std::string& sql, const SqlParams& params) {
  return ExecuteWith([&] { connection_->ExecBound(sql, params); });
}

bool TDBase::ExecuteWith(const std::function<void()>& run) {
  if (closed_) {
    lastError_ = "Die Datenbank ist geschlossen.";
    return false;
  }
  try {
    run();
    lastError_.clear();
    return true;
  } catch (const EDatabaseFailure&) {
    throw;
  } catch (const std::exception& e) {
    // A row refused under a ROLLBACK rule (a trigger's RAISE(ROLLBACK), ON
    // CONFLICT ROLLBACK) ends the whole transaction: what the run wrote is
    // gone, and going on would write the rest outside of it.
    if (savepointDepth_ > 0 && sqlite3_get_autocommit(connection_->Handle()) != 0) {
      const auto* sqlite = dynamic_cast<const ESQLiteException*>(&e);
      throw EDatabaseFailure(e.what(), sqlite != nullptr ? sqlite->Code() : 0,
                             "Die Datenbank hat beim Ablehnen eines Datensatzes die ganze "
                             "laufende Transaktion verworfen",
                             sqlite3_errmsg(connection_->Handle()));
    }
    lastError_ = e.what();
    return false;
  }
}

void TDBase::ExecuteBoundChecked(const std::string& sql, const SqlParams& params) {
  if (!ExecuteBound(sql, params)) {
    throw ERecordRefused(W1252("Die Datenbank hat die Änderung abgelehnt: ") + lastError_);
  }
}

int32_t TDBase::InsertRecordBound(const std::string& table, const std::vector<std::string>& columns,
                                  const SqlParams& values, const std::string& idColumn) {
  if (closed_) {
    lastError_ = "Die Datenbank ist geschlossen.";
    return 0;
  }
  const std::string name = AsciiLowerCase(table);
  if (!IsPlainName(name)) {
    lastError_ = W1252("Kein gültiger Tabellenname: ") + table;
    return 0;
  }
  // Outside a transaction the row and the counter step must still commit
  // together: the savepoint of InsertRecord does that.
  if (sqlite3_get_autocommit(connection_->Handle()) != 0) {
    int32_t id = 0;
    RunInTransaction([&] { id = InsertRecordBound(table, columns, values, idColumn); });
    return id;
  }
  const int32_t id = NextId(name);
  std::string sql = "INSERT INTO " + table + " (" + idColumn;
  for (const std::string& column : columns) sql += "," + column;
  sql += ") VALUES (?1";
  for (std::size_t i = 0; i < columns.size(); ++i) sql += ",?" + std::to_string(i + 2);
  sql += ")";
  SqlParams params;
  params.reserve(values.size() + 1);
  params.push_back(SqlParam::Integer(id));
  params.insert(params.end(), values.begin(), values.end());
  // A refused INSERT changes nothing (SQLite undoes a failed statement), so
  // the counter has not moved yet and no row carries the id.
  if (!ExecuteBound(sql, params)) return 0;
  if (connection_->Changes() < 1) {
    lastError_ = "Die Anweisung hat keinen Datensatz angelegt.";
    return 0;
  }
  const int64_t rowid = sqlite3_last_insert_rowid(connection_->Handle());
  if (!StepCounter(name, id)) {
    const std::string reason = lastError_;
    ExecuteBound("DELETE FROM " + table + " WHERE rowid=?1;", {SqlParam::Integer(rowid)});
    lastError_ = reason;
    return 0;
  }
  lastError_.clear();
  return id;
}

int32_t TDBase::InsertRecordBoundChecked(const std::string& table,
                                         const std::vector<std::string>& columns,
                                         const SqlParams& values, const std::string& idColumn) {
  const int32_t id = InsertRecordBound(table, columns, values, idColumn);
  if (id == 0) {
    throw ERecordRefused("Die Datenbank hat den neuen Datensatz abgelehnt: " +
                         (lastError_.empty() ? std::string("kein Datensatz angelegt") : lastError_));
  }
  return id;
}

std::unique_ptr<TDBTable> TDBase::QueryBound(const std::string& sql, const SqlParams& params) {
  if (closed_) return std::make_unique<TDBTable>(nullptr);
  return std::make_unique<TDBTable>(connection_->GetTableBound(sql, params));
}

void TDBase::ClearStatementCache() {
  if (!closed_) connection_->ClearStatementCache();
}

void TDBase::ExecuteQuietly(const std::string& sql) noexcept {
  if (closed_) return;
  try {
    connection_->ExecSQL(sql);
  } catch (...) {
  }
}

void TDBase::ExecuteChecked(const std::string& sql) {
  if (!Execute(sql))
    throw ERecordRefused(W1252("Die Datenbank hat die Änderung abgelehnt: ") + lastError_);
}

int32_t TDBase::InsertRecordChecked(const std::string& insertSql, const std::string& table,
                                    const std::string& idColumn) {
  const int32_t id = InsertRecord(insertSql, table, idColumn);
  if (id == 0) {
    throw ERecordRefused("Die Datenbank hat den neuen Datensatz abgelehnt: " +
                         (lastError_.empty() ? std::string("kein Datensatz angelegt") : lastError_));
  }
  return id;
}

int32_t TDBase::LastInsertId() const {
  return closed_ ? 0 : connection_->GetLastInsertRowID();
}

int TDBase::Changes() const { return closed_ ? 0 : connection_->Changes(); }

int32_t TDBase::AllocateId(const std::string& table) {
  const std::string name = AsciiLowerCase(table);
  if (!IsPlainName(name)) return 0;
  const int32_t id = NextId(name);
  StepCounter(name, id);
  return id;
}

// The host keeps one counter row per table; finding it by name means a scan
// with LOWER() on every row, so within a transaction (when nobody else can add
// or drop counter rows) the row is found once and then read and stepped by
// its rowid. Several rows of one name take the general way.
//
// Within a transaction the counter is read once and stepped in memory; the
// file gets its new value once, before the commit (WriteCounters), as the
// host's own bulk inserts do. A savepoint keeps the values it began with and
// a rollback to it puts them back, so a failed line never moves a counter.
int32_t TDBase::NextId(const std::string& lowerName) {
  const std::vector<int64_t>& rows = CounterRows(lowerName);
  if (rows.size() == 1) {
    for (const CounterState& counter : counters_) {
      if (counter.row == rows.front()) return static_cast<int32_t>(counter.value + 1);
    }
  }
  auto row = rows.size() == 1
                 ? QueryBound("SELECT idMax FROM \"_tblOffsets\" WHERE rowid=?1;",
                              {SqlParam::Integer(rows.front())})
                 : QueryBound("SELECT idMax FROM \"_tblOffsets\" WHERE LOWER(tbl)=?1 "
                              "ORDER BY idMax DESC LIMIT 1;",
                              {SqlParam::Text(lowerName)});
  if (row->Eof()) return 1;
  const int64_t value = row->FieldAsVariant("idMax").AsInteger();
  if (rows.size() == 1) counters_.push_back({rows.front(), value, value});
  return static_cast<int32_t>(value + 1);
}

bool TDBase::StepCounter(const std::string& lowerName, int32_t id) {
  const std::vector<int64_t>& rows = CounterRows(lowerName);
  if (rows.size() == 1) {
    for (CounterState& counter : counters_) {
      if (counter.row != rows.front()) continue;
      counter.value = std::max<int64_t>(counter.value, id);
      return true;
    }
  }
  return ExecuteBound("UPDATE \"_tblOffsets\" SET idMax=idMax+1 WHERE LOWER(tbl)=?1;",
                      {SqlParam::Text(lowerName)});
}

void TDBase::WriteCounters() {
  for (CounterState& counter : counters_) {
    if (counter.value == counter.written) continue;
    const SqlParams params{SqlParam::Integer(counter.row), SqlParam::Integer(counter.value),
                           SqlParam::Integer(counter.written)};
    // Where the row no longer holds the value it was read with (someone
    // wrote it meanwhile), it moves on by as many steps, and never below
    // the last id given.
    if (!ExecuteBound("UPDATE \"_tblOffsets\" SET idMax=?2 WHERE rowid=?1 AND idMax=?3;", params) ||
        (connection_->Changes() != 1 &&
         !ExecuteBound("UPDATE \"_tblOffsets\" SET idMax=MAX(idMax+?2-?3, ?2) WHERE rowid=?1;",
                       params))) {
      throw ERecordRefused(W1252("Der Nummernzähler der Praxis kann nicht geschrieben werden: ") +
                           lastError_);
    }
    counter.written = counter.value;
  }
}

bool TDBase::HasUnwrittenCounters() const {
  for (const CounterState& counter : counters_) {
    if (counter.value != counter.written) return true;
  }
  return false;
}

void TDBase::ForgetCounters() {
  counterRows_.clear();
  counters_.clear();
  counterMarks_.clear();
}

void TDBase::MarkCounters() { counterMarks_.push_back(counters_); }

void TDBase::DropCounterMark(bool rolledBack) {
  if (counterMarks_.empty()) return;
  // Rolled back to the savepoint: the values it began with. Gone with the
  // whole transaction (a ROLLBACK rule of the host's): nothing is kept.
  if (rolledBack) {
    counters_ = sqlite3_get_autocommit(connection_->Handle()) != 0
                    ? std::vector<CounterState>()
                    : std::move(counterMarks_.back());
  }
  counterMarks_.pop_back();
}

const std::vector<int64_t>& TDBase::CounterRows(const std::string& lowerName) {
  static const std::vector<int64_t> kUnknown;
  // Outside a transaction the host may change the table between two calls;
  // the hooks set at opening forget the rows when a transaction ends.
  if (sqlite3_get_autocommit(connection_->Handle()) != 0) return kUnknown;
  auto found = counterRows_.find(lowerName);
  if (found != counterRows_.end()) return found->second;
  std::vector<int64_t> rows;
  // Looked up with the same rule as the allocation; the rowid as text, so it
  // is read whole.
  auto table = connection_->GetTableBound(
      "SELECT CAST(rowid AS TEXT) AS r FROM \"_tblOffsets\" WHERE LOWER(tbl)=?1;",
      {SqlParam::Text(lowerName)});
  for (; !table->IsEOF(); table->Next()) {
    rows.push_back(std::stoll(table->FieldAsString(0)));
  }
  // Zero rows or several: the general statements handle both.
  if (rows.size() != 1) rows.clear();
  return counterRows_.emplace(lowerName, std::move(rows)).first->second;
}

int32_t TDBase::InsertRecord(const std::string& insertSql, const std::string& table,
                             const std::string& idColumn) {
  return InsertRecordWith([&] { return Execute(insertSql); }, table, idColumn);
}

int32_t TDBase::InsertRecordWith(const std::function<bool()>& insert, const std::string& table,
                                 const std::string& idColumn) {
  if (closed_) {
    lastError_ = "Die Datenbank ist geschlossen.";
    return 0;
  }
  // A savepoint, not BEGIN: the insert then nests inside an import's transaction.
  const bool outermost = sqlite3_get_autocommit(connection_->Handle()) != 0;
  const std::string savepoint = "insert_record_" + std::to_string(savepointDepth_);
  if (!ExecuteBound("SAVEPOINT " + savepoint + ";", {})) return 0;
  ++savepointDepth_;
  if (outermost) ForgetCounters();
  MarkCounters();
  // Undoes the INSERT and the counter step together. Outside a transaction a
  // plain ROLLBACK also ends the transaction the savepoint opened, even when
  // its commit was what failed.
  auto abandon = [&] {
    if (outermost) {
      ExecuteQuietly("ROLLBACK;");
    } else {
      ExecuteQuietly("ROLLBACK TO " + savepoint + ";");
      ExecuteQuietly("RELEASE " + savepoint + ";");
    }
    DropCounterMark(true);
    --savepointDepth_;
  };
  int32_t id = 0;
  try {
    // A failed INSERT must give no row an id and leave the counter alone: the
    // last rowid would then belong to an earlier row.
    if (!insert()) {
      const std::string reason = lastError_;
      abandon();
      lastError_ = reason;
      return 0;
    }
    if (connection_->Changes() < 1) {
      abandon();
      lastError_ = "Die Anweisung hat keinen Datensatz angelegt.";
      return 0;
    }
    // The full rowid, not the 32-bit LastInsertId: a wrapped value could name
    // another row.
    const int64_t rowid = sqlite3_last_insert_rowid(connection_->Handle());
    id = AllocateId(table);
    // A row left without its id would read as the placeholder row 0.
    if (id == 0 ||
        !ExecuteBound("UPDATE " + table + " SET " + idColumn + "=?1 WHERE rowid=?2;",
                      {SqlParam::Integer(id), SqlParam::Integer(rowid)}) ||
        connection_->Changes() != 1) {
      const std::string reason =
          lastError_.empty() ? "Dem neuen Datensatz kann keine Nummer gegeben werden." : lastError_;
      abandon();
      lastError_ = reason;
      return 0;
    }
    // Releasing the outermost savepoint commits.
    if (outermost) WriteCounters();
    if (!ExecuteBound("RELEASE " + savepoint + ";", {})) {
      const std::string reason = lastError_;
      abandon();
      lastError_ = reason;
      return 0;
    }
  } catch (...) {
    abandon();
    throw;
  }
  DropCounterMark(false);
  --savepointDepth_;
  lastError_.clear();
  return id;
}

void TDBase::RunInTransaction(const std::function<void()>& block) {
  if (closed_) {
    block();
    return;
  }
  const bool outer = sqlite3_get_autocommit(connection_->Handle()) != 0;
  const std::string savepoint = "run_" + std::to_string(savepointDepth_);
  // IMMEDIATE takes the write lock at once, waiting (busy timeout) for the
  // host application rather than failing half-way through.
  // The savepoint statements are kept: an import opens one for every line.
  connection_->ExecBound(outer ? "BEGIN IMMEDIATE;" : "SAVEPOINT " + savepoint + ";", {});
  ++savepointDepth_;
  if (outer) ForgetCounters();
  MarkCounters();
  auto rollback = [&] {
    --savepointDepth_;
    if (closed_) return;  // closing the connection already rolled back
    if (outer) {
      ExecuteQuietly("ROLLBACK;");
    } else {
      ExecuteQuietly("ROLLBACK TO " + savepoint + ";");
      ExecuteQuietly("RELEASE " + savepoint + ";");
    }
    DropCounterMark(true);
  };
  try {
    block();
  } catch (...) {
    rollback();
    throw;
  }
  if (closed_) {
    --savepointDepth_;
    return;
  }
  try {
    // A commit that fails (the host holds the file too long) must not leave the
    // transaction open: everything after it would silently never be saved.
    if (outer) WriteCounters();
    connection_->ExecBound(outer ? std::string("COMMIT;") : "RELEASE " + savepoint + ";", {});
  } catch (...) {
    rollback();
    throw;
  }
  DropCounterMark(false);
  --savepointDepth_;
}

sqlite3* TDBase::Handle() const {
  return closed_ || connection_ == nullptr ? nullptr : connection_->Handle();
}

}  // namespace kelvanor
