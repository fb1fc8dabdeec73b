// Environment and the program's own identity.
#pragma once

#include <ctime>
#include <string>

#include "util/daynumber.h"

namespace kelvanor {

// Value of an environment variable (Windows-1252); "" when unset or empty.
std::string GetEnvVar(const std::string& name);

// Who runs the program, for the history of the runs: the computer's name and
// the user's login name; "" when the system does not tell.
std::string WorkstationName();
std::string LoginName();

// The program version "%d.%d.%d.%d", e.g. 1.0.0.72: compiled in on Linux,
// read from the executable's own version resource on Windows ("" when the
// resource is missing).
std::string ExeVersionString();

// Folder of the running executable, with a trailing separator.
std::string ExecutableFolder();

// The folder that holds the per-user application data ("dasTessavor" goes
// below it), without a trailing separator; "" when none is known. Windows:
// %APPDATA%. Linux: $APPDATA, else $XDG_CONFIG_HOME, else $HOME/.config.
std::string ApplicationDataBase();

// The first character of that folder's name that Windows-1252 has no byte
// for, as "U+0141"; "" when there is none. ApplicationDataBase then holds a
// stand-in ("?", or a look-alike letter on Windows) and names another folder.
std::string ApplicationDataBaseCharacterLost();

// The decimal separator of the user's number format (one byte, e.g. ','
// for German); '\0' when it cannot be told or is longer than one byte.
char UserDecimalSeparator();

// The broken-down local time of a moment.
std::tm LocalTime(std::time_t moment);

// The current local moment.
CivilTime NowCivil();
double NowDayNumber();

// Reads the separator of the user's locale (LC_NUMERIC from the environment)
// and makes it the process setting; the C library's locale is left as it was.
void InitDecimalSeparatorFromLocale();

// The platform's path separator, and every character that separates folders
// in a path this system accepts.
#ifdef _WIN32
constexpr char kPathSep = '\\';
constexpr char kPathSeparators[] = "\\/";
#else
constexpr char kPathSep = '/';
constexpr char kPathSeparators[] = "/";
#endif

}  // namespace kelvanor
