// A practice database copied whole, and put back whole, through SQLite's
// online backup: consistent in every journal mode while others may read, and
// never a file copy of a database someone has open. And the fingerprint of a
// database's content, to tell later whether anyone changed anything.
#pragma once

#include <string>

#include "db/dbase.h"

namespace kelvanor {

// Copies everything `db` holds into a new database file at `path`, which is
// written beside under a temporary name, pushed to the disk and only then
// given its name (its folder's entry pushed too): a copy that stands is
// whole. Raises EInOutError with a German message naming the reason (no
// room, no rights, a file in the way) and leaves nothing behind.
void CopyDatabaseTo(TDBase& db, const std::string& path);

// Puts the content of the database file at `path` into `db` in place: the
// practice's file keeps its name, its rights and its journal mode, and the
// whole content changes in one transaction of `db`, written with
// synchronous=FULL, so a crash leaves it as before or as after. Raises
// EInOutError (German) when `path` is no readable database, and
// EDatabaseFailure when `db` cannot be written; `db` is then unchanged.
void RestoreDatabaseFrom(TDBase& db, const std::string& path);

// SHA-256 over the schema and every row of every table (in rowid order, every
// value with its storage class and its bytes as SQLite holds them): equal for
// two databases only when they hold the same content. Raises
// EDatabaseFailure when the database cannot be read.
std::string ContentFingerprint(TDBase& db);

}  // namespace kelvanor
