#include "export/mobv2_ini.h"

#include "util/exchange_files.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

std::string Quoted(const std::string& key, const std::string& value) {
  return key + "=\"" + value + "\"";
}

}  // namespace

void ReadMandantData(TDBase& db, MandantData& data) {
  auto table = db.Query("SELECT * FROM settingsmandant WHERE nid = 1");
  if (table->Eof()) return;
  auto v = [&](const std::string& column) { return FieldV(*table, column); };
  data.name = v("vorname") + " " + v("name");
  // The host names the column after the German word; it is stored without ß.
  data.street = v(Transliterate(W1252("straße")));
  data.postcode = v("plz");
  data.town = v("ort");
  data.country = v("land");
  data.mobile = v("mobil");
  data.email = v("email");
  data.bank1 = v("bank1");
  data.account1 = v("konto1");
  data.bankCode1 = v("blz1");
  data.iban1 = v("iban1");
  data.bic1 = v("bicswift1");
  data.bank2 = v("bank2");
  data.account2 = v("konto2");
  data.bankCode2 = v("blz2");
  data.iban2 = v("iban2");
  data.bic2 = v("bicswift2");
  data.vatId = v("ustidnummer");
}

void ReadVatRates(TDBase& db, VatRates& rates) {
  auto table = db.Query("SELECT * FROM settings");
  if (table->Eof()) return;
  const double mwst = table->FieldAsVariant("MwSt").AsDouble();
  const double mwst2 = table->FieldAsVariant("MwSt2").AsDouble();
  rates.MwSt = mwst;
  rates.MwSt2 = mwst2;
}

std::string BankText(const std::string& account, const std::string& bank,
                     const std::string& bankCode, const std::string& iban,
                     const std::string& bic) {
  std::string text = "Konto " + account + " (" + bank + "), BLZ " + bankCode;
  if (!iban.empty()) text += ", IBAN " + iban;
  if (!bic.empty()) text += ", BIC " + bic;
  return text;
}

void WriteMobV2Ini(ExportContext& ctx, const VatRates& rates, const std::string& versionString) {
  MandantData mandant;
  ReadMandantData(ctx.db, mandant);

  ExportLines lines(ctx, ExchangeFileOf(FileKind::kMobileSettings).dataFile);
  lines.Add("[general]");
  lines.Add(Quoted("ZorFtp-Version", versionString));
  lines.Add("Def_AuftrTyp=10");
  lines.Add("fMwSt=" + FloatToStr(rates.MwSt));
  lines.Add("fMwSt2=" + FloatToStr(rates.MwSt2));
  lines.Add(Quoted("Waehrung", ctx.currency));
  lines.Add("[Mandant]");
  lines.Add(Quoted("Name", mandant.name));
  lines.Add(Quoted("Strasse", mandant.street));
  lines.Add(Quoted("PLZOrt", mandant.postcode + " " + mandant.town));
  lines.Add(Quoted("Land", mandant.country));
  lines.Add(Quoted("Mobil", mandant.mobile));
  lines.Add(Quoted("Bank1", BankText(mandant.account1, mandant.bank1, mandant.bankCode1,
                                     mandant.iban1, mandant.bic1)));
  lines.Add(Quoted("Bank2", mandant.account2.empty()
                                ? std::string()
                                : BankText(mandant.account2, mandant.bank2, mandant.bankCode2,
                                           mandant.iban2, mandant.bic2)));
  lines.Add(Quoted("Email", mandant.email));
  lines.Add(Quoted("UStIdNr", mandant.vatId));
  lines.Add("[Auftragstyp]");
  {
    // In the order the database returns them; nid 0 is the placeholder type.
    auto table = ctx.db.Query("SELECT * FROM zauftragstyp WHERE nid <> 0");
    for (; !table->Eof(); table->Next()) {
      lines.Add(Quoted(FieldV(*table, "nid"), FieldV(*table, "text")));
    }
  }
  lines.Finish();
}

}  // namespace kelvanor
