// The undo of the last import: the practice database put back, in place, to
// the restore point made before that import (restore_points.h), while it
// still holds exactly what the import left. Anything written since (by the
// office, the host program or another sync) would be lost with it, so a
// practice whose content fingerprint no longer matches the one taken when
// the import committed is refused and left as it is. Only the newest change
// can be undone: an undo is a change too, and two undos in a row would need
// the restore point of an import that is no longer the last.
//
// The caller holds the lock of the database and account (LockAccountFiles)
// from the plan to the undo, and asks the user in between.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <functional>
#include <optional>
#include <string>

#include "db/dbase.h"
#include "kept/account_files.h"
#include "kept/run_history.h"
#include "settings/settings.h"
#include "sync/logger.h"
#include "util/outcome.h"

namespace kelvanor {

struct UndoPlan {
  // The import an undo would take back; none when there is nothing to undo.
  std::optional<RunRecord> run;
  // Why it may not be undone now, in German ("" when it may).
  std::string refusal;

  bool Allowed() const { return run.has_value() && refusal.empty(); }
};

// Whether the last import in `history` may be undone in `db` now: there is
// one, it is still the newest change, its restore point is there, and the
// practice's content is what the import left.
UndoPlan PlanUndo(TDBase& db, RunHistory& history);

// The question before the undo, in German (lines broken with "\r").
std::string UndoQuestion(const RunRecord& run);

// Undoes `run` (from an allowed PlanUndo): the restore point goes back into
// `db` in one transaction, the practice is checked (PRAGMA integrity_check),
// the journal drops the run (its records are gone, its lines may come
// again), and the history records the undo. The log says what was undone.
// A failure leaves the practice as it was and says why.
Outcome UndoImport(TDBase& db, const AccountFiles& files, RunHistory& history,
                   const RunRecord& run, Logger& log);

// The undo as the user starts it, in the window or the CLI: the lock of the
// database and account (no sync imports meanwhile), the plan, the question
// (`ask` gets it and answers; nullopt when nobody can answer), the undo.
struct UndoRun {
  enum class End { kUndone, kRefused, kDeclined, kNotAsked, kFailed };
  End end = End::kFailed;
  std::string message;  // why it was refused or failed, in German
};
UndoRun RunUndo(TDBase& db, const Folders& folders, const std::string& account, Logger& log,
                const std::function<std::optional<bool>(const std::string& question)>& ask);

}  // namespace kelvanor
