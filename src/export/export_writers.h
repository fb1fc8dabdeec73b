// The pieces of one export run: what the writers share, the eight data-file
// writers and the small readers of the settings tables. Used by export.cpp and
// by the tests; the rest of the program calls only ExportMobileData.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <unordered_map>
#include <utility>

#include "db/dbase.h"
#include "export/export_progress.h"
#include "export/last_appointment.h"
#include "platform/file_system.h"

namespace kelvanor {

// What the writers of one run share.
struct ExportContext {
  ExportContext(TDBase& database, std::string exportFolder, IExportProgress& progressView)
      : db(database), folder(std::move(exportFolder)), progress(progressView) {}

  TDBase& db;
  std::string folder;  // no trailing separator
  IExportProgress& progress;
  // "EUR" unless settings say otherwise; chooses the price columns.
  std::string currency = "EUR";
  // Prices are stored gross and exported net.
  bool billingTypeFlag = false;
  // The newest order date of every horse, read once per run.
  const LastAppointmentIndex* lastAppointments = nullptr;
  // Day number of "now" for the appointment window.
  double now = 0;

  // The last appointment day of a horse as its sub-field text: from the index
  // when the run has one, else by a single lookup.
  std::string LastAppointmentDay(int32_t horseId);

 private:
  std::unordered_map<std::string, std::string> dayFields_;  // date text -> sub-field
};

// The two ways a column becomes text in the data files. V: the variant's text
// (a NULL in a numeric column gives "0"). S: the plain text (a NULL gives "").
inline std::string FieldV(const TDBTable& row, const std::string& column) {
  return row.FieldAsVariant(column).AsString();
}
inline std::string FieldS(const TDBTable& row, const std::string& column) {
  return row.FieldAsString(column);
}

// The V forms of `columns` joined by ";".
std::string JoinFieldsV(const TDBTable& row, std::initializer_list<const char*> columns);

// Customers and stables: the fields after the key are cut to this many
// characters (the mobile's field limit), wherever the cut falls.
constexpr std::size_t kMaxFieldsLength = 150;
std::string LimitFieldsLength(std::string fields);

// One data file's lines, each ended by CR LF, written as they come (a
// practice's largest file is never held whole). Finish puts the file in the
// old one's place: readers, the zip among them, see the old or the new file,
// and an export that fails on the way leaves the old one.
class ExportLines {
 public:
  ExportLines(const ExportContext& ctx, const std::string& name);
  void Add(const std::string& line);
  void Finish();

 private:
  AtomicFileWriter file_;
};

// A row count as a progress bar maximum.
int ProgressMaximum(int64_t rows);

// How many rows `query` gives (counted by SQLite, nothing of them held).
int64_t RowsOf(TDBase& db, const std::string& query);

// Steps of the run, as the total bar counts them.
constexpr int kStepCustomers = 1;
constexpr int kStepCustomerHorses = 2;
constexpr int kStepHorses = 3;

void WriteCustomers(ExportContext& ctx);       // mob_kunde.txt
void WriteStables(ExportContext& ctx);         // mob_stall.txt
void WriteCustomerHorses(ExportContext& ctx);  // mob_kunde_pferd.txt, per-row progress
void WriteHorses(ExportContext& ctx);          // mob_pferd.txt, per-row progress
void WriteArticles(ExportContext& ctx);        // mob_artikel.txt
void WriteServices(ExportContext& ctx);        // mob_leistung.txt
void WriteServiceGroups(ExportContext& ctx);   // mob_leistgruppe.txt
void WriteAppointments(ExportContext& ctx);    // mob_termin.txt

// A price column divided by 1 + mwst/100 when prices are gross, written with
// "." in the general number format.
std::string NetPriceText(const TDBTable& row, const std::string& priceColumn,
                         bool billingTypeFlag);

// The appointment query for a given "now": everything starting after the
// moment 90 days before it.
std::string AppointmentQuery(double now);

// The export currency: "EUR" unless settings has a row whose hauptwaehrung is
// 0, then that row's basiswaehrung (which may be empty).
std::string ReadExportCurrency(TDBase& db);
// nabrechnungstyp of the first settings row as a flag; false without a row.
bool ReadBillingTypeFlag(TDBase& db);

}  // namespace kelvanor
