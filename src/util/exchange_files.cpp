#include "util/exchange_files.h"

namespace kelvanor {

const std::array<ExchangeFile, 13> kExchangeFiles = {{
    {FileKind::kCustomers, "mob_kunde.txt", 1, "mob_kunde_x.txt", 0, 1, true},
    {FileKind::kStables, "mob_stall.txt", 9, "mob_stall_x.txt", 1, 1, true},
    {FileKind::kCustomerHorses, "mob_kunde_pferd.txt", 2, "mob_kunde_pferd_x.txt", 3, 2, false},
    {FileKind::kHorses, "mob_pferd.txt", 5, "mob_pferd_x.txt", 2, 1, true},
    {FileKind::kArticles, "mob_artikel.txt", 0, "mob_artikel_x.txt", 8, 1, true},
    {FileKind::kServices, "mob_leistung.txt", 4, "mob_leistung_x.txt", 9, 1, true},
    {FileKind::kServiceGroups, "mob_leistgruppe.txt", 3, "", -1, 0, true},
    {FileKind::kAppointments, "mob_termin.txt", 6, "mob_termin_x.txt", 5, 1, true},
    {FileKind::kMobileSettings, "mobv2.ini", 8, "", -1, 0, true},
    {FileKind::kOldMobileSettings, "mob.ini", 7, "", -1, 0, true},
    {FileKind::kOrders, "", -1, "mob_rech_x.txt", 4, 3, true},
    {FileKind::kCashBook, "", -1, "mob_kasse_x.txt", 6, 4, true},
    {FileKind::kHoofReports, "", -1, "mob_report_x.txt", 7, 5, true},
}};

const ExchangeFile& ExchangeFileOf(FileKind kind) {
  for (const ExchangeFile& file : kExchangeFiles) {
    if (file.kind == kind) return file;
  }
  return kExchangeFiles.front();  // every kind has its row
}

const ExchangeFile* ExchangeFileByChangeFile(const std::string& changeFile) {
  if (changeFile.empty()) return nullptr;
  for (const ExchangeFile& file : kExchangeFiles) {
    if (changeFile == file.changeFile) return &file;
  }
  return nullptr;
}

}  // namespace kelvanor
