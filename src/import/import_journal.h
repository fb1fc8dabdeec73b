// The import's memory across runs: which received lines, and which id-map
// entries, reached the practice database in a run whose lines the server may
// still send. The server sends a line again until a complete download shows
// it gone (a failed or ignored delete request, a crash, an old archive left
// in place); the journal keeps it from being imported twice and lets later
// lines name the records it created.
//
// A line is known by its bytes, and a line that stands for one record the
// mobile may write anew (a new customer "N/5", a cash entry) also by its key,
// the first field: a mobile that rewrites its line in place after a failed
// delete request sends the same key with other bytes, and that is the record
// already imported, changed since, never a second one (see RecordKeyOf).
//
// The journal is a small database file of the tool's own beside the practice
// database (never a table in it), on a connection of its own. It is true for
// the practice database as it is now: a run counts while any record it
// created is found there, told by what the run wrote into it and nobody
// changes (the creation moment and "MOB", the moment of a deletion, the
// references of a link). Every record a run created is kept for that, so the
// office may delete or edit some of them: the run stays, its other lines are
// not imported again, and what the office deleted does not come back. So
//  - a run is journaled, durably, before the practice commits it; a crash
//    between the two leaves a run whose records are nowhere, which the next
//    run drops, whatever the practice's journal mode (WAL commits the two
//    files apart, never together);
//  - a database restored from a copy without the run, or another database,
//    imports the lines again;
//  - a run that created no record (changes only) is not journaled: the next
//    run writes its changes again, which gives the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/dbase.h"
#include "import/id_map.h"
#include "import/node_list.h"

namespace kelvanor {

// The key by which the journal knows a line of the change file `file` as the
// record it stands for, whatever the mobile writes into that line later: its
// first field, for a line that creates a record ("N/5" of a new customer; any
// line of the orders, the cash book and the hoof reports, each of which is a
// record of its own) or deletes one ("D/A/12"). "" for a line known by its
// bytes alone: a change ("A/12"), whose writing again gives the same values,
// and every owner link, where no line replaces another.
std::string RecordKeyOf(const std::string& file, const std::string& line);

// What a journal counts as imported: for the lines a server sends, the runs
// whose lines it may still send; for a backup imported again, every run it
// remembers whose records are in the practice, also those the server has
// dropped long since (their lines by their bytes alone).
enum class JournalScope { kServer, kBackupImport };

class ImportJournal {
 public:
  // Opens the journal at `path` (Windows-1252; created when missing) and keeps
  // of it the runs whose records are in `db`, which must not be inside a
  // transaction. A journal that cannot be opened, read or written raises
  // EDatabaseFailure naming the file: importing without it could bring
  // duplicates.
  ImportJournal(const std::string& path, TDBase& db,
                JournalScope scope = JournalScope::kServer);
  ~ImportJournal();
  ImportJournal(const ImportJournal&) = delete;
  ImportJournal& operator=(const ImportJournal&) = delete;

  // What the runs that count know of the `occurrence`-th line of `file` with
  // these bytes (identical lines count one by one).
  struct Match {
    enum class Kind {
      kNone,        // nothing: the line is imported as it reads
      kSameLine,    // a run imported this very line
      kSameRecord,  // a run imported a line with its key (RecordKeyOf)
    };
    Kind kind = Kind::kNone;
    // For kSameRecord: the newest line with the key that a run imported.
    std::string importedLine;
  };
  Match Find(const std::string& file, const std::string& line, std::size_t occurrence) const;
  bool Contains(const std::string& file, const std::string& line, std::size_t occurrence) const {
    return Find(file, line, occurrence).kind == Match::Kind::kSameLine;
  }
  // The id-map entries of the runs that count, oldest first.
  const std::vector<IdMapEntry>& IdMapEntries() const { return idMapEntries_; }

  // A run, inside the practice's transaction: BeginRun before its first
  // record, the lines and id-map entries as they are imported, PersistRun
  // after the last one and before the practice commits. PersistRun writes
  // the run durably (with the records it created, as the next run checks
  // for them); without a created record nothing is written.
  void BeginRun(TDBase& db);
  void RecordLine(const std::string& file, const std::string& line, std::size_t occurrence);
  void RecordIdMapEntry(const IdMapEntry& entry);
  void PersistRun(TDBase& db);

  // Forgets the lines a complete download `tree` no longer holds, neither as
  // they are nor by their key (the server dropped them, so they cannot come
  // again), and the runs left without one. `serverMoment` (seconds since
  // 1970 by the server's clock, 0 when unknown) is when the server held what
  // `tree` shows; the newest such moment is kept (ComparedWithServerAt).
  void ForgetLinesNotIn(const TreeModel& tree, int64_t serverMoment = 0);
  // The server's moment of the newest complete download the journal was
  // compared with; 0 when none. An archive packed before it may hold lines
  // the journal has forgotten since: importing it could bring them twice.
  int64_t ComparedWithServerAt() const { return comparedAt_; }
  // How many runs the opening dropped because none of their records is in
  // the practice any more (a database restored from a copy, an undo).
  std::size_t DroppedRuns() const { return droppedRuns_; }

  // Takes over into the journal at `path` what the journal an earlier version
  // kept at `legacyPath` holds, as one run (checked against `db` like any
  // other where it names records), and removes the old file.
  static void TakeOverLegacy(const std::string& path, const std::string& legacyPath, TDBase& db);

 private:
  static std::string Key(const std::string& file, const std::string& line,
                         std::size_t occurrence);
  // Drops the runs whose records `db` does not hold; reads the others.
  void KeepRunsFoundIn(TDBase& db);
  void Load();
  void DropRuns(const std::vector<int64_t>& runs);
  // Runs `work` on the journal's file; whatever fails names the file.
  void OnFile(const std::function<void()>& work);

  std::string path_;
  JournalScope scope_;
  std::size_t droppedRuns_ = 0;
  std::unique_ptr<TDBase> file_;
  std::unordered_set<std::string> lines_;
  // file + "\n" + key -> the newest line with that key a run imported.
  std::unordered_map<std::string, std::string> keys_;
  std::vector<IdMapEntry> idMapEntries_;
  int64_t comparedAt_ = 0;

  // The run under way: where each table's rows ended before it, and what it
  // imported.
  std::vector<std::pair<std::size_t, int64_t>> rowMarks_;
  struct RunLine {
    std::string file;
    std::string hex;  // the line's bytes as hex text
    std::size_t occurrence;
    std::string key;  // RecordKeyOf the line
  };
  std::vector<RunLine> runLines_;
  std::vector<IdMapEntry> runIdMap_;
};

}  // namespace kelvanor
