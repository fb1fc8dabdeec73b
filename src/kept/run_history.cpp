#include "kept/run_history.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

#include "db/sql.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kRunsKept = 1000;
// Lists in one text column, one entry per line.
constexpr char kEntrySeparator = '\n';

std::string StoredMoment(const CivilTime& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return text;
}

std::string Joined(const std::vector<std::string>& entries) {
  std::string text;
  for (const std::string& entry : entries) {
    text += (text.empty() ? "" : std::string(1, kEntrySeparator)) +
            ReplaceAll(ReplaceAll(entry, "\r\n", " "), "\n", " ");
  }
  return text;
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> entries;
  if (text.empty()) return entries;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = text.find(kEntrySeparator, start);
    entries.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return entries;
}

const char kColumns[] =
    "id, started, ended, workstation, user, kind, outcome, step, message, received, imported, "
    "conflicts, not_imported, backup, restore_point, fingerprint, undone_run";

}  // namespace

std::string ShortMoment(const std::string& stored) {
  // "2026-12-09 14:05:33" -> "09.12.2026 14:05"
  if (stored.size() < 16) return stored;
  return stored.substr(8, 2) + "." + stored.substr(5, 2) + "." + stored.substr(0, 4) + " " +
         stored.substr(11, 5);
}

namespace {

// The name of a path without its folder (either separator).
std::string NameOnly(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

std::string OtherAccountOfBackup(const std::string& databasePath, const std::string& account,
                                 const std::string& backup) {
  const std::string folder = ExtractFilePath(databasePath);
  const std::string prefix = NameOnly(databasePath) + ".Kelvanor-Verlauf_";
  const std::string name = NameOnly(backup);
  std::error_code error;
  for (std::filesystem::directory_iterator it(SystemPath(folder.empty() ? "." : folder), error),
       end;
       !error && it != end; it.increment(error)) {
    const std::string entry = AnsiPath(it->path().filename());
    if (entry.size() <= prefix.size() + 3 || entry.compare(0, prefix.size(), prefix) != 0 ||
        entry.compare(entry.size() - 3, 3, ".db") != 0) {
      continue;
    }
    const std::string other = entry.substr(prefix.size(), entry.size() - prefix.size() - 3);
    if (other == account || KindOfEntry(it->path()) != EntryKind::kFile) continue;
    try {
      TDBase history(folder + entry);
      for (auto rows = history.Query("SELECT backup FROM run WHERE backup<>''");
           !rows->Eof(); rows->Next()) {
        if (NameOnly(rows->FieldAsString("backup")) == name) return other;
      }
    } catch (const std::exception&) {
      // Not readable: it tells nothing, and it is not ours to put aside.
    }
  }
  return std::string();
}

std::string OutcomeOf(const RunRecord& run, bool running) {
  if (run.Ended()) return run.outcome;
  return running ? W1252("läuft noch") : kOutcomeInterrupted;
}

std::string HeadlineOf(const RunRecord& run, bool running) {
  return ShortMoment(run.started) + "  " + run.kind + "  " + OutcomeOf(run, running);
}

namespace {

std::string Count(std::size_t n, const char* one, const char* many) {
  return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::vector<std::string> DetailsOf(const RunRecord& run) {
  std::vector<std::string> lines;
  const auto line = [&](const std::string& text) {
    lines.push_back(ReplaceAll(ReplaceAll(text, "\r\n", " "), "\r", " "));
  };
  std::string who = run.workstation;
  if (!run.user.empty()) who += (who.empty() ? "" : ", ") + std::string("Benutzer ") + run.user;
  if (!who.empty()) line("Arbeitsplatz " + who);
  if (run.Ended()) line("Ende " + ShortMoment(run.ended));
  if (!run.undoneRun.empty()) {
    line(W1252("Rückgängig gemacht: der Import vom ") + ShortMoment(run.undoneRun));
  }
  if (!run.received.empty() && run.undoneRun.empty()) line("Empfangen: " + run.received);
  if (!run.imported.empty()) line((run.undoneRun.empty() ? "Importiert: " : "") + run.imported);
  if (!run.conflicts.empty()) {
    line(Count(run.conflicts.size(), "Konflikt", "Konflikte") + ", siehe mob_konflikte.txt");
    for (const std::string& conflict : run.conflicts) line("  " + conflict);
  }
  if (!run.notImported.empty()) {
    line(Count(run.notImported.size(), "Zeile", "Zeilen") +
         " nicht importiert, siehe nicht_importierte_Zeilen.txt");
    for (const std::string& failure : run.notImported) line("  " + failure);
  }
  if (!run.message.empty()) {
    line((run.step.empty() ? std::string("Fehler: ") : "Fehler bei \"" + run.step + "\": ") +
         run.message);
  }
  if (!run.backup.empty()) line("Sicherung: " + run.backup);
  if (!run.restorePoint.empty()) line("Wiederherstellungspunkt: " + run.restorePoint);
  return lines;
}

RunHistory::RunHistory(const std::string& path) : path_(path) { Open(); }

RunHistory::~RunHistory() = default;

void RunHistory::PutAside(const std::string& why) {
  file_.reset();
  const std::string aside = path_ + ".defekt-" + ReplaceAll(ReplaceAll(StoredMoment(NowCivil()), " ", "_"), ":", "-");
  std::error_code moved;
  std::filesystem::rename(SystemPath(path_), SystemPath(aside), moved);
  if (moved) {
    std::error_code ignored;
    RemoveWithoutFollowingLinks(SystemPath(path_), ignored);
  }
  restarted_ = true;
  trouble_ = W1252("Der Verlauf ") + path_ + W1252(" war nicht lesbar (") + why +
             W1252(") und beginnt neu") + (moved ? "." : W1252("; der alte liegt als ") + aside + ".");
}

void RunHistory::Open() {
  const EntryKind kind = KindOfEntry(SystemPath(path_));
  if (kind != EntryKind::kMissing && kind != EntryKind::kFile) {
    PutAside(W1252("an seiner Stelle steht keine Datei"));
  }
  for (int attempt = 0; attempt < 2; ++attempt) {
    try {
      if (!FileExists(path_)) WriteFileAtomically(path_, std::string());
      file_ = std::make_unique<TDBase>(path_);
      // Written before and after a run that may die between the two: on the
      // disk each time, and a rollback journal, since a network share gives
      // WAL no shared memory.
      file_->Query("PRAGMA journal_mode=DELETE");
      file_->ExecuteChecked("PRAGMA synchronous=FULL");
      auto check = file_->Query("PRAGMA quick_check");
      if (check->Eof() || check->FieldAsString("quick_check") != "ok") {
        throw EInOutError(W1252("die Prüfung der Datei meldet einen Schaden"));
      }
      file_->ExecuteChecked(
          "CREATE TABLE IF NOT EXISTS run (id INTEGER PRIMARY KEY, started TEXT NOT NULL, "
          "ended TEXT NOT NULL DEFAULT '', workstation TEXT NOT NULL DEFAULT '', user TEXT NOT "
          "NULL DEFAULT '', kind TEXT NOT NULL, outcome TEXT NOT NULL DEFAULT '', step TEXT NOT "
          "NULL DEFAULT '', message TEXT NOT NULL DEFAULT '', received TEXT NOT NULL DEFAULT '', "
          "imported TEXT NOT NULL DEFAULT '', conflicts TEXT NOT NULL DEFAULT '', not_imported "
          "TEXT NOT NULL DEFAULT '', backup TEXT NOT NULL DEFAULT '', restore_point TEXT NOT "
          "NULL DEFAULT '', fingerprint TEXT NOT NULL DEFAULT '', undone_run TEXT NOT NULL "
          "DEFAULT '')");
      // A file of another kind under the name is no history of ours.
      file_->Query(std::string("SELECT ") + kColumns + " FROM run LIMIT 1");
      return;
    } catch (const std::exception& e) {
      if (attempt == 0 && FileExists(path_)) {
        PutAside(e.what());
        continue;
      }
      file_.reset();
      trouble_ = W1252("Der Verlauf ") + path_ + W1252(" kann nicht geschrieben werden (") +
                 e.what() + W1252("); diese Synchronisation wird nicht darin vermerkt.");
      return;
    }
  }
}

int64_t RunHistory::Begin(const std::string& kind) {
  if (file_ == nullptr) return 0;
  try {
    int64_t id = 0;
    file_->RunInTransaction([&] {
      file_->ExecuteBoundChecked(
          "INSERT INTO run (started, workstation, user, kind) VALUES (?1, ?2, ?3, ?4)",
          {SqlParam::Text(StoredMoment(NowCivil())), SqlParam::Text(WorkstationName()),
           SqlParam::Text(LoginName()), SqlParam::Text(kind)});
      id = file_->LastInsertId();
      file_->ExecuteBoundChecked("DELETE FROM run WHERE id <= ?1",
                                 {SqlParam::Integer(id - static_cast<int64_t>(kRunsKept))});
    });
    return id;
  } catch (const std::exception& e) {
    trouble_ = W1252("Der Verlauf ") + path_ + W1252(" kann nicht geschrieben werden: ") + e.what();
    return 0;
  }
}

void RunHistory::End(int64_t id, const RunRecord& run) {
  if (file_ == nullptr || id == 0) return;
  try {
    file_->ExecuteBoundChecked(
        "UPDATE run SET ended=?1, outcome=?2, step=?3, message=?4, received=?5, imported=?6, "
        "conflicts=?7, not_imported=?8, backup=?9, restore_point=?10, fingerprint=?11, "
        "undone_run=?12 WHERE id=?13",
        {SqlParam::Text(StoredMoment(NowCivil())), SqlParam::Text(run.outcome),
         SqlParam::Text(run.step), SqlParam::Text(run.message), SqlParam::Text(run.received),
         SqlParam::Text(run.imported), SqlParam::Text(Joined(run.conflicts)),
         SqlParam::Text(Joined(run.notImported)), SqlParam::Text(run.backup),
         SqlParam::Text(run.restorePoint), SqlParam::Text(run.fingerprint),
         SqlParam::Text(run.undoneRun), SqlParam::Integer(id)});
  } catch (const std::exception& e) {
    trouble_ = W1252("Der Verlauf ") + path_ + W1252(" kann nicht geschrieben werden: ") + e.what();
  }
}

std::vector<RunRecord> RunHistory::Read(const std::string& where, std::size_t count) {
  std::vector<RunRecord> runs;
  if (file_ == nullptr) return runs;
  try {
    for (auto rows = file_->QueryBound(std::string("SELECT ") + kColumns + " FROM run " + where +
                                           " ORDER BY id DESC LIMIT ?1",
                                       {SqlParam::Integer(static_cast<int64_t>(count))});
         !rows->Eof(); rows->Next()) {
      RunRecord run;
      run.id = rows->FieldAsVariant("id").AsInteger();
      run.started = rows->FieldAsString("started");
      run.ended = rows->FieldAsString("ended");
      run.workstation = rows->FieldAsString("workstation");
      run.user = rows->FieldAsString("user");
      run.kind = rows->FieldAsString("kind");
      run.outcome = rows->FieldAsString("outcome");
      run.step = rows->FieldAsString("step");
      run.message = rows->FieldAsString("message");
      run.received = rows->FieldAsString("received");
      run.imported = rows->FieldAsString("imported");
      run.conflicts = Split(rows->FieldAsString("conflicts"));
      run.notImported = Split(rows->FieldAsString("not_imported"));
      run.backup = rows->FieldAsString("backup");
      run.restorePoint = rows->FieldAsString("restore_point");
      run.fingerprint = rows->FieldAsString("fingerprint");
      run.undoneRun = rows->FieldAsString("undone_run");
      runs.push_back(std::move(run));
    }
  } catch (const std::exception& e) {
    trouble_ = W1252("Der Verlauf ") + path_ + W1252(" kann nicht gelesen werden: ") + e.what();
  }
  return runs;
}

std::vector<RunRecord> RunHistory::Newest(std::size_t count) { return Read("", count); }

std::optional<RunRecord> RunHistory::LastChange() {
  const std::vector<RunRecord> runs =
      Read("WHERE ended<>'' AND (fingerprint<>'' OR undone_run<>'')", 1);
  if (runs.empty()) return std::nullopt;
  return runs.front();
}

std::optional<RunRecord> RunHistory::LastImport() {
  const std::optional<RunRecord> change = LastChange();
  if (!change || change->fingerprint.empty() || change->restorePoint.empty()) return std::nullopt;
  return change;
}

}  // namespace kelvanor
