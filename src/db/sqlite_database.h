// A thin layer over the SQLite C library: one connection that runs single
// statements, and complete in-memory query results. Every failure raises
// ESQLiteException with a fixed English text.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "db/sql.h"
#include "util/errors.h"

struct sqlite3;
struct sqlite3_stmt;

namespace kelvanor {

class TSQLiteDatabase;

class ESQLiteException : public Exception {
 public:
  explicit ESQLiteException(const std::string& message, int code = 0)
      : Exception(message), code_(code) {}
  // SQLite's primary result code; 0 when the layer itself found the fault.
  int Code() const { return code_; }

 private:
  int code_;
};

// The file or the connection failed, not the statement: the database is
// read-only, its folder refuses the journal, the disk is full, an I/O error,
// a corrupt file, or a lock held past the busy timeout. Nothing written after
// it can be trusted, so a writer must stop and roll back instead of treating
// it as one refused row. what() keeps the layer's English text; Cause() says
// in German what is wrong.
class EDatabaseFailure : public ESQLiteException {
 public:
  EDatabaseFailure(const std::string& message, int code, std::string cause,
                   std::string sqliteWords)
      : ESQLiteException(message, code),
        cause_(std::move(cause)),
        sqliteWords_(std::move(sqliteWords)) {}
  const std::string& Cause() const { return cause_; }
  // The German cause followed by SQLite's own short words, for the user.
  std::string UserMessage() const {
    return sqliteWords_.empty() ? cause_ : cause_ + " (" + sqliteWords_ + ")";
  }

 private:
  std::string cause_;
  std::string sqliteWords_;
};

// True for result codes that mean the file or connection failed (see
// EDatabaseFailure), false for a statement refused for its own sake.
bool IsDatabaseFailure(int code);

// SQLite's storage-class numbers, used as column type codes.
enum SQLiteColumnType : int {
  kTypeInteger = 1,
  kTypeFloat = 2,
  kTypeText = 3,
  kTypeBlob = 4,
  kTypeNull = 5,
};

// The complete result of one query, read when the table is built and then
// walked forward row by row. Holds copies of all values; the connection is not
// needed afterwards.
class TSQLiteTable {
 public:
  // Runs the first statement of `sql` on `db` and reads every row.
  TSQLiteTable(const TSQLiteDatabase& db, const std::string& sql);
  // Reads every row of `stmt`, prepared and bound by `db`'s cache; the
  // statement is left reset for its next use.
  TSQLiteTable(const TSQLiteDatabase& db, sqlite3_stmt* stmt, const std::string& sql);

  int64_t Count() const { return rowCount_; }
  bool IsEOF() const { return currentRow_ >= rowCount_; }
  bool Next();

  int FieldIndex(const std::string& name) const;
  std::string Fields(int index) const;
  std::string FieldByName(const std::string& name) const { return Fields(FieldIndex(name)); }
  std::string FieldAsString(int index) const;
  int32_t FieldAsInteger(int index) const;
  double FieldAsDouble(int index) const;
  // The table's own bytes, or nullptr for an empty cell; owned by the table.
  const std::string* FieldAsBlob(int index) const;
  std::string FieldAsBlobText(int index) const;

  int ColumnCount() const { return columnCount_; }
  int ColumnType(int index) const { return columnTypes_.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& ColumnNames() const { return columnNames_; }

 private:
  // Empty cell = NULL (or a zero-length blob).
  using Cell = std::variant<std::monostate, int32_t, double, std::string>;
  const Cell& CellAt(int index) const;
  void CheckNotEof() const;

  std::vector<Cell> results_;
  int64_t rowCount_ = 0;
  int columnCount_ = 0;
  void ReadRows(const TSQLiteDatabase& db, sqlite3_stmt* stmt, const std::string& sql);

  std::vector<std::string> columnNames_;  // upper-cased
  std::vector<int> columnTypes_;
  int64_t currentRow_ = 0;
};

// One open connection. Owns the handle and closes it when destroyed.
class TSQLiteDatabase {
 public:
  // Opens fileName (Windows-1252, converted to UTF-8 for SQLite) and sets
  // "PRAGMA SYNCHRONOUS=NORMAL;" and "PRAGMA temp_store = MEMORY;". Also sets a
  // busy timeout so a lock held by the host application is waited for.
  explicit TSQLiteDatabase(const std::string& fileName);
  ~TSQLiteDatabase();
  TSQLiteDatabase(const TSQLiteDatabase&) = delete;
  TSQLiteDatabase& operator=(const TSQLiteDatabase&) = delete;

  // Runs the first statement of `sql`; it must return no rows.
  void ExecSQL(const std::string& sql);
  std::unique_ptr<TSQLiteTable> GetTable(const std::string& sql);

  // The same with parameters ?1, ?2 ... bound to `params`. The statement is
  // prepared on its first use and kept for the next until
  // ClearStatementCache, so a text run many times is parsed once.
  void ExecBound(const std::string& sql, const SqlParams& params);
  std::unique_ptr<TSQLiteTable> GetTableBound(const std::string& sql, const SqlParams& params);
  // Finalizes the kept statements (at the end of a run; also on destruction).
  void ClearStatementCache();
  int32_t GetLastInsertRowID() const;
  // Rows changed by the last statement.
  int Changes() const;
  // Raises `message` with SQLite's words for the last failure appended;
  // EDatabaseFailure when that failure is one of the file or connection.
  [[noreturn]] void RaiseError(const std::string& message, const std::string& sql) const;
  [[noreturn]] void RaiseWithCode(const std::string& message, int code) const;

  sqlite3* Handle() const { return db_; }

  // How long a statement waits for a lock held by another connection.
  static constexpr int kBusyTimeoutMs = 5000;

 private:
  friend class TSQLiteTable;
  // The declared type of a result column as the schema spells it, for the
  // standard type names SQLite reports upper-cased; nullopt when unknown.
  std::optional<std::string> SpelledDeclaredType(sqlite3_stmt* stmt, int column) const;

  // The kept statement for `sql`, bound to `params` and ready to step.
  sqlite3_stmt* BoundStatement(const std::string& sql, const SqlParams& params);

  sqlite3* db_ = nullptr;
  std::map<std::string, sqlite3_stmt*> statements_;
  // Spellings read from the schema, by database, table and column.
  mutable std::map<std::string, std::string> spelledTypes_;
};

}  // namespace kelvanor
