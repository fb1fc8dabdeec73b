// The id map of one import run: which database id a record created on the
// mobile received, keyed by kind ("besitzer", "stall", "pferd", "termin",
// "artikel", "leistung") and the mobile's own id.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kelvanor {

struct IdMapEntry {
  std::string tableKey;
  int32_t mobileId = 0;
  int32_t dbId = 0;
};

class IdMap {
 public:
  // dbId of the first entry (in insertion order) with this key and mobile id
  // and a non-zero dbId; 0 when there is none.
  int32_t LookupNewId(const std::string& tableKey, int32_t mobileId) const;
  void AddIdMapEntry(const std::string& tableKey, int32_t mobileId, int32_t dbId);

  std::size_t Size() const { return entries_.size(); }
  const IdMapEntry& Entry(std::size_t index) const { return entries_[index]; }
  // Drops the entries added after `size` (a line that was rolled back).
  void TruncateTo(std::size_t size);

 private:
  static std::string IndexKey(const std::string& tableKey, int32_t mobileId);

  std::vector<IdMapEntry> entries_;
  // Position of the first entry with a non-zero dbId per kind and mobile id,
  // so lookups stay fast when a run creates many records.
  std::unordered_map<std::string, std::size_t> firstUsable_;
};

}  // namespace kelvanor
