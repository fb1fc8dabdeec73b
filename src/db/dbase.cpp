#include "db/dbase.h"

#include <sqlite3.h>

#include "util/encoding.h"
#include "util/files.h"
#include "util/text.h"

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

std::string TDBTable::FieldAsString(const std::string& column) const {
  if (table_ == nullptr) throw ESQLiteException("Table is at End of File");
  return table_->FieldAsString(table_->FieldIndex(column));
}

// ---- TDBase ----

TDBase::TDBase(const std::string& fileName) {
  if (!FileExistsOnDisk(fileName)) {
    throw EAssertionFailed("Datenbank-Datei nicht gefunden! (uDB.cpp, Zeile " +
                           std::to_string(__LINE__) + ")");
  }
  fileName_ = fileName;
  connection_ = std::make_unique<TSQLiteDatabase>(fileName);
  closed_ = false;
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

std::unique_ptr<TDBTable> TDBase::Query(const std::string& sql) {
  if (closed_) return std::make_unique<TDBTable>(nullptr);
  return std::make_unique<TDBTable>(connection_->GetTable(sql));
}

bool TDBase::Execute(const std::string& sql) {
  if (closed_) return false;
  try {
    connection_->ExecSQL(sql);
    return true;
  } catch (...) {
    return false;
  }
}

int32_t TDBase::LastInsertId() const {
  return closed_ ? 0 : connection_->GetLastInsertRowID();
}

int32_t TDBase::AllocateId(const std::string& table) {
  const std::string name = AsciiLowerCase(table);
  if (!IsPlainName(name)) return 0;
  int32_t id = 1;
  {
    auto row = Query("SELECT idMax FROM \"_tblOffsets\" WHERE LOWER(tbl)='" + name +
                     "' ORDER BY idMax DESC LIMIT 1;");
    if (!row->Eof()) id = static_cast<int32_t>(row->FieldAsVariant("idMax").AsInteger() + 1);
  }
  Execute("UPDATE \"_tblOffsets\" SET idMax=idMax+1 WHERE LOWER(tbl)='" + name + "';");
  return id;
}

int32_t TDBase::InsertRecord(const std::string& insertSql, const std::string& table,
                             const std::string& idColumn) {
  if (closed_) return 0;
  // A savepoint, not BEGIN: the insert then nests inside an import's transaction.
  const bool outermost = sqlite3_get_autocommit(connection_->Handle()) != 0;
  const std::string savepoint = "insert_record_" + std::to_string(savepointDepth_);
  if (!Execute("SAVEPOINT " + savepoint + ";")) return 0;
  ++savepointDepth_;
  // Undoes the INSERT and the counter step together. Outside a transaction a
  // plain ROLLBACK also ends the transaction the savepoint opened, even when
  // its commit was what failed.
  auto abandon = [&] {
    if (outermost) {
      Execute("ROLLBACK;");
    } else {
      Execute("ROLLBACK TO " + savepoint + ";");
      Execute("RELEASE " + savepoint + ";");
    }
    --savepointDepth_;
  };
  // A failed INSERT must give no row an id and leave the counter alone: the
  // last rowid would then belong to an earlier row.
  if (!Execute(insertSql) || connection_->Changes() < 1) {
    abandon();
    return 0;
  }
  // The full rowid, not the 32-bit LastInsertId: a wrapped value could name
  // another row.
  const int64_t rowid = sqlite3_last_insert_rowid(connection_->Handle());
  int32_t id = 0;
  try {
    id = AllocateId(table);
  } catch (...) {
    abandon();
    throw;
  }
  // A row left without its id would read as the placeholder row 0.
  if (id == 0 ||
      !Execute("UPDATE " + table + " SET " + idColumn + "=" + std::to_string(id) +
               " WHERE rowid=" + std::to_string(rowid) + ";") ||
      connection_->Changes() != 1) {
    abandon();
    return 0;
  }
  if (!Execute("RELEASE " + savepoint + ";")) {
    abandon();
    return 0;
  }
  --savepointDepth_;
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
  connection_->ExecSQL(outer ? "BEGIN IMMEDIATE;" : "SAVEPOINT " + savepoint + ";");
  ++savepointDepth_;
  auto rollback = [&] {
    --savepointDepth_;
    if (closed_) return;  // closing the connection already rolled back
    if (outer) {
      Execute("ROLLBACK;");
    } else {
      Execute("ROLLBACK TO " + savepoint + ";");
      Execute("RELEASE " + savepoint + ";");
    }
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
    connection_->ExecSQL(outer ? std::string("COMMIT;") : "RELEASE " + savepoint + ";");
  } catch (...) {
    rollback();
    throw;
  }
  --savepointDepth_;
}

}  // namespace kelvanor
