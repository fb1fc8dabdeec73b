#include "cli/cli_context.h"

#include <exception>

#include "cli/cli_output.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/w1252.h"

namespace kelvanor::cli {

CliContext LoadCliContext(const CliOptions& options) {
  CliContext context;
  context.folders = DetermineFolders();
  ReadSettings(context.folders, context.settings);
  if (options.hasDb) {
    context.database.folder = ExtractFilePath(options.dbFile);
    context.database.file = options.dbFile.substr(context.database.folder.size());
    if (context.database.folder.empty()) context.database.folder = std::string(".") + kPathSep;
  } else {
    context.database =
        ReadHostDatabaseLocation(context.folders.HostIni(), context.folders.AppDataFolder);
  }
  return context;
}

bool OpenCliDatabase(CliContext& context) {
  try {
    context.lock = LockApplicationDataFolder(context.folders);
  } catch (const std::exception& e) {
    PrintErr(std::string(e.what()) + "\n");
    return false;
  }
  if (context.lock == nullptr) {
    PrintErr(std::string(kAlreadyRunningMessage) + "\n");
    return false;
  }
  if (context.database.file.empty()) {
    PrintErr("Keine Datenbank eingestellt: db_name fehlt in " + context.folders.HostIni() +
             W1252(".\nMit --db DATEI lässt sich die Datenbank angeben.\n"));
    return false;
  }
  try {
    context.db = std::make_unique<TDBase>(context.database.Path());
    return true;
  } catch (const std::exception& e) {
    PrintErr(W1252("Die Datenbank kann nicht geöffnet werden: ") + context.database.Path() + "\n" +
             e.what() + "\n");
    return false;
  }
}

}  // namespace kelvanor::cli
