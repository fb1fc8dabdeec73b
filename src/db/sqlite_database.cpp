#include "db/sqlite_database.h"

#include <sqlite3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "db/declared_type.h"
#include "db/variant.h"
#include "util/encoding.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// SQLite reports these declared types upper-cased however the schema spells
// them; the other words of the type rule it leaves as written.
bool IsNormalisedTypeName(const char* declared) {
  if (declared == nullptr) return false;
  const std::string type = declared;
  return type == "INTEGER" || type == "REAL" || type == "BLOB";
}

// The type code of a column by its declared type, compared with case; an
// expression column (no declared type) takes the storage class of its value in
// the first row.
int ColumnTypeOf(sqlite3_stmt* stmt, int column, const std::optional<std::string>& spelled) {
  const char* declared = sqlite3_column_decltype(stmt, column);
  if (declared == nullptr) return sqlite3_column_type(stmt, column);
  const std::string type = spelled ? *spelled : std::string(declared);
  if (type == "INTEGER" || type == "BOOLEAN") return kTypeInteger;
  if (type == "NUMERIC" || type == "FLOAT" || type == "DOUBLE" || type == "REAL") return kTypeFloat;
  if (type == "BLOB") return kTypeBlob;
  return kTypeText;
}

// Prepares the first statement of `sql`; raises like ExecSQL and GetTable do.
sqlite3_stmt* Prepare(const TSQLiteDatabase& db, const std::string& sql) {
  sqlite3_stmt* stmt = nullptr;
  const char* tail = nullptr;
  if (sqlite3_prepare_v2(db.Handle(), sql.c_str(), -1, &stmt, &tail) != SQLITE_OK) {
    db.RaiseError("Error executing SQL", sql);
  }
  if (stmt == nullptr) db.RaiseError("Could not prepare SQL statement", sql);
  return stmt;
}

class StatementGuard {
 public:
  explicit StatementGuard(sqlite3_stmt* stmt) : stmt_(stmt) {}
  ~StatementGuard() { sqlite3_finalize(stmt_); }
  StatementGuard(const StatementGuard&) = delete;
  StatementGuard& operator=(const StatementGuard&) = delete;

 private:
  sqlite3_stmt* stmt_;
};

// What the user is told when the file or connection fails, by result code.
std::string FailureCause(sqlite3* db, int code) {
  // The file may be writable while its folder is not: SQLite cannot make the
  // journal beside it.
  if (db != nullptr && code == SQLITE_READONLY &&
      sqlite3_extended_errcode(db) == SQLITE_READONLY_DIRECTORY) {
    return W1252(
        "Der Ordner der Datenbank ist schreibgeschützt, ihre Journal-Datei kann dort nicht "
        "angelegt werden");
  }
  switch (code) {
    case SQLITE_READONLY:
      if (db != nullptr && sqlite3_db_readonly(db, "main") == 1) {
        return W1252("Die Praxis-Datenbank ist schreibgeschützt und kann nicht geändert werden");
      }
      return W1252("Eine Datenbank-Datei ist schreibgeschützt und kann nicht geändert werden");
    case SQLITE_CANTOPEN:
      return W1252(
          "Eine Datenbank-Datei oder ihre Journal-Datei kann nicht geöffnet oder angelegt "
          "werden (ist der Ordner schreibgeschützt?)");
    case SQLITE_FULL:
      return W1252("Der Datenträger ist voll");
    case SQLITE_IOERR:
      return "Lese- oder Schreibfehler beim Zugriff auf die Datenbank";
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
      return W1252("Die Datenbank-Datei ist beschädigt");
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
      return W1252(
          "Die Praxis-Datenbank ist von einem anderen Programm gesperrt (speichert dasTessavor "
          "gerade?); bitte später noch einmal versuchen");
    case SQLITE_NOMEM:
      return W1252("Nicht genug Arbeitsspeicher für die Datenbank");
    case SQLITE_PERM:
    case SQLITE_AUTH:
      return "Der Zugriff auf die Datenbank wurde verweigert";
    default:
      return W1252("Die Verbindung zur Datenbank ist gestört");
  }
}

}  // namespace

bool IsDatabaseFailure(int code) {
  switch (code & 0xFF) {
    case SQLITE_PERM:
    case SQLITE_ABORT:
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_NOMEM:
    case SQLITE_READONLY:
    case SQLITE_INTERRUPT:
    case SQLITE_IOERR:
    case SQLITE_CORRUPT:
    case SQLITE_FULL:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
    case SQLITE_NOTADB:
    case SQLITE_AUTH:
      return true;
    default:
      return false;
  }
}

// ---- TSQLiteDatabase ----

TSQLiteDatabase::TSQLiteDatabase(const std::string& fileName) {
  const std::string utf8 = AnsiToUtf8Name(fileName);
  // Never create a file: the database belongs to the host application.
  // One thread uses a connection (the GUI thread, or the CLI), so SQLite
  // need not lock its own mutex around every call.
  const int rc =
      sqlite3_open_v2(utf8.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    std::string message;
    if (db_ == nullptr) {
      message = "Failed to open database \"" + fileName + "\" : unknown error";
    } else {
      message = "Failed to open database \"" + fileName + "\" : " + sqlite3_errmsg(db_);
      sqlite3_close(db_);
      db_ = nullptr;
    }
    throw ESQLiteException(message);
  }
  // The host application may hold a lock for a moment; wait instead of failing.
  sqlite3_busy_timeout(db_, kBusyTimeoutMs);
  try {
    ExecSQL("PRAGMA SYNCHRONOUS=NORMAL;");
    ExecSQL("PRAGMA temp_store = MEMORY;");
  } catch (...) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw;
  }
}

TSQLiteDatabase::~TSQLiteDatabase() {
  ClearStatementCache();
  if (db_ != nullptr) sqlite3_close(db_);
}

const TSQLiteDatabase::ColumnLayout* TSQLiteDatabase::KeptLayout(sqlite3_stmt* stmt) const {
  const auto found = layouts_.find(stmt);
  return found == layouts_.end() ? nullptr : &found->second;
}

void TSQLiteDatabase::KeepLayout(sqlite3_stmt* stmt, ColumnLayout layout) const {
  layouts_[stmt] = std::move(layout);
}

void TSQLiteDatabase::ClearStatementCache() {
  layouts_.clear();
  for (auto& [sql, stmt] : statements_) sqlite3_finalize(stmt);
  statements_.clear();
}

sqlite3_stmt* TSQLiteDatabase::BoundStatement(const std::string& sql, const SqlParams& params) {
  auto found = statements_.find(sql);
  sqlite3_stmt* stmt = nullptr;
  if (found != statements_.end()) {
    stmt = found->second;
  } else {
    stmt = Prepare(*this, sql);
    statements_.emplace(sql, stmt);
  }
  sqlite3_reset(stmt);
  sqlite3_clear_bindings(stmt);
  int rc = SQLITE_OK;
  for (std::size_t i = 0; i < params.size() && rc == SQLITE_OK; ++i) {
    const int index = static_cast<int>(i) + 1;
    const SqlParam& param = params[i];
    switch (param.GetKind()) {
      case SqlParam::Kind::kText:
        rc = sqlite3_bind_text(stmt, index, param.Text().data(),
                               static_cast<int>(param.Text().size()), SQLITE_TRANSIENT);
        break;
      case SqlParam::Kind::kNumber:
        rc = param.IsInteger() ? sqlite3_bind_int64(stmt, index, param.IntegerValue())
                               : sqlite3_bind_double(stmt, index, param.RealValue());
        break;
      case SqlParam::Kind::kNull:
        rc = sqlite3_bind_null(stmt, index);
        break;
    }
  }
  if (rc != SQLITE_OK) RaiseError("Error executing SQL", sql);
  return stmt;
}

void TSQLiteDatabase::ExecBound(const std::string& sql, const SqlParams& params) {
  sqlite3_stmt* stmt = BoundStatement(sql, params);
  const int rc = sqlite3_step(stmt);
  if (rc != SQLITE_DONE) {
    try {
      RaiseError("Error executing SQL statement", sql);
    } catch (...) {
      // Not left half-run: a ROLLBACK after the error must not find it busy.
      sqlite3_reset(stmt);
      throw;
    }
  }
  sqlite3_reset(stmt);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::GetTableBound(const std::string& sql,
                                                             const SqlParams& params) {
  return std::make_unique<TSQLiteTable>(*this, BoundStatement(sql, params), sql);
}

void TSQLiteDatabase::ExecSQL(const std::string& sql) {
  sqlite3_stmt* stmt = Prepare(*this, sql);
  StatementGuard guard(stmt);
  if (sqlite3_step(stmt) != SQLITE_DONE) RaiseError("Error executing SQL statement", sql);
}

std::unique_ptr<TSQLiteTable> TSQLiteDatabase::GetTable(const std::string& sql) {
  return std::make_unique<TSQLiteTable>(*this, sql);
}

int32_t TSQLiteDatabase::GetLastInsertRowID() const {
  return static_cast<int32_t>(static_cast<uint32_t>(sqlite3_last_insert_rowid(db_)));
}

int TSQLiteDatabase::Changes() const { return sqlite3_changes(db_); }

void TSQLiteDatabase::RaiseError(const std::string& message, const std::string& sql) const {
  const int code = db_ != nullptr ? sqlite3_errcode(db_) : SQLITE_OK;
  const char* sqliteMessage = db_ != nullptr ? sqlite3_errmsg(db_) : nullptr;
  std::string text = message;
  if (code != SQLITE_OK && sqliteMessage != nullptr) text += " \"" + sql + "\" : " + sqliteMessage;
  RaiseWithCode(text, code);
}

void TSQLiteDatabase::RaiseWithCode(const std::string& message, int code) const {
  RaiseSqliteFailure(db_, message, code);
}

void RaiseSqliteFailure(sqlite3* db, const std::string& message, int code) {
  const int primary = code & 0xFF;
  if (IsDatabaseFailure(primary)) {
    const char* words = db != nullptr ? sqlite3_errmsg(db) : nullptr;
    throw EDatabaseFailure(message, primary, FailureCause(db, primary),
                           words != nullptr ? words : "");
  }
  throw ESQLiteException(message, primary);
}

std::optional<std::string> TSQLiteDatabase::SpelledDeclaredType(sqlite3_stmt* stmt,
                                                                 int column) const {
  const char* database = sqlite3_column_database_name(stmt, column);
  const char* table = sqlite3_column_table_name(stmt, column);
  const char* origin = sqlite3_column_origin_name(stmt, column);
  if (database == nullptr || table == nullptr || origin == nullptr) return std::nullopt;
  std::string key = std::string(database) + '\x1F' + table + '\x1F' + origin;
  const auto known = spelledTypes_.find(key);
  if (known != spelledTypes_.end()) return known->second;

  // Read apart from the statement being stepped; a failure here only means
  // the reported type stands.
  std::string schema = "\"" + ReplaceAll(database, "\"", "\"\"") + "\".sqlite_master";
  const std::string sql = "SELECT sql FROM " + schema + " WHERE type = 'table' AND name = ?1;";
  sqlite3_stmt* lookup = nullptr;
  if (sqlite3_prepare_v2(db_, sql.c_str(), -1, &lookup, nullptr) != SQLITE_OK) {
    sqlite3_finalize(lookup);
    return std::nullopt;
  }
  StatementGuard guard(lookup);
  sqlite3_bind_text(lookup, 1, table, -1, SQLITE_TRANSIENT);
  if (sqlite3_step(lookup) != SQLITE_ROW) return std::nullopt;
  const unsigned char* createSql = sqlite3_column_text(lookup, 0);
  if (createSql == nullptr) return std::nullopt;
  std::optional<std::string> spelled =
      DeclaredTypeInCreateTable(reinterpret_cast<const char*>(createSql), origin);
  if (spelled) spelledTypes_.emplace(std::move(key), *spelled);
  return spelled;
}

// ---- TSQLiteTable ----

TSQLiteTable::TSQLiteTable(const TSQLiteDatabase& db, const std::string& sql) {
  sqlite3_stmt* stmt = Prepare(db, sql);
  StatementGuard guard(stmt);
  ReadRows(db, stmt, sql, false);
}

TSQLiteTable::TSQLiteTable(const TSQLiteDatabase& db, sqlite3_stmt* stmt, const std::string& sql) {
  try {
    ReadRows(db, stmt, sql, true);
  } catch (...) {
    sqlite3_reset(stmt);
    throw;
  }
  sqlite3_reset(stmt);
}

void TSQLiteTable::ReadRows(const TSQLiteDatabase& db, sqlite3_stmt* stmt, const std::string& sql,
                            bool kept) {
  int rc = sqlite3_step(stmt);
  while (rc != SQLITE_DONE) {
    if (rc == SQLITE_BUSY) db.RaiseWithCode("Could not prepare SQL statement", rc);
    if (rc != SQLITE_ROW) db.RaiseError("Could not retrieve data", sql);
    ++rowCount_;
    if (rowCount_ == 1) ReadColumns(db, stmt, kept);
    AppendRow(stmt);
    rc = sqlite3_step(stmt);
  }
  currentRow_ = 0;
}

void TSQLiteTable::ReadColumns(const TSQLiteDatabase& db, sqlite3_stmt* stmt, bool kept) {
  columnCount_ = sqlite3_column_count(stmt);
  const TSQLiteDatabase::ColumnLayout* layout = kept ? db.KeptLayout(stmt) : nullptr;
  if (layout != nullptr && layout->names.size() == static_cast<size_t>(columnCount_)) {
    columnNames_ = layout->names;
    for (int c = 0; c < columnCount_; ++c) {
      const int type = layout->types[static_cast<size_t>(c)];
      columnTypes_.push_back(type == TSQLiteDatabase::kTypeByValue ? sqlite3_column_type(stmt, c)
                                                                   : type);
    }
    return;
  }
  TSQLiteDatabase::ColumnLayout fresh;
  for (int c = 0; c < columnCount_; ++c) {
    const char* name = sqlite3_column_name(stmt, c);
    columnNames_.push_back(AnsiUpperCase(name != nullptr ? name : ""));
  }
  for (int c = 0; c < columnCount_; ++c) {
    std::optional<std::string> spelled;
    if (IsNormalisedTypeName(sqlite3_column_decltype(stmt, c))) {
      spelled = db.SpelledDeclaredType(stmt, c);
    }
    columnTypes_.push_back(ColumnTypeOf(stmt, c, spelled));
    fresh.types.push_back(sqlite3_column_decltype(stmt, c) == nullptr ? TSQLiteDatabase::kTypeByValue
                                                                      : columnTypes_.back());
  }
  if (kept) {
    fresh.names = columnNames_;
    db.KeepLayout(stmt, std::move(fresh));
  }
}

uint64_t TSQLiteTable::TextStore::Add(const char* data, std::size_t size) {
  // A text longer than a block gets a block of its own.
  if (blocks_.empty() || blocks_.back().size() + size > blocks_.back().capacity()) {
    blocks_.emplace_back();
    blocks_.back().reserve(std::max(size, kBlockSize));
  }
  std::string& block = blocks_.back();
  const uint64_t handle = (static_cast<uint64_t>(blocks_.size() - 1) << 32) | block.size();
  block.append(data, size);
  return handle;
}

std::string TSQLiteTable::TextStore::Get(uint64_t handle, uint32_t size) const {
  const std::string& block = blocks_[static_cast<std::size_t>(handle >> 32)];
  return block.substr(static_cast<std::size_t>(handle & 0xFFFFFFFFu), size);
}

TSQLiteTable::Cell TSQLiteTable::ReadCell(sqlite3_stmt* stmt, int c, TextStore& texts) const {
  Cell cell;
  if (sqlite3_column_type(stmt, c) == SQLITE_NULL) return cell;
  switch (columnTypes_[static_cast<size_t>(c)]) {
    case kTypeInteger:
      // Ids are 32-bit in the host application; wider values wrap.
      cell.kind = Cell::kInteger;
      cell.integer = static_cast<int32_t>(
          static_cast<uint32_t>(static_cast<uint64_t>(sqlite3_column_int64(stmt, c))));
      break;
    case kTypeFloat:
      cell.kind = Cell::kReal;
      cell.real = sqlite3_column_double(stmt, c);
      break;
    case kTypeBlob: {
      const int bytes = sqlite3_column_bytes(stmt, c);
      const void* data = sqlite3_column_blob(stmt, c);
      if (bytes > 0 && data != nullptr) {
        cell.kind = Cell::kBytes;
        cell.length = static_cast<uint32_t>(bytes);
        cell.bytes = texts.Add(static_cast<const char*>(data), static_cast<size_t>(bytes));
      }
      break;
    }
    default: {
      const unsigned char* text = sqlite3_column_text(stmt, c);
      // Up to the first zero byte, as a C string would end.
      const char* chars = text != nullptr ? reinterpret_cast<const char*>(text) : "";
      const std::size_t size = std::strlen(chars);
      cell.kind = Cell::kBytes;
      cell.length = static_cast<uint32_t>(size);
      cell.bytes = texts.Add(chars, size);
      break;
    }
  }
  return cell;
}

void TSQLiteTable::AppendRow(sqlite3_stmt* stmt) {
  for (int c = 0; c < columnCount_; ++c) results_.push_back(ReadCell(stmt, c, texts_));
}

std::unique_ptr<TSQLiteTable> TSQLiteTable::Streamed(const TSQLiteDatabase& db,
                                                     const std::string& sql) {
  std::unique_ptr<TSQLiteTable> table(new TSQLiteTable());
  table->streamDb_ = &db;
  table->streamSql_ = sql;
  table->stream_ = Prepare(db, sql);
  table->StepStream();
  return table;
}

TSQLiteTable::~TSQLiteTable() {
  if (stream_ != nullptr) sqlite3_finalize(stream_);
}

void TSQLiteTable::StepStream() {
  const int rc = sqlite3_step(stream_);
  texts_.Clear();
  currentRow_ = 0;
  if (rc == SQLITE_DONE) {
    rowCount_ = 0;
    return;
  }
  if (rc == SQLITE_BUSY) streamDb_->RaiseWithCode("Could not prepare SQL statement", rc);
  if (rc != SQLITE_ROW) streamDb_->RaiseError("Could not retrieve data", streamSql_);
  if (columnCount_ == 0 && columnNames_.empty()) ReadColumns(*streamDb_, stream_, false);
  rowCount_ = 1;
  // The row's values are read from the statement when asked for: a long
  // result's unused columns are never copied.
  results_.assign(static_cast<size_t>(columnCount_), Cell());
  streamLoaded_.assign(static_cast<size_t>(columnCount_), false);
}

bool TSQLiteTable::Next() {
  if (IsEOF()) return false;
  if (stream_ != nullptr) {
    StepStream();
    return !IsEOF();
  }
  ++currentRow_;
  return true;
}

void TSQLiteTable::CheckNotEof() const {
  if (IsEOF()) throw ESQLiteException("Table is at End of File");
}

const TSQLiteTable::Cell& TSQLiteTable::CellAt(int index) const {
  CheckNotEof();
  if (index < 0 || index >= columnCount_) throw ESQLiteException("Field index out of range");
  if (stream_ != nullptr) {
    const auto column = static_cast<size_t>(index);
    if (!streamLoaded_[column]) {
      results_[column] = ReadCell(stream_, index, texts_);
      streamLoaded_[column] = true;
    }
    return results_[column];
  }
  return results_[static_cast<size_t>(currentRow_ * columnCount_ + index)];
}

int TSQLiteTable::FieldIndex(const std::string& name) const {
  if (columnNames_.empty()) throw ESQLiteException("Field " + name + " Not found. Empty dataset");
  // The same names are asked for on every row.
  const auto known = indexByName_.find(name);
  if (known != indexByName_.end()) return known->second;
  // Looked up for every field of every row: compared letter by letter
  // instead of upper-casing a copy of the name each time.
  for (size_t i = 0; i < columnNames_.size(); ++i) {
    const std::string& column = columnNames_[i];
    if (column.size() != name.size()) continue;
    bool same = true;
    for (size_t k = 0; k < name.size() && same; ++k) same = AnsiUpperChar(name[k]) == column[k];
    if (same) {
      indexByName_.emplace(name, static_cast<int>(i));
      return static_cast<int>(i);
    }
  }
  throw ESQLiteException("Field not found in dataset: " + name);
}

std::string TSQLiteTable::Fields(int index) const {
  CheckNotEof();
  switch (ColumnType(index)) {
    case kTypeInteger:
      return std::to_string(FieldAsInteger(index));
    case kTypeFloat:
      return FormatGeneral(FieldAsDouble(index), DecimalSeparator());
    case kTypeText: {
      const Cell& cell = CellAt(index);
      return cell.kind == Cell::kBytes ? TextOf(cell) : std::string();
    }
    case kTypeBlob:
      return FieldAsBlobText(index);
    default:
      return std::string();
  }
}

std::string TSQLiteTable::FieldAsString(int index) const {
  if (CellAt(index).kind == Cell::kEmpty) return std::string();
  return Fields(index);
}

double TSQLiteTable::FieldsAsNumber(int index) const {
  const Cell& cell = CellAt(index);
  switch (ColumnType(index)) {
    case kTypeInteger:
      return cell.kind == Cell::kEmpty ? 0.0 : static_cast<double>(cell.integer);
    case kTypeFloat:
      if (cell.kind == Cell::kEmpty) return 0.0;
      if (std::isfinite(cell.real)) return RoundToGeneral(cell.real);
      break;
    default:
      break;
  }
  return TVariant(Fields(index)).AsDouble();
}

bool TSQLiteTable::FieldIsEmpty(int index) const {
  const Cell& cell = CellAt(index);
  if (cell.kind == Cell::kEmpty) return true;
  switch (ColumnType(index)) {
    case kTypeInteger:
    case kTypeFloat:
      return false;  // a number's text is never empty
    case kTypeText:
    case kTypeBlob:
      return cell.kind != Cell::kBytes || cell.length == 0;
    default:
      return Fields(index).empty();
  }
}

int32_t TSQLiteTable::FieldAsInteger(int index) const {
  const Cell& cell = CellAt(index);
  if (cell.kind == Cell::kEmpty) return 0;
  switch (ColumnType(index)) {
    case kTypeInteger:
      return cell.integer;
    case kTypeFloat: {
      const double v = std::trunc(cell.real);
      if (!(v >= -2147483648.0 && v <= 2147483647.0)) return 0;
      return static_cast<int32_t>(v);
    }
    default:
      throw ESQLiteException("Not an integer or numeric field");
  }
}

double TSQLiteTable::FieldAsDouble(int index) const {
  const Cell& cell = CellAt(index);
  if (cell.kind == Cell::kEmpty) return 0.0;
  switch (ColumnType(index)) {
    case kTypeInteger:
      return static_cast<double>(cell.integer);
    case kTypeFloat:
      return cell.real;
    default:
      throw ESQLiteException("Not an integer or numeric field");
  }
}

std::optional<std::string> TSQLiteTable::FieldAsBlob(int index) const {
  const Cell& cell = CellAt(index);
  if (cell.kind == Cell::kEmpty) return std::nullopt;
  if (ColumnType(index) != kTypeBlob) throw ESQLiteException("Not a Blob field");
  return TextOf(cell);
}

std::string TSQLiteTable::FieldAsBlobText(int index) const {
  return FieldAsBlob(index).value_or(std::string());
}

}  // namespace kelvanor
