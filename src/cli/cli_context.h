// What every database command of kelvanor-cli starts from: the folders and
// settings exactly as the window reads them at start, and the practice
// database.
#pragma once

#include <memory>
#include <string>

#include "settings/settings.h"
#include "cli/cli_options.h"
#include "db/dbase.h"

namespace kelvanor::cli {

struct CliContext {
  Folders folders;
  Settings settings;
  HostDatabaseLocation database;  // from tessavor.ini, or --db
  std::unique_ptr<InstanceLock> lock;  // set by OpenCliDatabase
  std::unique_ptr<TDBase> db;          // set by OpenCliDatabase
};

// DetermineFolders, ReadSettings, ReadHostDatabaseLocation(HostIni); --db
// replaces the database location. Reading settings never fails.
CliContext LoadCliContext(const CliOptions& options);

// Takes the application-data folder's lock, so no other Kelvanor works on
// the same folder meanwhile, then opens context.database. When either fails
// (another Kelvanor runs, or the file cannot be opened), prints a German
// message to stderr and returns false; the command then ends with kExitError.
bool OpenCliDatabase(CliContext& context);

}  // namespace kelvanor::cli
