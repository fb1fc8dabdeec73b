// mob_kunde_pferd_x.txt -> verbind. The file only adds links; both ends may be
// records created earlier in the same run.
#include <string>
#include <vector>

#include "import/import.h"
#include "import/record_values.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
constexpr std::size_t kHighestField = 10;
}  // namespace

void ImportOwnerHorseLinks(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const std::vector<std::string> f = SplitFields(line, kHighestField);
    if (f[0] == "DELETED") {
      ctx.KeepNotTaken(
          W1252("Gelöschte Verknüpfungen von Besitzer und Pferd übernimmt "
                "Kelvanor nicht; die Verknüpfung bleibt in der Praxis."));
      return;
    }
    if (!StartsWith(f[0], "N/") && !StartsWith(f[0], "A/") && !StartsWith(f[0], "AE/")) {
      RefuseUnknownOperation(ctx, "N/, A/, AE/ oder DELETED");
      return;
    }
    ImportLineGuarded(ctx, [&] {
      const int32_t customerId = ResolveReference(ctx, f[0], "besitzer");
      std::vector<std::string> elements;
      SplitFieldsBy('|', f[1], elements, 2);
      const int32_t horseId = ResolveReference(ctx, elements[1], "pferd");
      InsertValues(ctx.db, "verbind",
                   RecordValues().Integer("pferdindex", horseId).Integer("besitzerindex", customerId));
    });
  });
}

}  // namespace kelvanor
