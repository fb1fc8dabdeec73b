// The memory of the runs: every sync, first sync, import from a folder or a
// backup, and undo, in a small database file of the tool's beside the
// practice database, per database and account like the journal
// (praxis.db.Kelvanor-Verlauf_hof1.db). A run is written, durably, when it
// starts and when it ends; a run whose start is there but not its end, while
// no run holds the lock, was interrupted (the process died). The newest
// 1,000 runs are kept. A history that cannot be read is put aside and begun
// anew: the memory must never stop a sync.
//
// Room src/kept: the files the tool keeps beside the practice database and
// in the mobil folder. It uses the settings, the import and the export,
// never the sync run or the server.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "util/w1252.h"

namespace kelvanor {

// The kinds of run, as the history names them.
inline constexpr const char* kRunSync = "Synchronisation";
inline constexpr const char* kRunFirstSync = "Erste Synchronisation";
inline constexpr const char* kRunBackupImport = "Import aus Sicherung";
inline constexpr const char* kRunFolderImport = "Import aus Ordner";
inline constexpr const char* kRunUndo = W1252("Import rückgängig gemacht");
// How a run ended; an interrupted one has no end written.
inline constexpr const char* kOutcomeDone = "fertig";
inline constexpr const char* kOutcomeFailed = "abgebrochen";
inline constexpr const char* kOutcomeInterrupted = "unterbrochen";

struct RunRecord {
  int64_t id = 0;
  std::string started;  // "2026-12-09 14:05:33", local time
  std::string ended;    // "" while running or when interrupted
  std::string workstation;
  std::string user;
  std::string kind;
  std::string outcome;  // kOutcomeDone, kOutcomeFailed; "" until the end
  std::string step;     // where a failed run stopped
  std::string message;  // its German message
  std::string received;  // what arrived, in words (the question's summary)
  std::string imported;  // what the import wrote, in words ("" when nothing)
  std::vector<std::string> conflicts;
  std::vector<std::string> notImported;  // each line with its reason
  std::string backup;        // the dated backup of the received data
  std::string restorePoint;  // the copy of the practice before the import
  // The practice's content fingerprint when the import committed (see
  // ContentFingerprint): an undo is allowed while it still matches.
  std::string fingerprint;
  std::string undoneRun;  // for an undo: the start of the run it undid

  bool Ended() const { return !ended.empty(); }
};

// "09.12.2026 14:05" for a stored moment.
std::string ShortMoment(const std::string& stored);

// How a run ended, in words: its outcome, or for one without an end
// "läuft noch" while `running` (someone holds the account's lock) and
// "unterbrochen" otherwise.
std::string OutcomeOf(const RunRecord& run, bool running);
// The date line of a run: "09.12.2026 14:05  Synchronisation  fertig".
std::string HeadlineOf(const RunRecord& run, bool running);
// What a run did, one line each: who ran it, what arrived and what was
// imported or undone, the conflicts and the lines not imported (each after
// a count naming its file), where it failed, the backup and restore point.
std::vector<std::string> DetailsOf(const RunRecord& run);

// The account, other than `account`, whose history beside `databasePath`
// names a backup with the file name of `backup` (the mobil folder is shared
// by the accounts of one Kelvanor); "" when none does. A history that cannot
// be read is passed over and left as it is.
std::string OtherAccountOfBackup(const std::string& databasePath, const std::string& account,
                                 const std::string& backup);

class RunHistory {
 public:
  // Opens the history at `path`, made when missing. A damaged file, or
  // anything but a plain file in its place, is put aside under
  // "<path>.defekt-<moment>" and the history begins anew (Restarted). A
  // history that cannot be written at all does nothing (Usable false).
  explicit RunHistory(const std::string& path);
  ~RunHistory();
  RunHistory(const RunHistory&) = delete;
  RunHistory& operator=(const RunHistory&) = delete;

  bool Usable() const { return file_ != nullptr; }
  bool Restarted() const { return restarted_; }
  // Why the history is not usable or was begun anew, in German.
  const std::string& Trouble() const { return trouble_; }

  // Writes the start of a run of `kind` and returns its id (0 when the
  // history is not usable). Drops runs beyond the newest 1,000.
  int64_t Begin(const std::string& kind);
  // Writes the end of run `id` with everything of `run` but its id, start,
  // workstation, user and kind.
  void End(int64_t id, const RunRecord& run);

  // The newest `count` runs, newest first.
  std::vector<RunRecord> Newest(std::size_t count);
  // The newest run that imported into the practice with a restore point,
  // and whether a later run has changed the practice since (an undo, or
  // another import): only the newest can be undone.
  std::optional<RunRecord> LastImport();
  // The newest run that ended and changed the practice (an import with a
  // restore point, or an undo).
  std::optional<RunRecord> LastChange();

 private:
  void Open();
  void PutAside(const std::string& why);
  std::vector<RunRecord> Read(const std::string& where, std::size_t count);

  std::string path_;
  std::unique_ptr<TDBase> file_;
  bool restarted_ = false;
  std::string trouble_;
};

}  // namespace kelvanor
