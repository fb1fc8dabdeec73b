#include "import/import.h"

namespace kelvanor {

void ImportHoofReports(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx.tree, position, [](const std::string&) {});
}

}  // namespace kelvanor
