#include "export/export.h"

#include <filesystem>
#include <system_error>

#include "export/export_writers.h"
#include "util/exchange_files.h"
#include "export/last_appointment.h"
#include "export/mobv2_ini.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "util/daynumber.h"
#include "util/encoding.h"
#include "util/numbers.h"

namespace kelvanor {

std::vector<std::string> ExportFileNames() {
  std::vector<std::string> names;
  for (const ExchangeFile& file : kExchangeFiles) {
    if (*file.dataFile != '\0' && file.kind != FileKind::kOldMobileSettings) {
      names.push_back(file.dataFile);
    }
  }
  return names;
}

ExportEnvironment ExportEnvironment::ForThisProgram() {
  ExportEnvironment env;
  env.versionString = ExeVersionString();
  return env;
}

std::string ReadExportCurrency(TDBase& db) {
  std::string currency = "EUR";
  auto table = db.Query("SELECT basiswaehrung, hauptwaehrung FROM settings");
  if (!table->Eof() && table->FieldAsVariant("hauptwaehrung").AsDouble() == 0) {
    currency = FieldV(*table, "basiswaehrung");
  }
  return currency;
}

bool ReadBillingTypeFlag(TDBase& db) {
  auto table = db.Query("SELECT nabrechnungstyp FROM settings");
  return !table->Eof() && table->FieldAsVariant("nabrechnungstyp").AsBoolean();
}

namespace {

// One level only: a missing parent means the configured place is wrong, and
// building a whole path there would hide that.
bool EnsureExportFolder(const std::string& folder) {
  if (DirectoryExists(folder)) return true;
  std::error_code ec;
  return std::filesystem::create_directory(SystemPath(folder), ec) && DirectoryExists(folder);
}

}  // namespace

Outcome ExportMobileData(TDBase& db, const std::string& exportFolder, IExportProgress& progress,
                         ExportState& state, const ExportEnvironment& env) {
  if (!EnsureExportFolder(exportFolder)) {
    return Outcome::Failed("Export", 0, "Kann Verzeichnis " + exportFolder + " nicht erstellen.");
  }

  ReadVatRates(db, state.vatRates);
  progress.SetTotalMaximum(8);
  progress.SetTotalBold(false);

  ExportContext ctx{db, exportFolder, progress};
  ctx.now = env.now ? *env.now : NowDayNumber();

  progress.ShowExportStep("Kunden", 0, kStepCustomers);
  WriteCustomers(ctx);
  WriteStables(ctx);

  progress.ShowExportStep("Kunden+Pferde", 0, kStepCustomerHorses);
  // Both horse files need the newest order date of every horse: one grouped
  // read instead of a table scan per horse.
  const LastAppointmentIndex lastAppointments(db);
  ctx.lastAppointments = &lastAppointments;
  WriteCustomerHorses(ctx);

  progress.ShowExportStep("Pferde", 0, kStepHorses);
  WriteHorses(ctx);

  ctx.currency = ReadExportCurrency(db);
  ctx.billingTypeFlag = ReadBillingTypeFlag(db);

  {
    // The mobile reads prices, rates and moments with a decimal point whatever
    // the desktop's locale; this also covers REAL columns the database layer
    // turns into text.
    ScopedDecimalSeparator point('.');
    progress.ShowExportStep("Artikel", 0, 4);
    WriteArticles(ctx);
    progress.ShowExportStep("Leistungen", 0, 5);
    WriteServices(ctx);
    progress.ShowExportStep("Lst.gruppen", 0, 6);
    WriteServiceGroups(ctx);
    progress.ShowExportStep("Termine", 0, 7);
    WriteAppointments(ctx);
  }

  progress.ShowExportStep("mobv2.ini", 0, 8);
  WriteMobV2Ini(ctx, state.vatRates, env.versionString);

  // Both bars at their end: the export is done, nothing is left to show.
  progress.SetStepMaximum(1);
  progress.ShowExportStep("fertig!", 1, 8);
  progress.SetTotalBold(true);
  return Outcome::Ok();
}

}  // namespace kelvanor
