#include "cli/cli_options.h"

#include "util/encoding.h"
#include "util/w1252.h"

namespace kelvanor::cli {

namespace {

// A command line kelvanor-cli cannot take; the usage follows the message.
Outcome Fail(const std::string& message) {
  return Outcome::Failed("Aufruf", kExitUsage, message);
}

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

}  // namespace

std::string UsageText() {
  return "Aufruf:\n"
         "  kelvanor-cli [--db DATEI] export [ORDNER]\n"
         "  kelvanor-cli [--db DATEI] import [--yes] [ORDNER | --backup DATEI]\n"
         "  kelvanor-cli [--db DATEI] sync [--yes | --no]\n"
         "  kelvanor-cli [--db DATEI] undo-import [--yes]\n"
         "  kelvanor-cli [--db DATEI] history [--last N]\n"
         "  kelvanor-cli version\n"
         "  kelvanor-cli check-update\n";
}

Outcome ParseCliOptions(const std::vector<std::string>& args, CliOptions& options) {
  options = CliOptions();
  std::size_t i = 0;

  // Options before the command.
  for (; i < args.size() && LooksLikeOption(args[i]); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options = CliOptions();
      options.command = Command::kHelp;
      return Outcome::Ok();
    }
    std::string value;
    if (arg == "--db") {
      if (i + 1 >= args.size()) return Fail("Nach --db fehlt der Name der Datenbank-Datei.");
      value = args[++i];
    } else if (arg.rfind("--db=", 0) == 0) {
      value = arg.substr(5);
    } else {
      return Fail("Unbekannte Option: " + Utf8ToCp1252(arg));
    }
    if (options.hasDb) return Fail("--db ist mehrfach angegeben.");
    if (value.empty()) return Fail("Nach --db fehlt der Name der Datenbank-Datei.");
    options.hasDb = true;
    options.dbFile = Utf8ToCp1252(value);
  }

  if (i >= args.size()) return Fail("Es ist kein Befehl angegeben.");
  const std::string name = args[i++];
  if (name == "export") {
    options.command = Command::kExport;
  } else if (name == "import") {
    options.command = Command::kImport;
  } else if (name == "sync") {
    options.command = Command::kSync;
  } else if (name == "undo-import") {
    options.command = Command::kUndoImport;
  } else if (name == "history") {
    options.command = Command::kHistory;
  } else if (name == "version") {
    options.command = Command::kVersion;
  } else if (name == "check-update") {
    options.command = Command::kCheckUpdate;
  } else {
    return Fail("Unbekannter Befehl: " + Utf8ToCp1252(name));
  }

  const bool takesDir = options.command == Command::kExport || options.command == Command::kImport;
  const bool takesYes = options.command == Command::kImport || options.command == Command::kSync ||
                        options.command == Command::kUndoImport;
  const bool takesNo = options.command == Command::kSync;
  bool optionsEnded = false;
  for (; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && LooksLikeOption(arg)) {
      if (arg == "--yes" && takesYes) {
        options.yes = true;
      } else if (arg == "--no" && takesNo) {
        options.no = true;
      } else if (arg == "--backup" && options.command == Command::kImport) {
        if (i + 1 >= args.size() || args[i + 1].empty()) {
          return Fail("Nach --backup fehlt der Name der Sicherungsdatei.");
        }
        if (options.hasBackup) return Fail("--backup ist mehrfach angegeben.");
        options.hasBackup = true;
        options.backupFile = Utf8ToCp1252(args[++i]);
      } else if (arg == "--last" && options.command == Command::kHistory) {
        const std::string count = i + 1 < args.size() ? args[++i] : std::string();
        const bool digits = !count.empty() && count.size() <= 6 &&
                            count.find_first_not_of("0123456789") == std::string::npos;
        options.last = digits ? std::stoi(count) : 0;
        if (options.last <= 0) {
          return Fail(W1252("Nach --last gehört die Zahl der Läufe (1 oder mehr)."));
        }
      } else if (arg == "--db" || arg.rfind("--db=", 0) == 0) {
        return Fail("--db steht vor dem Befehl: kelvanor-cli --db DATEI " + name);
      } else {
        return Fail(W1252("Unbekannte Option für ") + name + ": " + Utf8ToCp1252(arg));
      }
    } else if (takesDir && !options.hasDir) {
      if (arg.empty()) return Fail(W1252("Der Ordner für ") + name + " ist leer.");
      options.hasDir = true;
      options.dir = Utf8ToCp1252(arg);
    } else {
      return Fail(W1252("Zu viele Argumente für ") + name + ": " + Utf8ToCp1252(arg));
    }
  }
  if (options.yes && options.no) return Fail(W1252("--yes und --no schließen sich aus."));
  if (options.hasBackup && options.hasDir) {
    return Fail(W1252("import nimmt einen Ordner oder --backup DATEI, nicht beides."));
  }

  return Outcome::Ok();
}

}  // namespace kelvanor::cli
