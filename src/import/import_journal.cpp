#include "import/import_journal.h"

#include <map>
#include <unordered_map>

#include "db/sql.h"
#include "platform/file_system.h"
#include "util/encoding.h"
#include "import/received_data.h"
#include "util/exchange_files.h"
#include "util/text.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

// How many runs the server has dropped whole stay, for imports of backups.
constexpr int64_t kRunsKeptGone = 1000;

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

std::string Unhex(const std::string& hex) {
  auto value = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 0;
  };
  std::string bytes;
  bytes.reserve(hex.size() / 2);
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes += static_cast<char>(value(hex[i]) * 16 + value(hex[i + 1]));
  }
  return bytes;
}

// A line as the journal keeps it.
struct JournalLine {
  std::string file;
  std::string hex;
  int64_t occurrence = 0;
  std::string key;
};

// A moment (day number) in whole milliseconds, and any other value as SQL
// quotes it: texts both versions of the tool and of SQLite write alike, so
// a run's records are recognised after an update too.
std::string Moment(const std::string& column) {
  return "ifnull(CAST(round(" + column + "*86400000) AS INTEGER),'')";
}
std::string Plain(const std::string& column) { return "quote(" + column + ")"; }
std::string Joined(const std::vector<std::string>& parts) {
  std::string sql;
  for (const std::string& part : parts) sql += (sql.empty() ? "" : "||'|'||") + part;
  return sql;
}

// The tables an import creates records in, and what tells a record of a run
// from any other with the same id (a restored database gives the ids of the
// run's records to the office's next ones): what the run wrote and nobody
// changes. Stamped kinds carry the moment of the run and "MOB", which no
// other record has; the links only their references.
struct WitnessKind {
  std::string table;
  std::string idColumn;
  std::string fingerprint;  // an SQL expression over the row
  bool stamped;
};

const std::vector<WitnessKind>& WitnessKinds() {
  static const std::vector<WitnessKind> kinds = [] {
    const std::string created = Joined({Moment("erstelltam"), Plain("erstelltvon")});
    std::vector<WitnessKind> list;
    for (const char* table : {"besitzer", "stall", "pferd", "termine", "artikel", "leistungen",
                              "auftrag", "kasse"}) {
      list.push_back({table, "id", created, true});
    }
    list.push_back({"papierkorb", "id",
                    Joined({Moment("loeschdatum"), Plain("name"), Plain("tabelle"),
                            Plain("[index]")}),
                    true});
    list.push_back({"verbind", "id", Joined({Plain("pferdindex"), Plain("besitzerindex")}), false});
    // The stable of a horse may change; the horse of the link does not.
    list.push_back({"verbindstall", "id", Plain("pferdindex"), false});
    list.push_back({"verbindauftrag", "id",
                    Joined({Plain("auftragindex"), Plain("typ"), Plain("[index]")}), false});
    list.push_back({"vbauftragpferd", "nid",
                    Joined({Plain("nauftragindex"), Plain("npferdindex")}), false});
    list.push_back({"verbindbeschlag", "id",
                    Joined({Plain("pferdindex"), Plain("auftragindex"), Moment("datum")}), false});
    return list;
  }();
  return kinds;
}

const WitnessKind* WitnessKindOf(const std::string& table) {
  for (const WitnessKind& kind : WitnessKinds()) {
    if (kind.table == table) return &kind;
  }
  return nullptr;
}

// The table an id-map key names.
std::string TableOfKey(const std::string& tableKey) {
  if (tableKey == "termin") return "termine";
  if (tableKey == "leistung") return "leistungen";
  return tableKey;
}

// A query on a table the practice may lack (an older host version): no
// rows. A failure of the file or the connection still ends the run.
template <typename Work>
bool OnPracticeTable(Work work) {
  try {
    work();
    return true;
  } catch (const EDatabaseFailure&) {
    throw;
  } catch (const ESQLiteException&) {
    return false;
  }
}

struct Witness {
  std::string table;
  int64_t id = 0;
  std::string fingerprint;
};

bool Found(TDBase& db, const Witness& witness) {
  const WitnessKind* kind = WitnessKindOf(witness.table);
  if (kind == nullptr) return false;
  bool found = false;
  OnPracticeTable([&] {
    found = !db.QueryBound("SELECT 1 AS found FROM " + kind->table + " WHERE " + kind->idColumn +
                               "=?1 AND " + kind->fingerprint + "=?2 LIMIT 1",
                           {SqlParam::Integer(witness.id), SqlParam::Text(witness.fingerprint)})
                 ->Eof();
  });
  return found;
}

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

void CreateTables(TDBase& file) {
  file.ExecuteChecked("CREATE TABLE IF NOT EXISTS run (id INTEGER PRIMARY KEY, "
                      "trusted INTEGER NOT NULL DEFAULT 0)");
  file.ExecuteChecked("CREATE TABLE IF NOT EXISTS line (run INTEGER NOT NULL, file TEXT NOT NULL, "
                      "line_hex TEXT NOT NULL, occurrence INTEGER NOT NULL, "
                      "PRIMARY KEY (file, line_hex, occurrence))");
  file.ExecuteChecked("CREATE TABLE IF NOT EXISTS id_map (seq INTEGER PRIMARY KEY, "
                      "run INTEGER NOT NULL, table_key TEXT NOT NULL, mobile_id INTEGER NOT NULL, "
                      "db_id INTEGER NOT NULL)");
  file.ExecuteChecked("CREATE TABLE IF NOT EXISTS witness (run INTEGER NOT NULL, "
                      "tbl TEXT NOT NULL, id INTEGER NOT NULL, fingerprint TEXT NOT NULL)");
  file.ExecuteChecked("CREATE TABLE IF NOT EXISTS meta (name TEXT PRIMARY KEY, value INTEGER)");
  // Journals of earlier versions knew lines by their bytes alone; the keys
  // of what they hold are the same as if they had been kept from the start.
  bool keyed = false;
  for (auto rows = file.Query("PRAGMA table_info(line)"); !rows->Eof(); rows->Next()) {
    keyed = keyed || rows->FieldAsString("name") == "key";
  }
  if (keyed) return;
  file.RunInTransaction([&] {
    file.ExecuteChecked("ALTER TABLE line ADD COLUMN key TEXT NOT NULL DEFAULT ''");
    std::vector<std::pair<int64_t, std::string>> keys;
    for (auto rows = file.Query("SELECT rowid AS r, file, line_hex FROM line"); !rows->Eof();
         rows->Next()) {
      const std::string key =
          RecordKeyOf(rows->FieldAsString("file"), Unhex(rows->FieldAsString("line_hex")));
      if (!key.empty()) keys.emplace_back(rows->FieldAsVariant("r").AsInteger(), key);
    }
    for (const auto& [row, key] : keys) {
      file.ExecuteBoundChecked("UPDATE line SET key=?1 WHERE rowid=?2",
                               {SqlParam::Text(key), SqlParam::Integer(row)});
    }
  });
  file.ExecuteChecked("CREATE INDEX IF NOT EXISTS line_key ON line (file, key)");
}

// Lines the server no longer holds are kept, marked gone, for an import of
// a backup: its lines come again long after the server dropped them.
void AddGoneColumn(TDBase& file) {
  for (auto rows = file.Query("PRAGMA table_info(line)"); !rows->Eof(); rows->Next()) {
    if (rows->FieldAsString("name") == "gone") return;
  }
  file.ExecuteChecked("ALTER TABLE line ADD COLUMN gone INTEGER NOT NULL DEFAULT 0");
}

// Writes a run with its lines, id-map entries and witnesses, in one commit.
void InsertRun(TDBase& file, bool trusted, const std::vector<JournalLine>& lines,
               const std::vector<IdMapEntry>& idMap, const std::vector<Witness>& witnesses) {
  file.RunInTransaction([&] {
    file.ExecuteBoundChecked("INSERT INTO run (trusted) VALUES (?1)",
                             {SqlParam::Integer(trusted ? 1 : 0)});
    const int64_t run = file.LastInsertId();
    // A line an earlier run journaled and this one imported again (that run
    // no longer counted) belongs to this run now.
    for (const JournalLine& line : lines) {
      file.ExecuteBoundChecked(
          "INSERT OR REPLACE INTO line (run, file, line_hex, occurrence, key) "
          "VALUES (?1, ?2, ?3, ?4, ?5)",
          {SqlParam::Integer(run), SqlParam::Text(line.file), SqlParam::Text(line.hex),
           SqlParam::Integer(line.occurrence), SqlParam::Text(line.key)});
    }
    for (const IdMapEntry& entry : idMap) {
      file.ExecuteBoundChecked(
          "INSERT INTO id_map (run, table_key, mobile_id, db_id) VALUES (?1, ?2, ?3, ?4)",
          {SqlParam::Integer(run), SqlParam::Text(entry.tableKey), SqlParam::Integer(entry.mobileId),
           SqlParam::Integer(entry.dbId)});
    }
    for (const Witness& witness : witnesses) {
      file.ExecuteBoundChecked(
          "INSERT INTO witness (run, tbl, id, fingerprint) VALUES (?1, ?2, ?3, ?4)",
          {SqlParam::Integer(run), SqlParam::Text(witness.table), SqlParam::Integer(witness.id),
           SqlParam::Text(witness.fingerprint)});
    }
  });
}

}  // namespace

std::string RecordKeyOf(const std::string& file, const std::string& line) {
  const ExchangeFile* exchange = ExchangeFileByChangeFile(file);
  if (exchange == nullptr || !exchange->mergeLines) return std::string();
  const std::string key = FirstField(line);
  if (key.empty()) return std::string();
  switch (exchange->kind) {
    case FileKind::kOrders:
    case FileKind::kCashBook:
    case FileKind::kHoofReports:
      return key;
    default:
      return StartsWith(key, "N/") || StartsWith(key, "D/") ? key : std::string();
  }
}

ImportJournal::ImportJournal(const std::string& path, TDBase& db, JournalScope scope)
    : path_(path), scope_(scope) {
  OnFile([&] {
    // Read through a link, the journal would be another file than the one
    // beside this database, and written through it, a file elsewhere.
    if (KindOfEntry(SystemPath(path_)) == EntryKind::kLink) {
      throw EInOutError(W1252("An seiner Stelle steht eine Verknüpfung; Kelvanor folgt ihr "
                              "nicht. Bitte die Verknüpfung entfernen."));
    }
    // The practice's layer never creates a database file; an empty file is
    // an empty database to SQLite.
    if (!FileExists(path_)) WriteFileAtomically(path_, std::string());
    file_ = std::make_unique<TDBase>(path_);
    // A run is written before the practice commits it: it must be on the
    // disk by then. A rollback journal, since WAL needs shared memory a
    // network share does not give.
    file_->Query("PRAGMA journal_mode=DELETE");
    file_->ExecuteChecked("PRAGMA synchronous=FULL");
    CreateTables(*file_);
    AddGoneColumn(*file_);
  });
  KeepRunsFoundIn(db);
}

ImportJournal::~ImportJournal() = default;

void ImportJournal::OnFile(const std::function<void()>& work) {
  try {
    work();
  } catch (const std::exception& e) {
    RaiseJournalFailure(path_, e);
  }
}

void ImportJournal::KeepRunsFoundIn(TDBase& db) {
  std::map<int64_t, bool> trusted;
  std::map<int64_t, std::vector<Witness>> witnesses;
  OnFile([&] {
    for (auto rows = file_->Query("SELECT id, trusted FROM run"); !rows->Eof(); rows->Next()) {
      trusted[rows->FieldAsVariant("id").AsInteger()] = rows->FieldAsVariant("trusted").AsInteger() != 0;
    }
    for (auto rows = file_->Query("SELECT run, tbl, id, fingerprint FROM witness ORDER BY rowid");
         !rows->Eof(); rows->Next()) {
      witnesses[rows->FieldAsVariant("run").AsInteger()].push_back(
          {rows->FieldAsString("tbl"), rows->FieldAsVariant("id").AsInteger(),
           rows->FieldAsString("fingerprint")});
    }
  });
  std::vector<int64_t> absent;
  for (const auto& [run, isTrusted] : trusted) {
    const std::vector<Witness>& found = witnesses[run];
    if (found.empty()) {
      if (!isTrusted) absent.push_back(run);
      continue;
    }
    // A record with the run's moment is proof enough; a link's references
    // could by chance be the office's too, so they count only for a run
    // that wrote nothing with a moment.
    bool stamped = false;
    for (const Witness& witness : found) {
      const WitnessKind* kind = WitnessKindOf(witness.table);
      stamped = stamped || (kind != nullptr && kind->stamped);
    }
    bool present = false;
    for (const Witness& witness : found) {
      const WitnessKind* kind = WitnessKindOf(witness.table);
      if (kind == nullptr || kind->stamped != stamped) continue;
      if (Found(db, witness)) {
        present = true;
        break;
      }
    }
    if (!present) absent.push_back(run);
  }
  DropRuns(absent);
  Load();
}

void ImportJournal::DropRuns(const std::vector<int64_t>& runs) {
  droppedRuns_ += runs.size();
  if (runs.empty()) return;
  OnFile([&] {
    file_->RunInTransaction([&] {
      for (const int64_t run : runs) {
        for (const char* table : {"line", "id_map", "witness"}) {
          file_->ExecuteBoundChecked(std::string("DELETE FROM ") + table + " WHERE run=?1",
                                     {SqlParam::Integer(run)});
        }
        file_->ExecuteBoundChecked("DELETE FROM run WHERE id=?1", {SqlParam::Integer(run)});
      }
    });
  });
}

void ImportJournal::Load() {
  lines_.clear();
  keys_.clear();
  idMapEntries_.clear();
  comparedAt_ = 0;
  OnFile([&] {
    // The newest run's line of a key is what the practice holds of it. A
    // line the server dropped counts only for a backup: a new line of the
    // mobile may read the same, and a key the mobile gives again is another
    // record.
    const bool all = scope_ == JournalScope::kBackupImport;
    for (auto rows = file_->Query("SELECT file, line_hex, occurrence, key, gone FROM line ORDER BY run");
         !rows->Eof(); rows->Next()) {
      const bool gone = rows->FieldAsVariant("gone").AsInteger() != 0;
      if (gone && !all) continue;
      const std::string file = rows->FieldAsString("file");
      lines_.insert(file + '\n' + rows->FieldAsString("line_hex") + '\n' +
                    rows->FieldAsString("occurrence"));
      const std::string key = rows->FieldAsString("key");
      if (!key.empty() && !gone) keys_[file + '\n' + key] = Unhex(rows->FieldAsString("line_hex"));
    }
    auto compared = file_->Query("SELECT value FROM meta WHERE name='compared_at'");
    if (!compared->Eof()) comparedAt_ = compared->FieldAsVariant("value").AsInteger();
    // Id-map entries of a run the server dropped would resolve a later run's
    // mobile ids to records of an old one.
    for (auto rows = file_->Query(
             all ? std::string("SELECT table_key, mobile_id, db_id FROM id_map ORDER BY seq")
                 : std::string("SELECT table_key, mobile_id, db_id FROM id_map WHERE run IN "
                               "(SELECT run FROM line WHERE gone=0) ORDER BY seq"));
         !rows->Eof(); rows->Next()) {
      idMapEntries_.push_back({rows->FieldAsString("table_key"),
                               static_cast<int32_t>(rows->FieldAsVariant("mobile_id").AsInteger()),
                               static_cast<int32_t>(rows->FieldAsVariant("db_id").AsInteger())});
    }
  });
}

std::string ImportJournal::Key(const std::string& file, const std::string& line,
                               std::size_t occurrence) {
  return file + '\n' + Hex(line) + '\n' + std::to_string(occurrence);
}

ImportJournal::Match ImportJournal::Find(const std::string& file, const std::string& line,
                                         std::size_t occurrence) const {
  Match match;
  if (lines_.count(Key(file, line, occurrence)) > 0) {
    match.kind = Match::Kind::kSameLine;
    return match;
  }
  const std::string key = RecordKeyOf(file, line);
  if (key.empty()) return match;
  const auto found = keys_.find(file + '\n' + key);
  if (found == keys_.end()) return match;
  match.kind = Match::Kind::kSameRecord;
  match.importedLine = found->second;
  return match;
}

void ImportJournal::BeginRun(TDBase& db) {
  runLines_.clear();
  runIdMap_.clear();
  rowMarks_.clear();
  // Rowids only grow: the rows past these marks are the run's own.
  const std::vector<WitnessKind>& kinds = WitnessKinds();
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    OnPracticeTable([&] {
      auto row = db.Query("SELECT ifnull(max(rowid),0) AS mark FROM " + kinds[i].table);
      rowMarks_.emplace_back(i, row->FieldAsVariant("mark").AsInteger());
    });
  }
}

void ImportJournal::RecordLine(const std::string& file, const std::string& line,
                               std::size_t occurrence) {
  runLines_.push_back({file, Hex(line), occurrence, RecordKeyOf(file, line)});
}

void ImportJournal::RecordIdMapEntry(const IdMapEntry& entry) { runIdMap_.push_back(entry); }

void ImportJournal::PersistRun(TDBase& db) {
  if (runLines_.empty()) return;
  // Every record the run created, as it wrote it: the office may delete or
  // change some of them, and the others still show the run is there.
  std::vector<Witness> witnesses;
  const std::vector<WitnessKind>& kinds = WitnessKinds();
  for (const auto& rowMark : rowMarks_) {
    const WitnessKind& kind = kinds[rowMark.first];
    const int64_t mark = rowMark.second;
    OnPracticeTable([&] {
      for (auto rows = db.QueryBound("SELECT " + kind.idColumn + " AS wid, " + kind.fingerprint +
                                         " AS fp FROM " + kind.table +
                                         " WHERE rowid>?1 ORDER BY rowid",
                                     {SqlParam::Integer(mark)});
           !rows->Eof(); rows->Next()) {
        witnesses.push_back({kind.table, rows->FieldAsVariant("wid").AsInteger(),
                             rows->FieldAsString("fp")});
      }
    });
  }
  if (witnesses.empty()) return;
  std::vector<JournalLine> lines;
  lines.reserve(runLines_.size());
  for (const RunLine& line : runLines_) {
    lines.push_back({line.file, line.hex, static_cast<int64_t>(line.occurrence), line.key});
  }
  OnFile([&] { InsertRun(*file_, false, lines, runIdMap_, witnesses); });
}

void ImportJournal::ForgetLinesNotIn(const TreeModel& tree, int64_t serverMoment) {
  // How often each line is in the download, the earlier forms of a record
  // the mobile changed again included (they are on the server too), and the
  // keys of the records it holds.
  std::unordered_map<std::string, std::size_t> held;
  std::unordered_set<std::string> heldKeys;
  const ReceivedData received(tree);
  for (const ReceivedFile& file : received.Files()) {
    auto hold = [&](const std::string& line) {
      ++held[file.name + '\n' + Hex(line)];
      const std::string key = RecordKeyOf(file.name, line);
      if (!key.empty()) heldKeys.insert(file.name + '\n' + key);
    };
    for (const ReceivedLine& record : file.records) {
      hold(record.Text());
      for (const std::string& earlier : record.Replaced()) hold(earlier);
    }
  }
  OnFile([&] {
    std::vector<int64_t> gone;
    for (auto rows = file_->Query(
             "SELECT rowid AS r, file, line_hex, occurrence, key FROM line WHERE gone=0");
         !rows->Eof(); rows->Next()) {
      const std::string lineFile = rows->FieldAsString("file");
      const auto found = held.find(lineFile + '\n' + rows->FieldAsString("line_hex"));
      const auto occurrence = static_cast<std::size_t>(rows->FieldAsVariant("occurrence").AsInteger());
      if (found != held.end() && occurrence < found->second) continue;
      // The mobile may have written the record's line anew: while its key is
      // on the server, the line is the record this run created.
      const std::string key = rows->FieldAsString("key");
      if (!key.empty() && heldKeys.count(lineFile + '\n' + key) > 0) continue;
      gone.push_back(rows->FieldAsVariant("r").AsInteger());
    }
    file_->RunInTransaction([&] {
      for (const int64_t line : gone) {
        file_->ExecuteBoundChecked("UPDATE line SET gone=1 WHERE rowid=?1",
                                   {SqlParam::Integer(line)});
      }
      // Runs the server dropped whole are kept for imports of backups, the
      // newest kRunsKeptGone of them.
      if (!gone.empty()) {
        file_->ExecuteBoundChecked(
            "DELETE FROM run WHERE id NOT IN (SELECT run FROM line WHERE gone=0) AND id NOT IN "
            "(SELECT id FROM run WHERE id NOT IN (SELECT run FROM line WHERE gone=0) "
            "ORDER BY id DESC LIMIT ?1)",
            {SqlParam::Integer(kRunsKeptGone)});
        file_->ExecuteChecked("DELETE FROM line WHERE run NOT IN (SELECT id FROM run)");
        file_->ExecuteChecked("DELETE FROM id_map WHERE run NOT IN (SELECT id FROM run)");
        file_->ExecuteChecked("DELETE FROM witness WHERE run NOT IN (SELECT id FROM run)");
      }
      if (serverMoment > comparedAt_) {
        file_->ExecuteBoundChecked(
            "INSERT OR REPLACE INTO meta (name, value) VALUES ('compared_at', ?1)",
            {SqlParam::Integer(serverMoment)});
      }
    });
  });
  Load();
}

void ImportJournal::TakeOverLegacy(const std::string& path, const std::string& legacyPath,
                                   TDBase& db) {
  if (!FileExists(legacyPath)) return;
  std::vector<JournalLine> lines;
  std::vector<IdMapEntry> idMap;
  try {
    TDBase legacy(legacyPath);
    // An empty file has no tables yet.
    OnPracticeTable([&] {
      for (auto rows = legacy.Query("SELECT file, line_hex, occurrence FROM imported_line");
           !rows->Eof(); rows->Next()) {
        const std::string file = rows->FieldAsString("file");
        const std::string hex = rows->FieldAsString("line_hex");
        lines.push_back({file, hex, rows->FieldAsVariant("occurrence").AsInteger(),
                         RecordKeyOf(file, Unhex(hex))});
      }
    });
    OnPracticeTable([&] {
      for (auto rows = legacy.Query("SELECT table_key, mobile_id, db_id FROM id_map ORDER BY seq");
           !rows->Eof(); rows->Next()) {
        idMap.push_back({rows->FieldAsString("table_key"),
                         static_cast<int32_t>(rows->FieldAsVariant("mobile_id").AsInteger()),
                         static_cast<int32_t>(rows->FieldAsVariant("db_id").AsInteger())});
      }
    });
  } catch (const std::exception& e) {
    RaiseJournalFailure(legacyPath, e);
  }
  if (!lines.empty()) {
    // The old journal knew no more of a run than the ids it gave: the
    // records with those ids that the mobile created stand for it. Without
    // any id it is taken as the old version took it.
    std::vector<Witness> witnesses;
    for (const IdMapEntry& entry : idMap) {
      const WitnessKind* kind = WitnessKindOf(TableOfKey(entry.tableKey));
      if (kind == nullptr || !kind->stamped) continue;
      OnPracticeTable([&] {
        auto row = db.QueryBound("SELECT " + kind->fingerprint + " AS fp FROM " + kind->table +
                                     " WHERE id=?1 AND erstelltvon='MOB' LIMIT 1",
                                 {SqlParam::Integer(entry.dbId)});
        if (!row->Eof()) witnesses.push_back({kind->table, entry.dbId, row->FieldAsString("fp")});
      });
    }
    if (idMap.empty() || !witnesses.empty()) {
      ImportJournal journal(path, db);
      journal.OnFile([&] { InsertRun(*journal.file_, idMap.empty(), lines, idMap, witnesses); });
    }
  }
  // Once the lines are in the new journal the old one must not bring them
  // again; a file that stays is taken over again, which changes nothing.
  DeleteFileEvenIfReadOnly(SystemPath(legacyPath));
}

}  // namespace kelvanor
