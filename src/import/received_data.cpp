#include "import/received_data.h"

#include <unordered_map>

namespace kelvanor {

bool HoldsRecord(const std::string& line) {
  return line.find_first_not_of(" \t") != std::string::npos;
}

ReceivedData::ReceivedData(const TreeModel& tree) {
  const std::vector<TreeNode>& nodes = tree.Nodes();
  std::size_t position = 0;
  while (position < nodes.size()) {
    if (nodes[position].level != 1) {
      ++position;
      continue;
    }
    ReceivedFile file;
    file.position = position;
    file.name = nodes[position].text;
    file.exchange = ExchangeFileByChangeFile(file.name);
    ++position;
    std::unordered_map<std::string, std::size_t> seen;
    bool header = true;
    for (; position < nodes.size() && nodes[position].level == 2; ++position) {
      const TreeNode& node = nodes[position];
      if (header) {
        file.header = {position, 0, &node};
        header = false;
        continue;
      }
      if (!HoldsRecord(node.text)) continue;
      file.records.push_back({position, seen[node.text]++, &node});
    }
    file.end = position;
    files_.push_back(std::move(file));
  }
}

const ReceivedFile* ReceivedData::FileAt(std::size_t position) const {
  for (const ReceivedFile& file : files_) {
    if (file.position == position) return &file;
  }
  return nullptr;
}

std::size_t ReceivedData::RecordCount() const {
  std::size_t count = 0;
  for (const ReceivedFile& file : files_) count += file.records.size();
  return count;
}

}  // namespace kelvanor
