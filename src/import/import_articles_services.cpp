#include "import/import.h"

namespace kelvanor {

void ImportArticles(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx.tree, position, [](const std::string&) {});
}

void ImportServices(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx.tree, position, [](const std::string&) {});
}

}  // namespace kelvanor
