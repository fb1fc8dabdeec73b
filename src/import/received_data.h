// One reading of what a download brought, for everything that asks which of
// its lines are records: the import, the preview, the question, the journal,
// the look for new lines before the delete request. Read once from the
// received-data tree, so they all agree: a change file's first line is its
// header and never a record; a line holding nothing but blanks carries no
// record; identical lines (an owner link sent twice) are told apart by how
// often the same bytes came before in the file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "import/node_list.h"
#include "util/exchange_files.h"

namespace kelvanor {

struct ReceivedLine {
  std::size_t position = 0;    // the line's node in the tree
  std::size_t occurrence = 0;  // how often these very bytes came before in its file
  const TreeNode* node = nullptr;

  const std::string& Text() const { return node->text; }
  // Where it stands in its change file (1 is the header line).
  std::size_t Number() const { return node->lineNumber; }
  // Why the reading refused it ("" when it did not).
  const std::string& Refused() const { return node->refused; }
  // Earlier forms of the record the mobile wrote before this one.
  const std::vector<std::string>& Replaced() const { return node->replaced; }
};

struct ReceivedFile {
  std::size_t position = 0;  // the file node
  std::size_t end = 0;       // the first node after the file's lines
  std::string name;
  // Null for a change file of a kind the tool does not import.
  const ExchangeFile* exchange = nullptr;
  // The header line; null when the file holds no line at all.
  const ReceivedLine* Header() const { return header.node == nullptr ? nullptr : &header; }
  ReceivedLine header;
  std::vector<ReceivedLine> records;
};

class ReceivedData {
 public:
  explicit ReceivedData(const TreeModel& tree);

  const std::vector<ReceivedFile>& Files() const { return files_; }
  // The file whose node stands at `position`; null when none does.
  const ReceivedFile* FileAt(std::size_t position) const;
  // Record lines of all files together.
  std::size_t RecordCount() const;

 private:
  std::vector<ReceivedFile> files_;
};

// Whether a line holds anything but blanks and tabs.
bool HoldsRecord(const std::string& line);

}  // namespace kelvanor
