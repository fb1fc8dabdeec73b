// A thin layer over the SQLite C library: one connection that runs single
// statements, and complete in-memory query results. Every failure raises
// ESQLiteException with a fixed English text.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
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

// Raises what the layer raises for SQLite's result `code` on `db`: an
// EDatabaseFailure with its German cause when the file or connection
// failed, else an ESQLiteException. For code that works on the raw handle.
[[noreturn]] void RaiseSqliteFailure(sqlite3* db, const std::string& message, int code);

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
  // A result read one row at a time as it is walked, for long results read
  // once from start to end: the same values and errors, a fraction of the
  // memory. The statement stays open until the table goes, so nothing may
  // write to the database meanwhile; Count() is unknown (-1).
  static std::unique_ptr<TSQLiteTable> Streamed(const TSQLiteDatabase& db, const std::string& sql);
  ~TSQLiteTable();
  TSQLiteTable(const TSQLiteTable&) = delete;
  TSQLiteTable& operator=(const TSQLiteTable&) = delete;

  int64_t Count() const { return stream_ != nullptr ? -1 : rowCount_; }
  bool IsEOF() const { return currentRow_ >= rowCount_; }
  bool Next();

  int FieldIndex(const std::string& name) const;
  std::string Fields(int index) const;
  std::string FieldByName(const std::string& name) const { return Fields(FieldIndex(name)); }
  std::string FieldAsString(int index) const;
  // The number Fields(index) reads as (TVariant's AsDouble of it), without
  // making the text for numeric columns. Raises like AsDouble.
  double FieldsAsNumber(int index) const;
  // Whether FieldAsString(index) is empty, without making the text.
  bool FieldIsEmpty(int index) const;
  int32_t FieldAsInteger(int index) const;
  double FieldAsDouble(int index) const;
  // The blob's bytes; nullopt for an empty cell.
  std::optional<std::string> FieldAsBlob(int index) const;
  std::string FieldAsBlobText(int index) const;

  int ColumnCount() const { return columnCount_; }
  int ColumnType(int index) const { return columnTypes_.at(static_cast<size_t>(index)); }
  const std::vector<std::string>& ColumnNames() const { return columnNames_; }

 private:
  // One value in 16 bytes; texts and blobs live in the table's TextStore.
  // An empty cell is a NULL (or a zero-length blob).
  struct Cell {
    enum Kind : uint8_t { kEmpty, kInteger, kReal, kBytes };
    union {
      int32_t integer;
      double real;
      uint64_t bytes;  // handle into texts_
    };
    uint32_t length = 0;
    Kind kind = kEmpty;
  };

  // The bytes of a result's texts in large blocks, not one allocation each.
  class TextStore {
   public:
    uint64_t Add(const char* data, std::size_t size);
    std::string Get(uint64_t handle, uint32_t size) const;
    void Clear() { blocks_.clear(); }

   private:
    static constexpr std::size_t kBlockSize = 64 * 1024;
    std::vector<std::string> blocks_;
  };

  const Cell& CellAt(int index) const;
  // The value of column `c` of the statement's current row.
  Cell ReadCell(sqlite3_stmt* stmt, int c, TextStore& texts) const;
  std::string TextOf(const Cell& cell) const { return texts_.Get(cell.bytes, cell.length); }
  void CheckNotEof() const;

  // A deque, not a vector: a long result grows block by block instead of
  // being copied into twice the room at every doubling.
  // Mutable for a streamed result, which reads a row's values when asked.
  mutable std::deque<Cell> results_;
  mutable TextStore texts_;
  mutable std::vector<bool> streamLoaded_;
  mutable std::unordered_map<std::string, int> indexByName_;
  int64_t rowCount_ = 0;
  int columnCount_ = 0;
  TSQLiteTable() = default;
  void ReadRows(const TSQLiteDatabase& db, sqlite3_stmt* stmt, const std::string& sql,
                bool kept);
  // The names and types of the columns, from the first row.
  void ReadColumns(const TSQLiteDatabase& db, sqlite3_stmt* stmt, bool kept);
  // Appends the current row of `stmt` to the results.
  void AppendRow(sqlite3_stmt* stmt);
  // Streaming: reads the next row in place of the current one.
  void StepStream();

  const TSQLiteDatabase* streamDb_ = nullptr;
  sqlite3_stmt* stream_ = nullptr;
  std::string streamSql_;

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

  // The column names (upper-cased) and types a kept statement's first result
  // showed, so later results of it skip reading the schema again. A type of
  // kTypeByValue follows each result's first row (expression columns).
  struct ColumnLayout {
    std::vector<std::string> names;
    std::vector<int> types;
  };
  static constexpr int kTypeByValue = -1;
  const ColumnLayout* KeptLayout(sqlite3_stmt* stmt) const;
  void KeepLayout(sqlite3_stmt* stmt, ColumnLayout layout) const;
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
  mutable std::map<sqlite3_stmt*, ColumnLayout> layouts_;
  // Spellings read from the schema, by database, table and column.
  mutable std::map<std::string, std::string> spelledTypes_;
};

}  // namespace kelvanor
