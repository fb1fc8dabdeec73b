// mobv2.ini: the mobile's settings (program version, VAT rates, currency), the
// practice's own address and bank data, and the order types. Written as plain
// lines, not through an ini writer, so its layout is exactly ours.
#pragma once

#include <string>

#include "db/dbase.h"
#include "export/export.h"
#include "export/export_writers.h"

namespace kelvanor {

// The practice's address and bank data (settingsmandant, row nid = 1).
struct MandantData {
  std::string name;  // first name, one blank, surname
  std::string street, postcode, town, country, mobile, email;
  std::string bank1, account1, bankCode1, iban1, bic1;
  std::string bank2, account2, bankCode2, iban2, bic2;
  std::string vatId;
};

// Fills `data` from the row with nid = 1; without that row it stays as it is.
void ReadMandantData(TDBase& db, MandantData& data);

// Refreshes the rates from the first settings row; without a row they stay.
void ReadVatRates(TDBase& db, VatRates& rates);

// "Konto %s (%s), BLZ %s" with ", IBAN %s" and ", BIC %s" when those are set.
std::string BankText(const std::string& account, const std::string& bank,
                     const std::string& bankCode, const std::string& iban,
                     const std::string& bic);

// Writes mobv2.ini into the export folder. Numbers use the process separator.
void WriteMobV2Ini(ExportContext& ctx, const VatRates& rates, const std::string& versionString);

}  // namespace kelvanor
