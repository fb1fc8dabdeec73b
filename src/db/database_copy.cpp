#include "db/database_copy.h"

#include <sqlite3.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "db/sql.h"
#include "db/sqlite_database.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/sha256.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// SQLite's reason in the user's words where we know them.
std::string Reason(int code, const char* words) {
  switch (code & 0xFF) {
    case SQLITE_FULL: return W1252("kein Platz mehr auf dem Datenträger");
    case SQLITE_CANTOPEN:
    case SQLITE_PERM:
    case SQLITE_READONLY: return W1252("kein Schreibrecht oder der Ordner fehlt");
    case SQLITE_IOERR: return W1252("Schreibfehler auf dem Datenträger");
    case SQLITE_BUSY:
    case SQLITE_LOCKED: return W1252("die Datenbank ist gerade gesperrt");
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT: return W1252("keine gültige Datenbank");
    default: return words != nullptr ? words : "SQLite " + std::to_string(code);
  }
}

// Runs the online backup from `source` into `target` to its end, in one
// step, so the target changes in one transaction. Returns SQLite's result.
int Backup(sqlite3* target, sqlite3* source) {
  sqlite3_backup* backup = sqlite3_backup_init(target, "main", source, "main");
  if (backup == nullptr) return sqlite3_errcode(target);
  int rc = SQLITE_OK;
  // A reader of the source (the host program) may hold it a moment.
  for (int tries = 0; tries < 100; ++tries) {
    rc = sqlite3_backup_step(backup, -1);
    if (rc != SQLITE_BUSY && rc != SQLITE_LOCKED) break;
    sqlite3_sleep(50);
  }
  const int finished = sqlite3_backup_finish(backup);
  return rc == SQLITE_DONE ? finished : rc;
}

// A database file opened for the backup; closed whatever happens.
struct BackupHandle {
  sqlite3* db = nullptr;
  ~BackupHandle() {
    if (db != nullptr) sqlite3_close(db);
  }
};

// PRAGMA quick_check's verdict on an open database.
bool LooksSound(sqlite3* db) {
  sqlite3_stmt* check = nullptr;
  bool sound = false;
  if (sqlite3_prepare_v2(db, "PRAGMA quick_check", -1, &check, nullptr) == SQLITE_OK &&
      sqlite3_step(check) == SQLITE_ROW) {
    const unsigned char* verdict = sqlite3_column_text(check, 0);
    sound = verdict != nullptr && std::string(reinterpret_cast<const char*>(verdict)) == "ok";
  }
  sqlite3_finalize(check);
  return sound;
}

}  // namespace

void CopyDatabaseTo(TDBase& db, const std::string& path) {
  const std::string temp = path + ".part";
  const auto fail = [&](const std::string& reason) {
    std::error_code ignored;
    std::filesystem::remove(SystemPath(temp), ignored);
    std::filesystem::remove(SystemPath(temp + "-journal"), ignored);
    throw EInOutError(W1252("Der Wiederherstellungspunkt ") + path +
                      W1252(" kann nicht angelegt werden: ") + reason + ".");
  };
  if (KindOfEntry(SystemPath(path)) != EntryKind::kMissing) {
    fail(W1252("an seiner Stelle steht schon etwas"));
  }
  {
    BackupHandle target;
    const int opened =
        sqlite3_open_v2(AnsiToUtf8Name(temp).c_str(), &target.db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOFOLLOW, nullptr);
    if (opened != SQLITE_OK) fail(Reason(opened, nullptr));
    sqlite3_busy_timeout(target.db, TSQLiteDatabase::kBusyTimeoutMs);
    // On the disk when the backup returns: the import starts after it.
    sqlite3_exec(target.db, "PRAGMA synchronous=FULL", nullptr, nullptr, nullptr);
    const int copied = Backup(target.db, db.Handle());
    if (copied != SQLITE_OK) fail(Reason(copied, sqlite3_errmsg(target.db)));
    // A practice in WAL mode gives the copy its mode: the copy's content must
    // stand in the file itself, not in a log beside it.
    sqlite3_exec(target.db, "PRAGMA journal_mode=DELETE", nullptr, nullptr, nullptr);
  }
  std::FILE* file = OpenFile(temp, "rb+");
  const bool flushed = file != nullptr && FlushToDisk(file);
  if (file != nullptr) std::fclose(file);
  if (!flushed) fail(W1252("die Kopie lässt sich nicht auf den Datenträger schreiben"));
  std::error_code renamed;
  std::filesystem::rename(SystemPath(temp), SystemPath(path), renamed);
  if (renamed) fail(Utf8ToCp1252(renamed.message()));
  if (!FlushFolderToDisk(ExtractFilePath(path))) {
    std::error_code ignored;
    std::filesystem::remove(SystemPath(path), ignored);
    fail(W1252("der Ordner lässt sich nicht auf den Datenträger schreiben"));
  }
}

void RestoreDatabaseFrom(TDBase& db, const std::string& path) {
  if (KindOfEntry(SystemPath(path)) != EntryKind::kFile) {
    throw EInOutError(W1252("Der Wiederherstellungspunkt ") + path +
                      W1252(" fehlt oder ist keine Datei."));
  }
  BackupHandle source;
  const int opened = sqlite3_open_v2(AnsiToUtf8Name(path).c_str(), &source.db,
                                     SQLITE_OPEN_READONLY | SQLITE_OPEN_NOFOLLOW, nullptr);
  // A damaged copy must not become the practice.
  if (opened != SQLITE_OK || !LooksSound(source.db)) {
    throw EInOutError(W1252("Der Wiederherstellungspunkt ") + path +
                      W1252(" ist beschädigt oder keine Datenbank; die Praxis-Datenbank bleibt, "
                            "wie sie ist."));
  }
  db.Execute("PRAGMA synchronous=FULL");
  const int restored = Backup(db.Handle(), source.db);
  db.Execute("PRAGMA synchronous=NORMAL");
  if (restored != SQLITE_OK) {
    throw EDatabaseFailure(sqlite3_errmsg(db.Handle()), restored,
                           W1252("Die Praxis-Datenbank konnte nicht zurückgesetzt werden (") +
                               Reason(restored, sqlite3_errmsg(db.Handle())) +
                               W1252("); sie ist unverändert."),
                           "");
  }
}

namespace {

// A statement on the raw handle, finalized however its use ends.
class RawStatement {
 public:
  RawStatement(sqlite3* db, const std::string& sql) : db_(db) {
    const int prepared = sqlite3_prepare_v2(db, sql.c_str(), -1, &stmt_, nullptr);
    if (prepared != SQLITE_OK) RaiseSqliteFailure(db, "prepare \"" + sql + "\"", prepared);
  }
  ~RawStatement() { sqlite3_finalize(stmt_); }
  RawStatement(const RawStatement&) = delete;
  RawStatement& operator=(const RawStatement&) = delete;
  // False past the last row.
  bool Step() {
    const int stepped = sqlite3_step(stmt_);
    if (stepped == SQLITE_ROW) return true;
    if (stepped == SQLITE_DONE) return false;
    RaiseSqliteFailure(db_, "step", stepped);
  }
  sqlite3_stmt* Get() const { return stmt_; }

 private:
  sqlite3* db_;
  sqlite3_stmt* stmt_ = nullptr;
};

std::string QuotedName(const std::string& name) {
  return "\"" + ReplaceAll(name, "\"", "\"\"") + "\"";
}

// One value into the hash with its storage class and length, so no two
// different rows give the same bytes: an integer and the text of its
// digits differ, and so do "a", "b" and "a;b". Numbers as their bytes
// (little-endian), which is what the file holds, not a formatting of them.
void AddValue(Sha256& hash, sqlite3_stmt* row, int column) {
  const int type = sqlite3_column_type(row, column);
  unsigned char head[9] = {static_cast<unsigned char>(type)};
  std::size_t headSize = 1;
  auto put64 = [&](uint64_t value) {
    for (int i = 0; i < 8; ++i) head[1 + i] = static_cast<unsigned char>(value >> (8 * i));
    headSize = 9;
  };
  switch (type) {
    case SQLITE_INTEGER:
      put64(static_cast<uint64_t>(sqlite3_column_int64(row, column)));
      hash.Add(head, headSize);
      return;
    case SQLITE_FLOAT: {
      const double value = sqlite3_column_double(row, column);
      uint64_t bits = 0;
      std::memcpy(&bits, &value, sizeof bits);
      put64(bits);
      hash.Add(head, headSize);
      return;
    }
    case SQLITE_TEXT:
    case SQLITE_BLOB: {
      // The bytes as stored (the pointer first, then the size SQLite gives).
      const void* bytes = type == SQLITE_TEXT
                              ? static_cast<const void*>(sqlite3_column_text(row, column))
                              : sqlite3_column_blob(row, column);
      const int size = sqlite3_column_bytes(row, column);
      put64(static_cast<uint64_t>(size));
      hash.Add(head, headSize);
      if (size > 0) hash.Add(bytes, static_cast<std::size_t>(size));
      return;
    }
    default:  // NULL
      hash.Add(head, headSize);
      return;
  }
}

}  // namespace

std::string ContentFingerprint(TDBase& db) {
  sqlite3* handle = db.Handle();
  if (handle == nullptr) RaiseSqliteFailure(nullptr, "database closed", SQLITE_MISUSE);
  // Inside an import the id counters are stepped in memory until the commit;
  // the fingerprint is of what the commit leaves.
  if (sqlite3_get_autocommit(handle) == 0) db.WriteCounters();
  Sha256 hash;
  std::vector<std::string> tables;
  {
    RawStatement schema(handle,
                        "SELECT type, name, sql FROM sqlite_master ORDER BY type, name");
    while (schema.Step()) {
      for (int column = 0; column < 3; ++column) AddValue(hash, schema.Get(), column);
      const char* type = reinterpret_cast<const char*>(sqlite3_column_text(schema.Get(), 0));
      const char* name = reinterpret_cast<const char*>(sqlite3_column_text(schema.Get(), 1));
      if (type != nullptr && name != nullptr && std::strcmp(type, "table") == 0 &&
          std::strncmp(name, "sqlite_", 7) != 0) {
        tables.emplace_back(name);
      }
    }
  }
  // Every row in rowid order, read straight off SQLite's own interface: a
  // practice of tens of thousands of rows is hashed in a fraction of the
  // time formatting each value as text would take, and nothing is held. A
  // table without rowid in the order of its key.
  for (const std::string& table : tables) {
    const std::string name = QuotedName(table);
    std::unique_ptr<RawStatement> rows;
    try {
      rows = std::make_unique<RawStatement>(handle, "SELECT * FROM " + name + " ORDER BY rowid");
    } catch (const EDatabaseFailure&) {
      throw;
    } catch (const ESQLiteException&) {
      rows = std::make_unique<RawStatement>(handle, "SELECT * FROM " + name);
    }
    hash.Add("\x1D" + table);
    const int columns = sqlite3_column_count(rows->Get());
    while (rows->Step()) {
      hash.Add("\x1E", 1);
      for (int column = 0; column < columns; ++column) AddValue(hash, rows->Get(), column);
    }
  }
  return hash.HexDigest();
}

}  // namespace kelvanor
