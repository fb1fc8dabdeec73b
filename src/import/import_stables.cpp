// mob_stall_x.txt -> stall. Stables are created and changed, never deleted; a
// line whose error is caught fails alone.
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"

namespace kelvanor {

namespace {

void ImportStableLine(ImportContext& ctx, const ClassifiedLine& read) {
  const std::vector<std::string>& f = read.fields;
  const int32_t id = ReadLineId(f);
  if (read.op == LineOp::kNew) {
    RecordValues values = ReadRecordColumns(FileKind::kStables, f);
    values.Number("erstelltam", ctx.Now()).Text("erstelltvon", "MOB");
    ctx.idMap.AddIdMapEntry("stall", id, InsertValues(ctx.db, "stall", values));
  } else {
    const auto untouched = ctx.UntouchedFields(FileKind::kStables, id, f);
    UpdateChangedRecord(
        ctx, "stall", ReadRecordColumns(FileKind::kStables, f, untouched ? &*untouched : nullptr),
        id);
  }
}

}  // namespace

void ImportStables(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kStables, line);
    switch (read.op) {
      case LineOp::kNotTaken: ctx.KeepNotTaken(read.reason); break;
      case LineOp::kUnknown: ctx.FailLine(read.reason); break;
      default: ImportLineGuarded(ctx, [&] { ImportStableLine(ctx, read); }, "stall"); break;
    }
  });
}

}  // namespace kelvanor
