#include "import/id_map.h"

namespace kelvanor {

std::string IdMap::IndexKey(const std::string& tableKey, int32_t mobileId) {
  // The kind is one of a few fixed words without a NUL, so the NUL keeps
  // "stall" + 12 apart from any other kind and number.
  std::string key = tableKey;
  key += '\0';
  key += std::to_string(mobileId);
  return key;
}

int32_t IdMap::LookupNewId(const std::string& tableKey, int32_t mobileId) const {
  auto found = firstUsable_.find(IndexKey(tableKey, mobileId));
  return found == firstUsable_.end() ? 0 : entries_[found->second].dbId;
}

void IdMap::AddIdMapEntry(const std::string& tableKey, int32_t mobileId, int32_t dbId) {
  if (dbId != 0) firstUsable_.emplace(IndexKey(tableKey, mobileId), entries_.size());
  entries_.push_back({tableKey, mobileId, dbId});
}

void IdMap::TruncateTo(std::size_t size) {
  while (entries_.size() > size) {
    const IdMapEntry& last = entries_.back();
    if (last.dbId != 0) {
      auto found = firstUsable_.find(IndexKey(last.tableKey, last.mobileId));
      if (found != firstUsable_.end() && found->second == entries_.size() - 1) {
        firstUsable_.erase(found);
      }
    }
    entries_.pop_back();
  }
}

}  // namespace kelvanor
