// ExportMobileData: writes everything the mobile app needs into one folder:
// the eight data files mob_*.txt and the settings file mobv2.ini. Every run
// rewrites every file from the database; nothing is incremental.
//
// Each file is assembled in memory and then replaces the previous one in a
// single rename, so an export that stops half-way (a query error, a value that
// is no number, a disk that is full) leaves every file either complete and new
// or complete and old, never cut short.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "export/export_progress.h"
#include "util/outcome.h"

namespace kelvanor {

// The practice's two VAT rates as last read from `settings`. They start at 0
// and keep their value when a later export finds no settings row, which is why
// they outlive a run.
struct VatRates {
  double MwSt = 0;
  double MwSt2 = 0;
};

// What one export hands to the next. The caller keeps one ExportState for the
// lifetime of the program (the sync driver owns it; the CLI makes a fresh one
// per process) and passes it to every run.
struct ExportState {
  VatRates vatRates;
};

// What the export needs to know about the program and the moment.
struct ExportEnvironment {
  // Line 2 of mobv2.ini: the program version "1.0.0.72" (ExeVersionString()).
  std::string versionString;
  // The moment the appointment window is measured from, as a day number;
  // absent means "now". Tests fix it to make the window exact.
  std::optional<double> now;

  // The environment of the running program: its version, the current moment.
  static ExportEnvironment ForThisProgram();
};

// The whole export into `exportFolder` (no trailing separator). When the
// folder is missing it is created, one level only: its parent must exist;
// when it neither exists nor can be made, nothing is read or written and the
// outcome says "Kann Verzeichnis ... nicht erstellen." for the caller to show.
//
// Progress goes to `progress` step by step ("Kunden" ... "mobv2.ini",
// "fertig!"). Errors while querying, converting or writing (ESQLiteException,
// EConvertError, EInOutError) end the export at that point and pass to the
// caller; the files of earlier steps are then new, the later ones unchanged.
Outcome ExportMobileData(TDBase& db, const std::string& exportFolder, IExportProgress& progress,
                         ExportState& state, const ExportEnvironment& env);

// The nine file names, in the order the export writes them.
std::vector<std::string> ExportFileNames();

}  // namespace kelvanor
