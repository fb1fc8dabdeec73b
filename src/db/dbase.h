// TDBase: the one object through which the tool reads and writes the host
// application's database. Ids of new records come from the host's counter
// table _tblOffsets, not from SQLite's rowid.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

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
  // Total rows while not at the end, 0 once Eof is true.
  int64_t RowCount() const;
  // The text form of the column (NULL in a numeric column gives "0").
  TVariant FieldAsVariant(const std::string& column) const;
  // The column's text; a NULL of any type gives "".
  std::string FieldAsString(const std::string& column) const;

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

  // Raises ESQLiteException on errors; a closed database gives an empty result.
  std::unique_ptr<TDBTable> Query(const std::string& sql);
  // False on any failure (and when closed); nothing is reported.
  bool Execute(const std::string& sql);
  int32_t LastInsertId() const;

  // Runs one INSERT and gives the new row the next id of `table` from
  // _tblOffsets. Nests inside an open transaction (savepoint). When the INSERT
  // fails nothing is given an id, the counter stays, and the result is 0.
  int32_t InsertRecord(const std::string& insertSql, const std::string& table,
                       const std::string& idColumn);

  // Runs `block` as one transaction: committed when it returns, rolled back
  // when it throws (the exception passes on). Nests as a savepoint when a
  // transaction is already open.
  void RunInTransaction(const std::function<void()>& block);

  // Direct access for the few callers that need the connection itself.
  TSQLiteDatabase* Connection() const { return connection_.get(); }

 private:
  int32_t AllocateId(const std::string& table);

  std::string fileName_;
  std::unique_ptr<TSQLiteDatabase> connection_;
  bool closed_ = true;
  int savepointDepth_ = 0;
};

}  // namespace kelvanor
