// The question put to the user before the import: which change files arrived
// and how many records each holds (the header line of a file is not counted).
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <cstddef>
#include <set>
#include <string>

#include "import/import_context.h"
#include "import/node_list.h"

namespace kelvanor {

// "Folgende Mobildaten importieren?" CR CR, then "file (%d Sätze)," per file
// with lines, the last one without the comma; then CR CR and the records by
// kind in words ("2 neue Kunden, 1 gelöschter Termin"), when there are any,
// with the lines an earlier run imported (`earlier`, may be null) counted
// apart (see SummarizeReceived). `total` (when given) receives the number of
// line nodes, header lines included; 0 means nothing arrived.
// Change files of a kind the tool does not know are named with what "Ja"
// does to them.
std::string BuildImportQuestion(const TreeModel& tree, int* total,
                                const EarlierImports* earlier = nullptr,
                                const std::set<std::size_t>* refused = nullptr);

// The change files in `tree` of a kind the tool does not import, by name,
// separated by ", "; "" when there is none.
std::string UnknownChangeFiles(const TreeModel& tree);

}  // namespace kelvanor
