// The field-level merge of changed records. A changed record ("A/" line)
// from the mobile carries every field, also those the farrier never touched.
// Each field is compared with what the mobile was last sent (the base: the
// data files of the last upload): a field equal to the base was not touched
// on the mobile and keeps the practice's current value; a field that differs
// is written. When the office changed the same field since the upload, to
// another value, the mobile's value wins and the run names the conflict.
//
// Fields the export cut off at 150 characters (absent in the base) count as
// untouched when the mobile sends them empty. A record without a base line
// (new since the last upload, or no base kept yet) is compared with the
// practice's own export instead: only what that cuts off is left alone, and
// no conflict can be told.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "db/dbase.h"
#include "import/import_summary.h"
#include "import/node_list.h"
#include "util/exchange_files.h"

namespace kelvanor {

// One record's line of a data file, split into its fields.
using DataFields = std::vector<std::string>;

// The lines of the data files of one folder, by kind and record id. A horse
// standing in two stables has two lines.
class DataFileSet {
 public:
  // Reads customers, stables, horses and appointments from `folder` (with a
  // trailing separator); a missing file reads as empty. `present` is false
  // when the folder holds none of them.
  explicit DataFileSet(const std::string& folder);
  DataFileSet() = default;

  bool Present() const { return present_; }
  const std::vector<DataFields>* Lines(FileKind kind, int32_t id) const;

 private:
  bool present_ = false;
  std::map<FileKind, std::map<int32_t, std::vector<DataFields>>> lines_;
};

// What the merge decides for one changed line.
struct LineMerge {
  // The change file's field numbers the mobile left as they were sent.
  std::set<std::size_t> untouched;
  std::vector<FieldConflict> conflicts;
  // One description per field that changes the practice, for the preview:
  // "Telefon: 0711 -> 0301234" ("-> " as the arrow; the window draws one).
  std::vector<std::string> changes;
};

class FieldMerge;

// Whether `tree` holds an "A/" line of a kind the merge compares (customers,
// stables, horses, appointments).
bool HoldsMergedChanges(const TreeModel& tree);

// For the preview: the changes each "A/" line of the tree would make, by the
// line's node position ("Telefon: 0711 -> 0301234"); lines that cannot be
// compared, and other lines, have none.
std::map<std::size_t, std::vector<std::string>> DescribeChanges(TDBase& db, const TreeModel& tree,
                                                                const FieldMerge& merge);

class FieldMerge {
 public:
  // `base`: the files of the last upload; `current`: the practice exported
  // now, for telling the office's changes since then.
  FieldMerge(DataFileSet base, DataFileSet current);

  // The decision for an "A/" line of `kind` (customers, stables, horses,
  // appointments) about record `id`; nullopt when the record cannot be
  // compared (no base line and no line in the practice's export), so the
  // line is written whole. `db` turns a
  // horse's shoeing interval number into the text the mobile shows.
  // `sent`, when given, is what the mobile had of the record instead of the
  // upload's line: the fields of the line it sent when it created the record
  // (imported by an earlier run whose delete request failed, so the upload
  // may not hold the record yet).
  std::optional<LineMerge> Decide(TDBase& db, FileKind kind, int32_t id,
                                  const std::vector<std::string>& fields,
                                  const std::vector<std::string>* sent = nullptr) const;

 private:
  DataFileSet base_;
  DataFileSet current_;
};

}  // namespace kelvanor
