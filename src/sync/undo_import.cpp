#include "sync/undo_import.h"

#include <exception>
#include <memory>

#include "db/database_copy.h"
#include "import/import_journal.h"
#include "platform/file_system.h"
#include "platform/instance_lock.h"
#include "sync/import_session.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr const char* kOnlyTheLast =
    W1252("rückgängig machen lässt sich nur der jeweils letzte Import");

std::string WhatItBrought(const RunRecord& run) {
  return run.imported.empty() ? std::string("die importierten Daten") : run.imported;
}

// The content fingerprint of a restore point; "" when it cannot be read.
std::string RestorePointContent(const std::string& path) {
  try {
    TDBase copy(path);
    return ContentFingerprint(copy);
  } catch (const std::exception&) {
    return std::string();
  }
}

}  // namespace

UndoPlan PlanUndo(TDBase& db, RunHistory& history) {
  UndoPlan plan;
  if (!history.Usable()) {
    plan.refusal = history.Trouble().empty()
                       ? std::string(W1252("Der Verlauf der Synchronisationen ist nicht lesbar."))
                       : history.Trouble();
    return plan;
  }
  const std::optional<RunRecord> change = history.LastChange();
  if (!change) {
    plan.refusal = W1252("Es gibt keinen Import, der rückgängig gemacht werden kann: der Verlauf "
                         "kennt keinen Import mit Wiederherstellungspunkt.");
    return plan;
  }
  if (!change->undoneRun.empty()) {
    plan.refusal = "Der Import vom " + ShortMoment(change->undoneRun) +
                   W1252(" wurde bereits rückgängig gemacht; ") + kOnlyTheLast +
                   W1252(", ältere Importe bleiben.");
    return plan;
  }
  plan.run = history.LastImport();
  if (!plan.run) {
    plan.refusal = W1252("Es gibt keinen Import, der rückgängig gemacht werden kann.");
    return plan;
  }
  const RunRecord& run = *plan.run;
  if (KindOfEntry(SystemPath(run.restorePoint)) != EntryKind::kFile) {
    plan.refusal = "Der Import vom " + ShortMoment(run.started) +
                   W1252(" kann nicht rückgängig gemacht werden: sein Wiederherstellungspunkt ") +
                   run.restorePoint + W1252(" fehlt. Es wurde nichts geändert.");
    return plan;
  }
  std::string now;
  try {
    now = ContentFingerprint(db);
  } catch (const std::exception& e) {
    plan.refusal = W1252("Die Praxis-Datenbank kann nicht gelesen werden: ") +
                   UserText(e) + W1252(" Es wurde nichts geändert.");
    return plan;
  }
  // An undo killed after its restore had committed, before the history
  // knew: the practice is the restore point already, and undoing again
  // changes nothing but writes the undo down.
  if (now != run.fingerprint && now == RestorePointContent(run.restorePoint)) return plan;
  if (now != run.fingerprint) {
    plan.refusal =
        "Die Praxis hat seit dem Import vom " + ShortMoment(run.started) +
        W1252(" Daten geändert (im Büro, im Praxisprogramm oder durch eine andere "
              "Synchronisation). Der Import kann nicht mehr rückgängig gemacht werden, ohne "
              "diese Änderungen zu verlieren; es wurde nichts geändert.\rFür den Administrator: "
              "der Stand vor dem Import liegt in ") +
        run.restorePoint + ".";
  }
  return plan;
}

std::string UndoQuestion(const RunRecord& run) {
  return "Den Import vom " + ShortMoment(run.started) + W1252(" rückgängig machen?\r\rEntfernt wird: ") +
         WhatItBrought(run) +
         W1252(".\rDie Praxis-Datenbank wird auf den Stand vor diesem Import zurückgesetzt. Nur "
               "der letzte Import lässt sich rückgängig machen; frühere Importe bleiben.\rDie "
               "empfangenen Daten bleiben in der Sicherung und können später erneut importiert "
               "werden.");
}

Outcome UndoImport(TDBase& db, const AccountFiles& files, RunHistory& history,
                   const RunRecord& run, Logger& log) {
  const int64_t id = history.Begin(kRunUndo);
  RunRecord record;
  record.restorePoint = run.restorePoint;
  record.backup = run.backup;
  const auto fail = [&](const std::string& message) {
    record.outcome = kOutcomeFailed;
    record.step = W1252("Rückgängig");
    record.message = message;
    history.End(id, record);
    return Outcome::Failed(W1252("Rückgängig"), 1, message);
  };
  log.Step(W1252("Import vom ") + ShortMoment(run.started) + W1252(" rückgängig machen ..."));
  log.LogLine(W1252("Wiederherstellungspunkt zurückspielen - ") + run.restorePoint);
  try {
    RestoreDatabaseFrom(db, run.restorePoint);
  } catch (const std::exception& e) {
    return fail(UserText(e));
  }
  std::string verdict;
  try {
    auto check = db.Query("PRAGMA integrity_check");
    verdict = check->Eof() ? std::string("keine Antwort") : check->FieldAsString("integrity_check");
  } catch (const std::exception& e) {
    verdict = UserText(e);
  }
  if (verdict != "ok") {
    return fail(W1252("Die Praxis-Datenbank wurde zurückgesetzt, aber ihre Prüfung meldet: ") +
                verdict + W1252(". Bitte den Administrator fragen; der Stand vor dem Import liegt in ") +
                run.restorePoint + ".");
  }
  // The run's records are gone: the journal must not keep its lines as
  // imported, or a backup imported again would bring nothing.
  if (FileExists(files.journal)) {
    try {
      ImportJournal journal(files.journal, db);
    } catch (const std::exception& e) {
      log.Step(W1252("Hinweis: Das Importjournal konnte nicht nachgeführt werden (") +
               UserText(e) + W1252("); die nächste Synchronisation holt das nach."));
    }
  }
  record.outcome = kOutcomeDone;
  record.undoneRun = run.started;
  record.imported = WhatItBrought(run) + " entfernt";
  history.End(id, record);
  log.Step("Import vom " + ShortMoment(run.started) + W1252(" rückgängig gemacht: ") +
           WhatItBrought(run) + " entfernt.");
  return Outcome::Ok();
}

UndoRun RunUndo(TDBase& db, const Folders& folders, const std::string& account, Logger& log,
                const std::function<std::optional<bool>(const std::string& question)>& ask) {
  UndoRun run;
  const Outcome named = CheckAccountName(account);
  if (!named.IsOk()) {
    run.message = named.Message();
    return run;
  }
  const AccountFiles files = AccountFilesOf(db.FileName(), account);
  std::unique_ptr<InstanceLock> lock;
  try {
    lock = LockAccountFiles(db, folders, account, files);
  } catch (const std::exception& e) {
    run.message = UserText(e);
    return run;
  }
  RunHistory history(files.history);
  const UndoPlan plan = PlanUndo(db, history);
  if (!plan.Allowed()) {
    run.end = UndoRun::End::kRefused;
    run.message = plan.refusal;
    return run;
  }
  const std::optional<bool> answer = ask(UndoQuestion(*plan.run));
  if (!answer) {
    run.end = UndoRun::End::kNotAsked;
    return run;
  }
  if (!*answer) {
    run.end = UndoRun::End::kDeclined;
    return run;
  }
  const Outcome undone = UndoImport(db, files, history, *plan.run, log);
  run.end = undone.IsOk() ? UndoRun::End::kUndone : UndoRun::End::kFailed;
  run.message = undone.Message();
  return run;
}

}  // namespace kelvanor
