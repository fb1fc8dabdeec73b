// Lists for the office, kept in MobileFolder beside the backups: what a sync
// could not do by itself and someone has to do by hand (the received lines
// that were not imported), and what it overwrote that someone may want back
// (the office's values a conflict replaced). Every run only adds to them, so
// nothing a run kept is ever overwritten by the next; the files are
// Windows-1252 text with CR LF, for any editor.
//
// Room src/kept: the files the tool keeps beside the practice database and
// in the mobil folder. It uses the settings, the import and the export,
// never the sync run or the server.
#pragma once

#include <string>
#include <vector>

#include "settings/settings.h"
#include "import/import_summary.h"

namespace kelvanor {

// The list of the lines that were not imported.
constexpr char kNotImportedFile[] = "nicht_importierte_Zeilen.txt";
// The conflicts, one ";" line each, under a header line.
constexpr char kConflictFileName[] = "mob_konflikte.txt";

// Adds `text` at the end of ‹MobileFolder›/‹fileName›, creating folder and
// file when missing (a new file starts with `header`, when given), and
// returns the file's path. The file is replaced whole, so a crash leaves it
// as it was or with all of `text` added. Raises EInOutError with a German
// message when it cannot be written, and when a link (on Windows any
// reparse point) stands in its place: the file is never read or written
// through one.
std::string AppendToOfficeFile(const Folders& folders, const std::string& fileName,
                               const std::string& header, const std::string& text);

// Appends `entries` (each one or more lines of text, separated by "\r\n")
// under a heading "===== ‹title› vom 7.12.2026 09:05:07 =====" to
// ‹MobileFolder›/‹fileName›, creating folder and file when missing, and
// returns the file's path; no entries write nothing and give "". The file is
// replaced whole, so a crash leaves it as it was or with the whole run
// added, never half an entry. Raises EInOutError with a German message when
// it cannot be written.
std::string AppendToOfficeList(const Folders& folders, const std::string& fileName,
                               const std::string& title, const std::vector<std::string>& entries);

// Keeps every line of an import that was not imported (failed or not taken)
// in kNotImportedFile with file, line number, reason and the line as it was
// received, so the office can type it in. Returns the file's path, "" when
// every line was imported.
std::string KeepNotImportedLines(const Folders& folders, const ImportSummary& summary);

// One line per conflict: the moment, the record, the field, the office's value
// it overwrote and the mobile's value it took, separated by ";".
std::vector<std::string> ConflictFileLines(const std::vector<FieldConflict>& conflicts,
                                           const CivilTime& moment);

// Adds the conflicts of a run to kConflictFileName and returns its path; ""
// when there were none. Raises EInOutError when it cannot.
std::string KeepConflicts(const Folders& folders, const std::vector<FieldConflict>& conflicts);

}  // namespace kelvanor
