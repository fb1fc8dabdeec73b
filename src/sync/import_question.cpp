#include "sync/import_question.h"

#include <cstddef>

#include "import/received_preview.h"
#include "util/exchange_files.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
std::string Entry(const std::string& file, std::size_t lines, bool last) {
  return file + " (" + std::to_string(lines - 1) + W1252(" Sätze)") + (last ? "" : ",");
}
}  // namespace

std::string UnknownChangeFiles(const TreeModel& tree) {
  std::string names;
  for (const TreeNode& node : tree.Nodes()) {
    if (node.level == 1 && ExchangeFileByChangeFile(node.text) == nullptr) {
      names += (names.empty() ? "" : ", ") + node.text;
    }
  }
  return names;
}

std::string BuildImportQuestion(const TreeModel& tree, int* total, const EarlierImports* earlier) {
  std::string message = "Folgende Mobildaten importieren?\r\r";
  std::size_t count = 0;
  std::size_t sum = 0;
  std::string currentFile;
  for (const TreeNode& node : tree.Nodes()) {
    if (node.level == 1) {
      // A file with lines is followed by another file node here, hence the comma.
      if (count > 0) message += Entry(currentFile, count, false);
      sum += count;
      currentFile = node.text;
      count = 0;
    } else if (node.level == 2) {
      ++count;
    }
  }
  if (count > 0) message += Entry(currentFile, count, true);
  sum += count;
  // The file names say little to the farrier; the records in words do.
  const std::string summary = SummarizeReceived(tree, earlier);
  if (!summary.empty()) message += "\r\r" + summary;
  const std::string unknown = UnknownChangeFiles(tree);
  if (!unknown.empty()) {
    // "Ja" lets the server drop them: the office must know it agrees to that.
    message += W1252("\r\rDiese Dateien kennt Kelvanor nicht: ") + unknown +
               W1252(". Ihre Zeilen werden nicht importiert, aber gesichert und in "
                     "nicht_importierte_Zeilen.txt aufgeführt; mit \"Ja\" werden sie auch auf "
                     "dem Server gelöscht.");
  }
  if (total != nullptr) *total = static_cast<int>(sum);
  return message;
}

}  // namespace kelvanor
