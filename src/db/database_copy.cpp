#include "db/database_copy.h"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>
#include <vector>

#include "db/sql.h"
#include "db/sqlite_database.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "util/errors.h"
#include "util/sha256.h"
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

std::string ContentFingerprint(TDBase& db) {
  Sha256 hash;
  std::vector<std::string> tables;
  for (auto rows = db.Query("SELECT type, name, tbl_name, sql FROM sqlite_master "
                            "ORDER BY type, name");
       !rows->Eof(); rows->Next()) {
    hash.Add(rows->FieldAsString("type") + '\x1F' + rows->FieldAsString("name") + '\x1F' +
             rows->FieldAsString("sql") + '\x1E');
    const std::string name = rows->FieldAsString("name");
    if (rows->FieldAsString("type") == "table" && name.rfind("sqlite_", 0) != 0) {
      tables.push_back(name);
    }
  }
  for (const std::string& table : tables) {
    std::string quoted;
    for (auto columns = db.QueryBound("SELECT name FROM pragma_table_info(?1)",
                                      {SqlParam::Text(table)});
         !columns->Eof();
         columns->Next()) {
      const std::string column = columns->FieldAsString("name");
      std::string escaped;
      for (const char c : column) escaped += c == '"' ? std::string("\"\"") : std::string(1, c);
      quoted += (quoted.empty() ? "" : "||char(31)||") + std::string("quote(\"") + escaped + "\")";
    }
    if (quoted.empty()) continue;
    hash.Add("\x1D" + table);
    std::string name;
    for (const char c : table) name += c == '"' ? std::string("\"\"") : std::string(1, c);
    // Streamed: a practice of thousands of rows is read once, not held. Rows
    // in rowid order; a table without rowid in the order of its content.
    auto rows = [&] {
      try {
        return db.QueryStreamed("SELECT " + quoted + " AS r FROM \"" + name + "\" ORDER BY rowid");
      } catch (const EDatabaseFailure&) {
        throw;
      } catch (const ESQLiteException&) {
        return db.QueryStreamed("SELECT " + quoted + " AS r FROM \"" + name + "\" ORDER BY r");
      }
    }();
    for (; !rows->Eof(); rows->Next()) {
      hash.Add(rows->FieldAsString("r"));
      hash.Add("\x1E", 1);
    }
  }
  return hash.HexDigest();
}

}  // namespace kelvanor
