#include "import/import_journal.h"

#include "db/sql.h"
#include "util/encoding.h"
#include "platform/file_system.h"

namespace kelvanor {

namespace {

constexpr char kSchema[] = "kelvanor_journal";

// Lines are kept byte for byte, NUL bytes and all, as hex text.
std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

void Attach(TDBase& db, const std::string& path) {
  // The practice's connection never creates files; an empty file is an
  // empty database to SQLite.
  if (!FileExists(path)) WriteFileAtomically(path, std::string());
  db.ExecuteChecked("ATTACH DATABASE " + SqlString(AnsiToUtf8Name(path)) + " AS " + kSchema);
}

void Detach(TDBase& db) { db.Execute(std::string("DETACH DATABASE ") + kSchema); }

// Whatever keeps the journal from being used is a failure of the run: the
// user must learn which file is the trouble.
[[noreturn]] void RaiseJournalFailure(const std::string& path, const std::exception& cause) {
  const int code = [&] {
    if (const auto* sqlite = dynamic_cast<const ESQLiteException*>(&cause)) return sqlite->Code();
    return 0;
  }();
  std::string reason = cause.what();
  if (const auto* failure = dynamic_cast<const EDatabaseFailure*>(&cause)) {
    reason = failure->UserMessage();
  }
  throw EDatabaseFailure(cause.what(), code,
                         "Das Importjournal " + path + " kann nicht benutzt werden: " + reason, "");
}

void CreateTables(TDBase& db) {
  const std::string schema = kSchema;
  db.ExecuteChecked("CREATE TABLE IF NOT EXISTS " + schema +
                    ".imported_line (file TEXT NOT NULL, line_hex TEXT NOT NULL, "
                    "occurrence INTEGER NOT NULL, PRIMARY KEY (file, line_hex, occurrence))");
  db.ExecuteChecked("CREATE TABLE IF NOT EXISTS " + schema +
                    ".id_map (seq INTEGER PRIMARY KEY, table_key TEXT NOT NULL, "
                    "mobile_id INTEGER NOT NULL, db_id INTEGER NOT NULL)");
}

}  // namespace

ImportJournal::ImportJournal(TDBase& db, const std::string& path) : db_(db) {
  try {
    Attach(db_, path);
  } catch (const std::exception& e) {
    RaiseJournalFailure(path, e);
  }
  try {
    CreateTables(db_);
    for (auto rows = db_.Query(std::string("SELECT file, line_hex, occurrence FROM ") + kSchema +
                               ".imported_line");
         !rows->Eof(); rows->Next()) {
      lines_.insert(rows->FieldAsString("file") + '\n' + rows->FieldAsString("line_hex") + '\n' +
                    rows->FieldAsString("occurrence"));
    }
    for (auto rows = db_.Query(std::string("SELECT table_key, mobile_id, db_id FROM ") + kSchema +
                               ".id_map ORDER BY seq");
         !rows->Eof(); rows->Next()) {
      idMapEntries_.push_back({rows->FieldAsString("table_key"),
                               static_cast<int32_t>(rows->FieldAsVariant("mobile_id").AsInteger()),
                               static_cast<int32_t>(rows->FieldAsVariant("db_id").AsInteger())});
    }
  } catch (const std::exception& e) {
    Detach(db_);
    RaiseJournalFailure(path, e);
  }
}

ImportJournal::~ImportJournal() {
  // Kept statements of the journal would hold it attached.
  db_.ClearStatementCache();
  Detach(db_);
}

std::string ImportJournal::Key(const std::string& file, const std::string& line,
                               std::size_t occurrence) {
  return file + '\n' + Hex(line) + '\n' + std::to_string(occurrence);
}

bool ImportJournal::Contains(const std::string& file, const std::string& line,
                             std::size_t occurrence) const {
  return lines_.count(Key(file, line, occurrence)) > 0;
}

void ImportJournal::RecordLine(const std::string& file, const std::string& line,
                               std::size_t occurrence) {
  db_.ExecuteBoundChecked(std::string("INSERT OR IGNORE INTO ") + kSchema +
                              ".imported_line (file, line_hex, occurrence) VALUES (?1, ?2, ?3)",
                          {SqlParam::Text(file), SqlParam::Text(Hex(line)),
                           SqlParam::Integer(static_cast<int64_t>(occurrence))});
}

void ImportJournal::RecordIdMapEntry(const IdMapEntry& entry) {
  db_.ExecuteBoundChecked(std::string("INSERT INTO ") + kSchema +
                              ".id_map (table_key, mobile_id, db_id) VALUES (?1, ?2, ?3)",
                          {SqlParam::Text(entry.tableKey), SqlParam::Integer(entry.mobileId),
                           SqlParam::Integer(entry.dbId)});
}

void ImportJournal::Clear(TDBase& db, const std::string& path) {
  if (!FileExists(path)) return;
  ImportJournal journal(db, path);
  // Together or not at all: id-map entries left without their lines would
  // resolve a later run's mobile ids to records of an old one.
  db.RunInTransaction([&] {
    db.ExecuteChecked(std::string("DELETE FROM ") + kSchema + ".imported_line");
    db.ExecuteChecked(std::string("DELETE FROM ") + kSchema + ".id_map");
  });
}

}  // namespace kelvanor
