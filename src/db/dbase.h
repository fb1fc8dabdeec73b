// TDBase: the one object through which the tool reads and writes the host
// application's database. Ids of new records come from the host's counter
// table _tblOffsets, not from SQLite's rowid.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "db/sql.h"
#include "db/sqlite_database.h"
#include "db/variant.h"

namespace kelvanor {

// The result of one query, read forward row by row. Holds its own copy of the
// rows. A result made while the database was closed has no rows.
class TDBTable {
 public:
  explicit TDBTable(std::unique_ptr<TSQLiteTable> table);  // null table = no data

  bool Eof() const;
  bool Next();
  // Total rows while not at the end, 0 once Eof is true; -1 for a streamed
  // result that is not at its end.
  int64_t RowCount() const;
  // The text form of the column (NULL in a numeric column gives "0").
  TVariant FieldAsVariant(const std::string& column) const;
  // The column's text; a NULL of any type gives "".
  std::string FieldAsString(const std::string& column) const;
  // FieldAsVariant(column).AsDouble(), for numeric columns without the text.
  double FieldAsNumber(const std::string& column) const;
  // Whether FieldAsString(column) is empty, without making the text.
  bool FieldIsEmpty(const std::string& column) const;

 private:
  std::unique_ptr<TSQLiteTable> table_;
};

class TDBase {
 public:
  // Raises EAssertionFailed "Datenbank-Datei nicht gefunden! (...)" when the
  // file does not exist (the layer never creates a database), and
  // ESQLiteException when it cannot be opened.
  explicit TDBase(const std::string& fileName);
  ~TDBase();
  TDBase(const TDBase&) = delete;
  TDBase& operator=(const TDBase&) = delete;

  const std::string& FileName() const { return fileName_; }
  bool IsClosed() const { return closed_; }
  void Close();
  // Closes the connection and opens the file of the name again: a file the
  // office put back or replaced meanwhile (the host's own backup, a copy) is
  // then the one written, not the old one the connection still held. Raises
  // as the constructor does; the database is then closed.
  void Reopen();

  // Raises ESQLiteException on errors; a closed database gives an empty result.
  std::unique_ptr<TDBTable> Query(const std::string& sql);
  // The same result read row by row as it is walked (see
  // TSQLiteTable::Streamed): for long reads that write nothing meanwhile.
  // Its RowCount is unknown (-1).
  std::unique_ptr<TDBTable> QueryStreamed(const std::string& sql);
  // False when the database refuses the statement (and when closed); the
  // reason is kept for LastError. A failure of the file or the connection is
  // never a plain false: it raises EDatabaseFailure, so nobody reports as
  // written what was not.
  bool Execute(const std::string& sql);
  int32_t LastInsertId() const;
  // Rows changed by the last statement that ran.
  int Changes() const;

  // Runs one INSERT and gives the new row the next id of `table` from
  // _tblOffsets. Nests inside an open transaction (savepoint). When the INSERT
  // is refused nothing is given an id, the counter stays, and the result is 0
  // (LastError says why); a failure of the file or connection raises
  // EDatabaseFailure after undoing what the call began.
  int32_t InsertRecord(const std::string& insertSql, const std::string& table,
                       const std::string& idColumn);

  // The same two for writes that must not fail quietly: a refused statement
  // raises ERecordRefused with the database's reason.
  void ExecuteChecked(const std::string& sql);
  int32_t InsertRecordChecked(const std::string& insertSql, const std::string& table,
                              const std::string& idColumn);

  // The same with the values bound to parameters ?1, ?2 ... instead of
  // written into the text: the statement is prepared once and reused (see
  // ClearStatementCache), and what is stored is exactly what the values
  // written as literals would store.
  bool ExecuteBound(const std::string& sql, const SqlParams& params);
  void ExecuteBoundChecked(const std::string& sql, const SqlParams& params);
  // InsertRecord for a row given as columns and values: the same row, id and
  // counter. The id goes in with the row (one write instead of an INSERT and
  // an UPDATE), and inside a transaction no savepoint is needed, since a
  // refused INSERT changes nothing and the counter moves only after it.
  int32_t InsertRecordBound(const std::string& table, const std::vector<std::string>& columns,
                            const SqlParams& values, const std::string& idColumn);
  int32_t InsertRecordBoundChecked(const std::string& table,
                                   const std::vector<std::string>& columns,
                                   const SqlParams& values, const std::string& idColumn);
  std::unique_ptr<TDBTable> QueryBound(const std::string& sql, const SqlParams& params);
  // Finalizes the statements kept for reuse; a run calls it when it ends.
  void ClearStatementCache();

  // The open connection's handle, for what only SQLite's own interface does
  // (the online backup of database_copy.h); null when closed.
  sqlite3* Handle() const;

  // Why the last Execute or InsertRecord was refused ("" after a success).
  const std::string& LastError() const { return lastError_; }

  // Runs `block` as one transaction: committed when it returns, rolled back
  // when it throws (the exception passes on). Nests as a savepoint when a
  // transaction is already open.
  void RunInTransaction(const std::function<void()>& block);

  // Writes the host's id counters this transaction stepped into the file.
  // Done before every commit; whoever reads the whole file inside the
  // transaction (its fingerprint) calls it first. Raises ERecordRefused when
  // a counter cannot be written, EDatabaseFailure when the file fails.
  void WriteCounters();


 private:
  int32_t AllocateId(const std::string& table);
  // The two halves of AllocateId: the id the next record gets, and moving
  // the counter past it.
  int32_t NextId(const std::string& lowerName);
  bool StepCounter(const std::string& lowerName, int32_t id);
  // Forgets the counter rows and values of the transaction that ended.
  void ForgetCounters();
  bool HasUnwrittenCounters() const;
  // A savepoint opens: the counters as they stand are kept for it. It ends:
  // rolled back, the kept values return; released, they are dropped.
  void MarkCounters();
  void DropCounterMark(bool rolledBack);
  // The rowid of the single counter row of a table (lower-case name) while a
  // transaction is open; empty when there is none, several, or no transaction.
  const std::vector<int64_t>& CounterRows(const std::string& lowerName);
  // Runs one statement through `run` with Execute's contract: false (and
  // LastError) when it is refused, EDatabaseFailure when the file fails.
  bool ExecuteWith(const std::function<void()>& run);
  // InsertRecord around an INSERT run by `insert` (Execute's contract).
  int32_t InsertRecordWith(const std::function<bool()>& insert, const std::string& table,
                           const std::string& idColumn);
  // Runs a statement whose failure must not hide the first one (undoing a
  // savepoint or transaction after an error); its own failure is dropped.
  void ExecuteQuietly(const std::string& sql) noexcept;

  void Open(const std::string& fileName);

  std::string fileName_;
  std::unique_ptr<TSQLiteDatabase> connection_;
  bool closed_ = true;
  int savepointDepth_ = 0;
  std::string lastError_;
  std::map<std::string, std::vector<int64_t>> counterRows_;  // see CounterRows
  // A counter of this transaction: its row in _tblOffsets, the last id given
  // and the value the file holds.
  struct CounterState {
    int64_t row;
    int64_t value;
    int64_t written;
  };
  std::vector<CounterState> counters_;                 // see NextId
  std::vector<std::vector<CounterState>> counterMarks_;  // one per open savepoint
};

// A statement the database refused for its own row (a constraint, a missing
// column): the row is not written, but the connection is fine.
class ERecordRefused : public Exception {
 public:
  using Exception::Exception;
};

}  // namespace kelvanor
