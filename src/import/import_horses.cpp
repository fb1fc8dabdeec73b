// mob_pferd_x.txt -> pferd, with each horse's stable link in verbindstall.
// Every line is guarded: a line whose error is caught fails alone.
#include <optional>
#include <string>
#include <vector>

#include "import/change_lines.h"
#include "import/import.h"
#include "import/record_values.h"
#include "util/errors.h"
#include "util/numbers.h"
#include "util/text.h"
#include "util/w1252.h"

namespace kelvanor {

namespace {

int32_t StableId(const ImportContext& ctx, const std::string& reference) {
  return Resolve(ctx, ReadReference("Stall", reference, false), "stall");
}

void LinkStable(ImportContext& ctx, int32_t horseId, int32_t stableId) {
  auto existing = ctx.db.QueryBound(
      "SELECT * FROM verbindstall WHERE pferdindex=?1 AND stallindex=?2",
      {SqlParam::Integer(horseId), SqlParam::Integer(stableId)});
  // A horse already linked to the named stable keeps all its links: one that
  // stands in two stables comes as two lines, one per stable, and pointing
  // every link at the stable of the line would lose the other one.
  if (!existing->Eof()) return;
  InsertValues(ctx.db, "verbindstall",
               RecordValues().Integer("stallindex", stableId).Integer("pferdindex", horseId));
}

// An interval given as the plain number the export sends.
std::optional<int32_t> IntervalNumber(const std::string& trimmed) {
  if (trimmed.empty() || trimmed.find_first_not_of("0123456789") != std::string::npos ||
      trimmed.size() > 9) {
    return std::nullopt;
  }
  return std::stoi(trimmed);
}

// Stored as 0, an interval the practice lacks would leave the horse without
// one while the farrier believes it set: the line fails and is named instead.
int32_t IntervalOrFail(TDBase& db, const std::string& text, int32_t horseId) {
  const std::optional<int32_t> interval = HorseLineInterval(db, text, horseId);
  if (!interval) throw EConvertError(UnknownShoeingInterval(text));
  return *interval;
}

void ImportHorseLine(ImportContext& ctx, const ClassifiedLine& read) {
  const std::vector<std::string>& f = read.fields;
  if (read.op == LineOp::kDeleted) {
    RecycleRecord(ctx, f[0], "pferd", "pferd", "Pferd");
    return;
  }
  if (read.op == LineOp::kNew) {
    RecordValues values = ReadRecordColumns(FileKind::kHorses, f);
    const int32_t stableId = StableId(ctx, f[6]);
    const int32_t mobileId = ReadLineId(f);
    values.Integer("beschlagsrhythmus", IntervalOrFail(ctx.db, f[3], 0))
        .Number("erstelltam", ctx.Now())
        .Text("erstelltvon", "MOB");
    const int32_t horseId = InsertValues(ctx.db, "pferd", values);
    ctx.idMap.AddIdMapEntry("pferd", mobileId, horseId);
    LinkStable(ctx, horseId, stableId);
    return;
  }
  const int32_t horseId = ReadLineId(f);
  const auto untouched = ctx.UntouchedFields(FileKind::kHorses, horseId, f);
  auto changed = [&](std::size_t field) { return !untouched || untouched->count(field) == 0; };
  RecordValues values = ReadRecordColumns(FileKind::kHorses, f, untouched ? &*untouched : nullptr);
  const int32_t stableId = changed(6) ? StableId(ctx, f[6]) : 0;
  if (changed(3)) values.Integer("beschlagsrhythmus", IntervalOrFail(ctx.db, f[3], horseId));
  // A horse the practice no longer has gets no new stable link either.
  UpdateChangedRecord(ctx, "pferd", values, horseId);
  if (changed(6)) LinkStable(ctx, horseId, stableId);
}

}  // namespace

std::optional<int32_t> ShoeingIntervalId(TDBase& db, const std::string& text) {
  const std::string trimmed = Trim(text);
  if (trimmed.empty()) return 0;
  auto row = db.QueryBound("SELECT nid FROM zbeschlagsrhythmus WHERE text = ?1",
                           {SqlParam::Text(text)});
  if (!row->Eof()) return static_cast<int32_t>(row->FieldAsVariant("nid").AsInteger());
  // The export sends the interval as its number; a horse line that echoes
  // it back keeps its interval instead of losing it.
  const std::optional<int32_t> number = IntervalNumber(trimmed);
  if (!number) return std::nullopt;
  // 0 is what the export sends for a horse without an interval.
  if (*number == 0) return 0;
  auto byNumber = db.QueryBound("SELECT nid FROM zbeschlagsrhythmus WHERE nid = ?1",
                                {SqlParam::Integer(*number)});
  if (byNumber->Eof()) return std::nullopt;
  return static_cast<int32_t>(byNumber->FieldAsVariant("nid").AsInteger());
}

std::optional<int32_t> HorseLineInterval(TDBase& db, const std::string& text, int32_t horseId) {
  const std::optional<int32_t> listed = ShoeingIntervalId(db, text);
  if (listed || horseId == 0) return listed;
  // A number the office once gave the horse and has since taken off the list
  // comes back as the export sent it: the horse keeps it.
  const std::optional<int32_t> number = IntervalNumber(Trim(text));
  if (!number) return std::nullopt;
  auto held = db.QueryBound("SELECT id FROM pferd WHERE id = ?1 AND beschlagsrhythmus = ?2",
                            {SqlParam::Integer(horseId), SqlParam::Integer(*number)});
  if (held->Eof()) return std::nullopt;
  return number;
}

std::string UnknownShoeingInterval(const std::string& text) {
  return W1252("Beschlagsrhythmus \"") + Trim(text) +
         W1252("\" gibt es in der Praxis nicht.");
}

void ImportHorses(ImportContext& ctx, std::size_t& position) {
  ForEachRecordLine(ctx, position, [&](const std::string& line) {
    const ClassifiedLine read = ClassifyChangeLine(FileKind::kHorses, line);
    if (read.op == LineOp::kUnknown) {
      ctx.FailLine(read.reason);
      return;
    }
    ImportLineGuarded(ctx, [&] { ImportHorseLine(ctx, read); }, "pferd");
  });
}

}  // namespace kelvanor
