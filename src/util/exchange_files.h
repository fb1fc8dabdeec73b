// The files Kelvanor and the mobile app exchange, one row per kind of record:
// the data file the export writes for the mobile, the change file the mobile
// sends back, their slots in the tool's two file tables (the order in which
// the upload lists data files and the received-data tree lists change files),
// and the import pass that reads the change file. Settings, export and import
// all take the names from here; each module binds its own writer or importer
// to the kind, so the layers keep pointing one way.
#pragma once

#include <array>
#include <string>

namespace kelvanor {

enum class FileKind {
  kCustomers,
  kStables,
  kCustomerHorses,
  kHorses,
  kArticles,
  kServices,
  kServiceGroups,
  kAppointments,
  kMobileSettings,     // mobv2.ini
  kOldMobileSettings,  // mob.ini: listed for the upload, written by nobody
  kOrders,
  kCashBook,
  kHoofReports,
};

struct ExchangeFile {
  FileKind kind;
  const char* dataFile;    // "" when the export writes none
  int dataSlot;            // slot in DataFiles; -1 when none
  const char* changeFile;  // "" when the mobile sends none
  int changeSlot;          // slot in ChangeFiles; -1 when none
  int importPass;          // 1 to 5; 0 when not imported
  // The tree keeps the last line of a record the mobile changed twice; the
  // owner links keep every line, since each stands for a link of its own.
  bool mergeLines;
};

// In the order the export writes the data files.
extern const std::array<ExchangeFile, 13> kExchangeFiles;

const ExchangeFile& ExchangeFileOf(FileKind kind);
// The row of a change file name; null for a name the mobile does not send.
const ExchangeFile* ExchangeFileByChangeFile(const std::string& changeFile);

}  // namespace kelvanor
