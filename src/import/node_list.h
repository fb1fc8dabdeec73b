// The received-data tree as the import sees it: an ordered list of nodes, each
// with a level (0 root, 1 change file, 2 line) and its raw Windows-1252 text.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvanor {

struct TreeNode {
  int level = 0;
  std::string text;
  // Earlier lines of the same record that this line replaced, oldest first
  // (see TreeModel::Replace).
  std::vector<std::string> replaced;
  // Where a line stands in its change file (1 for the header line); 0 for
  // the root and the file nodes.
  std::size_t lineNumber = 0;
  // Why the line cannot be imported as it stands (a letter the tool's
  // Windows-1252 texts lack, a NUL byte); "" for a line that can.
  std::string refused;
};

// The text of a line before its first ";" (the record key of a change line);
// the whole line when it has none.
inline std::string FirstField(const std::string& line) {
  const std::size_t semicolon = line.find(';');
  return semicolon == std::string::npos ? line : line.substr(0, semicolon);
}

// Nodes in flat order: root, first file node, its lines, next file node, ...
class TreeModel {
 public:
  std::size_t Count() const { return nodes_.size(); }
  int Level(std::size_t position) const { return nodes_[position].level; }
  const std::string& Text(std::size_t position) const { return nodes_[position].text; }
  const std::vector<TreeNode>& Nodes() const { return nodes_; }

  void Clear() { nodes_.clear(); }
  // Appends a node at the end of the flat list.
  void Append(int level, std::string text, std::size_t lineNumber = 0,
              std::string refused = std::string()) {
    nodes_.push_back({level, std::move(text), {}, lineNumber, std::move(refused)});
  }
  // A later line of the same record: it takes the node's place, and the
  // node remembers what it held (the import tells by it a record changed
  // again since an earlier run imported it).
  void Replace(std::size_t position, std::string text, std::size_t lineNumber = 0,
               std::string refused = std::string()) {
    TreeNode& node = nodes_[position];
    node.replaced.push_back(std::move(node.text));
    node.text = std::move(text);
    node.lineNumber = lineNumber;
    node.refused = std::move(refused);
  }
  std::size_t LineNumber(std::size_t position) const { return nodes_[position].lineNumber; }
  const std::string& Refused(std::size_t position) const { return nodes_[position].refused; }
  const std::vector<std::string>& Replaced(std::size_t position) const {
    return nodes_[position].replaced;
  }

 private:
  std::vector<TreeNode> nodes_;
};

}  // namespace kelvanor
