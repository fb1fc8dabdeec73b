#include "kept/account_files.h"

#include "kept/mobile_base.h"
#include "import/import_journal.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

AccountFiles AccountFilesOf(const std::string& databasePath, const std::string& account) {
  AccountFiles files;
  files.lock = databasePath + ".Kelvanor_" + account + ".lock";
  files.journal = databasePath + ".Kelvanor-Importjournal_" + account + ".db";
  files.baseFolder = databasePath + ".Kelvanor-Basis_" + account + kPathSep;
  files.restoreFolder = databasePath + ".Kelvanor-Wiederherstellung_" + account + kPathSep;
  files.history = databasePath + ".Kelvanor-Verlauf_" + account + ".db";
  return files;
}

std::unique_ptr<InstanceLock> LockAccountFiles(TDBase& db, const Folders& folders,
                                               const std::string& account,
                                               const AccountFiles& files) {
  // A link in the lock's place (dangling, say, into another folder) would
  // have the lock file made, and locked, wherever it leads.
  if (KindOfEntry(SystemPath(files.lock)) == EntryKind::kLink) {
    throw EInOutError("Die Sperrdatei " + files.lock +
                      W1252(" im Ordner der Praxis-Datenbank ist eine Verknüpfung. Kelvanor "
                            "folgt keinen Verknüpfungen: bitte sie entfernen, dann erneut "
                            "synchronisieren. Es wurde nichts übernommen."));
  }
  std::unique_ptr<InstanceLock> lock;
  try {
    lock = InstanceLock::TryAcquire(files.lock, InstanceLock::Reach::kEveryMachine);
  } catch (const EInOutError& e) {
    // A write-protected share: without the journal beside the database no
    // import could tell what another workstation already took.
    throw EInOutError(
        W1252("Kelvanor kann im Ordner der Praxis-Datenbank keine eigenen Dateien anlegen "
              "(ist der Ordner schreibgeschützt?). ") +
        std::string(e.what()) +
        W1252(" Kelvanor braucht dort Schreibrecht für die Sperre, das Importjournal und "
              "die Vergleichsbasis des Kontos. Es wurde nichts übernommen."));
  }
  if (lock == nullptr) {
    throw Exception(
        "Das Konto " + account +
        " wird gerade an einem anderen Arbeitsplatz (oder von "
        "einem anderen Benutzer) mit der Praxis-Datenbank " +
        db.FileName() +
        W1252(" synchronisiert. Bitte warten, bis diese Synchronisation fertig ist, und dann "
              "noch einmal synchronisieren. Es wurde nichts übernommen."));
  }
  ImportJournal::TakeOverLegacy(files.journal, folders.LegacyImportJournalFile(account), db);
  TakeOverLegacyBase(folders.LegacyBaseFolder(), files.baseFolder);
  return lock;
}

bool AccountInUse(const AccountFiles& files) {
  if (!FileExists(files.lock)) return false;
  try {
    return InstanceLock::TryAcquire(files.lock, InstanceLock::Reach::kEveryMachine) == nullptr;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kelvanor
