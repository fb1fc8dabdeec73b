#include "sync/import_question.h"

#include <cstddef>

#include "import/received_data.h"
#include "import/received_preview.h"
#include "util/exchange_files.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {
// "mob_kunde_x.txt (2 Sätze)", "(1 Satz)": the records of a file, its header
// line not counted.
std::string Entry(const ReceivedFile& file) {
  return file.name + " (" + Counted(file.records.size(), "Satz", W1252("Sätze")) + ")";
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

std::string BuildImportQuestion(const TreeModel& tree, int* total, const EarlierImports* earlier,
                                const std::set<std::size_t>* refused) {
  std::string message = "Folgende Mobildaten importieren?\r\r";
  const ReceivedData received(tree);
  std::string files;
  for (const ReceivedFile& file : received.Files()) {
    // A file holding only its header brings nothing to import.
    if (file.records.empty()) continue;
    files += (files.empty() ? "" : ", ") + Entry(file);
  }
  message += files;
  // The file names say little to the farrier; the records in words do.
  const std::string summary = SummarizeReceived(tree, earlier, refused);
  if (!summary.empty()) message += "\r\r" + summary;
  const std::string unknown = UnknownChangeFiles(tree);
  if (!unknown.empty()) {
    // "Ja" lets the server drop them: the office must know it agrees to that.
    message += W1252("\r\rDiese Dateien kennt Kelvanor nicht: ") + unknown +
               W1252(". Ihre Zeilen werden nicht importiert, aber gesichert und in "
                     "nicht_importierte_Zeilen.txt aufgeführt; mit \"Ja\" werden sie auch auf "
                     "dem Server gelöscht.");
  }
  if (total != nullptr) *total = static_cast<int>(received.RecordCount());
  return message;
}

}  // namespace kelvanor
