// The received lines in the farrier's words, before the import: what each
// line will do to which record ("Neuer Kunde Müller, Jörg", "Gelöschter
// Termin 13.01.2027 12:00–18:00 Kontrolle, Hof"), and the whole download
// summed up by kind ("2 neue Kunden, 1 geänderter Kunde"). Records the line
// names only by id are looked up in the practice, all at once. The window
// and the CLI show the same texts beside the tree; the tree itself, which
// the import and the backup read, is left as it is. Texts are Windows-1252.
#pragma once

#include <cstddef>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "import/import_context.h"
#include "import/import_journal.h"
#include "import/node_list.h"
#include "util/exchange_files.h"

namespace kelvanor {

class FieldMerge;

// What a record line (not a header line) of a change file of `kind` does
// when it is imported.
enum class LineEffect { kNone, kNew, kChanged, kDeleted };
LineEffect EffectOf(FileKind kind, const std::string& line);

// The record lines of `tree` by kind and effect, in the order the kinds
// arrive: "2 neue Kunden, 1 geänderter Kunde, 1 gelöschter Termin, 1 Zeile
// ohne Wirkung"; "" when the tree holds no record line. Lines an earlier run
// imported (`earlier`, may be null) are counted apart: "2 schon übernommene
// Zeilen", and a record changed on the mobile since as the change it is.
// Lines the import will refuse (`refused`, by position, may be null; see
// DescribeReceived) are counted apart too: "1 Zeile wird nicht übernommen".
std::string SummarizeReceived(const TreeModel& tree, const EarlierImports* earlier = nullptr,
                              const std::set<std::size_t>* refused = nullptr);

// For line nodes of the received-data tree, by node position: what each
// line does, in words.
using LineDescriptions = std::map<std::size_t, std::vector<std::string>>;

// Every line node of `tree` gets its description: the header line says it
// is one, a record line names what it does to which record; for a changed
// record the fields it changes follow (see DescribeChanges). With `db` null
// the records are named only from what the lines themselves hold; `merge`
// may be null (no field changes then). A line an earlier run imported
// (`earlier`, may be null) says so first: the import skips it.
// A line the import will refuse says so after its headline, with the
// import's own reason ("... wird nicht übernommen: ..."), and names no field
// change; `refused` (when given) receives the positions of those lines.
LineDescriptions DescribeReceived(TDBase* db, const TreeModel& tree, const FieldMerge* merge,
                                  const EarlierImports* earlier = nullptr,
                                  std::set<std::size_t>* refused = nullptr);

// What the import journal at `journalPath` says of the lines of `tree` (see
// EarlierImportsOf), for the preview. The journal is opened, read and closed
// again here, so it is never open twice at once when the import opens it;
// like the import's, the opening checks its runs against `db`. Without a
// journal, or with one that cannot be read, nothing: the import then tells
// what is wrong with it.
// `droppedRuns` (when given) receives how many earlier runs the opening
// dropped because their records are no longer in `db` (ImportJournal::
// DroppedRuns).
EarlierImports EarlierImportsForPreview(TDBase& db, const std::string& journalPath,
                                        const TreeModel& tree,
                                        JournalScope scope = JournalScope::kServer,
                                        std::size_t* droppedRuns = nullptr);

}  // namespace kelvanor
