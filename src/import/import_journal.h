// The import's memory across runs: which received lines, and which id-map
// entries, reached the practice database in a run whose lines the server may
// still send. The server sends a line again until a download shows it gone
// (a failed or ignored delete request, a crash, an old archive left in
// place); the journal keeps it from being imported twice and lets later lines
// name the records it created.
//
// The journal is a small database file of the tool's own beside the practice
// database (never a table in it), on a connection of its own. It is true for
// the practice database as it is now: a run counts only while records it
// created are found there, told by what the run wrote into them and nobody
// changes (the creation moment and "MOB", the moment of a deletion, the
// references of a link). So
//  - a run is journaled, durably, before the practice commits it; a crash
//    between the two leaves a run whose records are nowhere, which the next
//    run drops, whatever the practice's journal mode (WAL commits the two
//    files apart, never together);
//  - a database restored from a copy, or another one, imports the lines again;
//  - a run that created no record (changes only) is not journaled: the next
//    run writes its changes again, which gives the same values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "db/dbase.h"
#include "import/id_map.h"
#include "import/node_list.h"

namespace kelvanor {

class ImportJournal {
 public:
  // Opens the journal at `path` (Windows-1252; created when missing) and keeps
  // of it the runs whose records are in `db`, which must not be inside a
  // transaction. A journal that cannot be opened, read or written raises
  // EDatabaseFailure naming the file: importing without it could bring
  // duplicates.
  ImportJournal(const std::string& path, TDBase& db);
  ~ImportJournal();
  ImportJournal(const ImportJournal&) = delete;
  ImportJournal& operator=(const ImportJournal&) = delete;

  // True when a run that counts imported this line: the `occurrence`-th line
  // of `file` with exactly these bytes (identical lines count one by one).
  bool Contains(const std::string& file, const std::string& line, std::size_t occurrence) const;
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

  // Forgets the lines a complete download `tree` no longer holds (the server
  // dropped them, so they cannot come again), and the runs left without one.
  void ForgetLinesNotIn(const TreeModel& tree);

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
  std::unique_ptr<TDBase> file_;
  std::unordered_set<std::string> lines_;
  std::vector<IdMapEntry> idMapEntries_;

  // The run under way: where each table's rows ended before it, and what it
  // imported.
  std::vector<std::pair<std::size_t, int64_t>> rowMarks_;
  struct RunLine {
    std::string file;
    std::string hex;  // the line's bytes as hex text
    std::size_t occurrence;
  };
  std::vector<RunLine> runLines_;
  std::vector<IdMapEntry> runIdMap_;
};

}  // namespace kelvanor
