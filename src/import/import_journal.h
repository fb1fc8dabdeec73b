// The import's memory across runs: which received lines, and which id-map
// entries, reached the practice database in a run whose delete request has
// not yet succeeded. The server still holds those lines and sends them again;
// the journal keeps them from being imported twice and lets later lines name
// the records they created.
//
// The journal is a small database file of the tool's own (never a table in
// the practice database), attached to the practice database's connection, so
// that a run's records and its journal entries commit in one transaction: no
// crash can leave the one without the other.
#pragma once

#include <cstddef>
#include <string>
#include <unordered_set>
#include <vector>

#include "db/dbase.h"
#include "import/id_map.h"

namespace kelvanor {

class ImportJournal {
 public:
  // Attaches the journal at `path` (Windows-1252; created when missing) to
  // the connection of `db`, which must not be inside a transaction, and reads
  // what it holds. A journal that cannot be opened or read raises
  // EDatabaseFailure naming the file: importing without it could bring
  // duplicates.
  ImportJournal(TDBase& db, const std::string& path);
  // Detaches the journal.
  ~ImportJournal();
  ImportJournal(const ImportJournal&) = delete;
  ImportJournal& operator=(const ImportJournal&) = delete;

  // True when an earlier run committed this line: the `occurrence`-th line of
  // `file` with exactly these bytes (identical lines count one by one).
  bool Contains(const std::string& file, const std::string& line, std::size_t occurrence) const;
  // Notes a line, or an id-map entry, of this run. Written in the running
  // transaction, so it commits (or rolls back) with the records.
  void RecordLine(const std::string& file, const std::string& line, std::size_t occurrence);
  void RecordIdMapEntry(const IdMapEntry& entry);

  // The id-map entries of the journaled runs, oldest first.
  const std::vector<IdMapEntry>& IdMapEntries() const { return idMapEntries_; }

  // Empties the journal at `path`: its lines are gone from the server.
  static void Clear(TDBase& db, const std::string& path);

 private:
  static std::string Key(const std::string& file, const std::string& line,
                         std::size_t occurrence);

  TDBase& db_;
  std::unordered_set<std::string> lines_;
  std::vector<IdMapEntry> idMapEntries_;
};

}  // namespace kelvanor
