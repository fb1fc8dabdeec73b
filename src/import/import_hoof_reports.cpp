// mob_report_x.txt -> verbindbeschlag, one row per report. Reports are only
// added. The order id and the date arrive as SQL values written by the
// mobile; they are read as values and written anew, so a line can never
// carry SQL of its own into the statement.
#include <charconv>
#include <cmath>
#include <string>
#include <vector>

#include "db/sql.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/errors.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

constexpr std::size_t kHighestField = 16;
constexpr std::size_t kFirstTextField = 4;
// The columns of fields 4 to 16, in field order.
const char* const kTextColumns[] = {"z_ges",  "besonderheitenalt", "behandlung", "besonderheiten",
                                    "pflegehinweis", "z_vl", "z_vr", "z_hl", "z_hr", "txt_vl",
                                    "txt_vr", "txt_hl", "txt_hr"};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A plain decimal number: one optional sign, digits with an optional
// fraction, an optional exponent, and a finite value.
bool IsNumber(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
  std::size_t digits = 0;
  while (i < n && IsDigit(text[i])) ++i, ++digits;
  if (i < n && text[i] == '.') {
    ++i;
    while (i < n && IsDigit(text[i])) ++i, ++digits;
  }
  if (digits == 0) return false;
  if (i < n && (text[i] == 'e' || text[i] == 'E')) {
    ++i;
    if (i < n && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponentDigits = 0;
    while (i < n && IsDigit(text[i])) ++i, ++exponentDigits;
    if (exponentDigits == 0) return false;
  }
  if (i != n) return false;
  // SQLite would read an overflowing number as infinity.
  const char* first = text.data() + (text[0] == '+' || text[0] == '-' ? 1 : 0);
  double value = 0.0;
  const auto result = std::from_chars(first, text.data() + n, value);
  return result.ec == std::errc() && std::isfinite(value);
}

// The content of a string literal quoted with `quote`, the quote doubled
// inside; false when the text is not exactly one such literal.
bool UnquoteLiteral(const std::string& text, char quote, std::string& value) {
  if (text.size() < 2 || text.front() != quote || text.back() != quote) return false;
  value.clear();
  for (std::size_t i = 1; i + 1 < text.size(); ++i) {
    if (text[i] == quote) {
      if (i + 2 >= text.size() || text[i + 1] != quote) return false;
      ++i;
    }
    value += text[i];
  }
  return true;
}

// The field as one SQL value: a number, a string in single or double quotes,
// or NULL, with blanks around it. Anything else is refused with `what` named.
SqlParam SqlValue(const std::string& field, const std::string& what) {
  const std::string text = Trim(field);
  if (IsNumber(text)) return SqlParam::Number(text);
  if (AsciiLowerCase(text) == "null") return SqlParam::Null();
  std::string value;
  if (UnquoteLiteral(text, '\'', value) || UnquoteLiteral(text, '"', value)) {
    return SqlParam::Text(value);
  }
  throw EConvertError("'" + field + W1252("' ist kein gültiger Wert für ") + what);
}

void ImportReportLine(ImportContext& ctx, const std::vector<std::string>& f) {
  RecordValues values;
  values.Integer("pferdindex", ResolveReference(ctx, f[1], "pferd"));
  // One after the other, so the message names the first field in error.
  values.Value("auftragindex", SqlValue(f[2], "die Auftragsnummer"));
  values.Value("datum", SqlValue(f[3], "das Datum"));
  for (std::size_t i = kFirstTextField; i <= kHighestField; ++i) {
    values.Text(kTextColumns[i - kFirstTextField], f[i]);
  }
  InsertValues(ctx.db, "verbindbeschlag", values);
}

}  // namespace

void ImportHoofReports(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (StartsWith(f[0], "A/") || StartsWith(f[0], "D/")) {
      ctx.KeepNotTaken(
          W1252("Geänderte und gelöschte Hufberichte übernimmt Kelvanor nicht; "
                "der Bericht bleibt in der Praxis, wie er ist."));
      return;
    }
    if (!StartsWith(f[0], "N/")) {
      RefuseUnknownOperation(ctx, "N/, A/ oder D/");
      return;
    }
    ImportLineGuarded(ctx, [&] { ImportReportLine(ctx, f); });
  });
}

}  // namespace kelvanor
