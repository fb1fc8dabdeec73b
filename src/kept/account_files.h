// The tool's own files that belong to a practice database and an account.
// They lie beside the database file, so whoever syncs that database with
// that account shares them: another workstation reaching it over a network
// share, another Windows user on the same machine. For praxis.db and hof1:
//
//   praxis.db.Kelvanor_hof1.lock              one sync at a time (see below)
//   praxis.db.Kelvanor-Importjournal_hof1.db  what was imported (ImportJournal)
//   praxis.db.Kelvanor-Basis_hof1\            what was uploaded (mobile_base.h)
//   praxis.db.Kelvanor-Wiederherstellung_hof1\ the practice before each import
//                                             (restore_points.h)
//   praxis.db.Kelvanor-Verlauf_hof1.db        what every run did (run_history.h)
//
// What stays in the application-data folder belongs to one Kelvanor there:
// settings, tmp.bat, the download folder, the backups.
//
// Room src/kept: the files the tool keeps beside the practice database and
// in the mobil folder. It uses the settings, the import and the export,
// never the sync run or the server.
#pragma once

#include <memory>
#include <string>

#include "settings/settings.h"
#include "db/dbase.h"
#include "platform/instance_lock.h"

namespace kelvanor {

struct AccountFiles {
  std::string lock;
  std::string journal;
  std::string baseFolder;  // ends with the path separator
  std::string restoreFolder;  // ends with the path separator
  std::string history;
};

// The files for `databasePath` and `account` (which must have passed
// CheckAccountName).
AccountFiles AccountFilesOf(const std::string& databasePath, const std::string& account);

// Takes the lock of `files` for a sync of `db` with `account`, so no other
// Kelvanor anywhere syncs them meanwhile, and takes over what an earlier
// version kept for the account in the application-data folder. Raises
// Exception with a German message when another sync holds the lock, and
// EInOutError when the database's folder takes no file of the tool's.
std::unique_ptr<InstanceLock> LockAccountFiles(TDBase& db, const Folders& folders,
                                               const std::string& account,
                                               const AccountFiles& files);

// Whether a run of the account holds `files`' lock now (a run without its end
// in the history is then under way, not interrupted). Takes and frees the
// lock to find out.
bool AccountInUse(const AccountFiles& files);

}  // namespace kelvanor
