// mob_kunde_pferd_x.txt -> verbind. The file only adds links; both ends may be
// records created earlier in the same run.
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

void ImportOwnerHorseLinks(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kCustomerHorses, line);
    switch (read.op) {
      case LineOp::kNotTaken: ctx.KeepNotTaken(read.reason); break;
      case LineOp::kUnknown: ctx.FailLine(read.reason); break;
      default:
        ImportLineGuarded(ctx, [&] {
          const LinkValues link = ReadLinkValues(read.fields);
          const int32_t customerId = Resolve(ctx, link.customer, "besitzer");
          const int32_t horseId = Resolve(ctx, link.horse, "pferd");
          InsertValues(ctx.db, "verbind",
                       RecordValues().Integer("pferdindex", horseId).Integer("besitzerindex",
                                                                            customerId));
        });
        break;
    }
  });
}

}  // namespace kelvanor
