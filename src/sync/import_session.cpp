#include "sync/import_session.h"

#include <exception>
#include <filesystem>
#include <system_error>
#include <memory>

#include "import/import.h"
#include "import/received_preview.h"
#include "kept/mobile_base.h"
#include "db/database_copy.h"
#include "kept/office_lists.h"
#include "kept/restore_points.h"
#include "platform/environment.h"
#include "platform/file_system.h"
#include "sync/import_question.h"
#include "sync/received_tree.h"
#include "util/errors.h"
#include "util/w1252.h"

namespace kelvanor {

std::string UserText(const std::exception& error) {
  if (const auto* failure = dynamic_cast<const EDatabaseFailure*>(&error)) {
    return failure->UserMessage();
  }
  return error.what();
}

ImportSession::ImportSession(SyncView& view, Logger& log, const Folders& folders, TDBase* db,
                             const AccountFiles& files, const TreeModel& tree,
                             JournalScope scope)
    : view_(view),
      log_(log),
      folders_(folders),
      db_(db),
      files_(files),
      tree_(tree),
      scope_(scope) {}

void ImportSession::ShowPreview() {
  // After a failed delete request the server sends what is imported already:
  // read as new, the office would fear a second customer.
  std::size_t dropped = 0;
  if (db_ != nullptr) {
    earlier_ = EarlierImportsForPreview(*db_, files_.journal, tree_, scope_, &dropped);
  }
  // Records of earlier imports are gone from the practice: it was put back
  // from a copy (or an import undone), and what those imports brought can
  // come again from their backups.
  if (dropped > 0) {
    log_.Step(W1252("Die Praxis-Datenbank wurde seit dem letzten Import zurückgesetzt "
                    "(Datensätze früherer Importe fehlen); die Sicherungen der empfangenen "
                    "Daten im Ordner ") +
              folders_.MobileFolder +
              W1252(" können erneut importiert werden (Verlauf, „Aus Sicherung importieren …“)."));
  }
  std::unique_ptr<FieldMerge> merge;
  try {
    if (db_ != nullptr) {
      merge = PrepareFieldMerge(*db_, folders_, files_.baseFolder, tree_, &earlier_);
    }
  } catch (const std::exception&) {
    // The records are still named; only the fields they change are not told.
  }
  ChangeDetails described;
  try {
    described = DescribeReceived(db_, tree_, merge.get(), &earlier_, &refused_);
  } catch (const std::exception&) {
    // Without a preview the raw lines still show what arrived.
  }
  view_.ShowReceived(tree_, described);
}

std::string ImportSession::Summary() const {
  return SummarizeReceived(tree_, &earlier_, &refused_);
}

std::string ImportSession::Question(int* records) const {
  return BuildImportQuestion(tree_, records, &earlier_, &refused_);
}

ImportSession::Result ImportSession::Import(bool backUp) {
  Result result;
  std::string conflicts;
  try {
    if (db_ == nullptr) {
      throw Exception(
          W1252("Die Praxis-Datenbank ist nicht geöffnet; es kann nichts importiert werden."));
    }
    // The backup and the lists go there once the import has committed; a
    // folder that cannot be made must stop it before.
    if (!DirectoryExists(folders_.MobileFolder)) {
      std::error_code error;
      std::filesystem::create_directories(SystemPath(folders_.MobileFolder), error);
      if (error) {
        throw EInOutError(W1252("Der Ordner für die Sicherungen kann nicht angelegt werden: ") +
                          folders_.MobileFolder);
      }
    }
    const std::unique_ptr<FieldMerge> merge =
        PrepareFieldMerge(*db_, folders_, files_.baseFolder, tree_, &earlier_);
    // The way back, before the import's first write; on the disk before it.
    log_.LogLine("Wiederherstellungspunkt anlegen ...");
    result.restorePoint = MakeRestorePoint(*db_, files_.restoreFolder, NowCivil());
    log_.LogLine("Wiederherstellungspunkt angelegt - " + result.restorePoint);
    // The office's values a conflict overwrites are kept before the import
    // commits: if they cannot be, nothing is overwritten. The fingerprint is
    // of what the commit leaves: an undo later needs the practice unchanged
    // since.
    result.summary = ImportMobileChanges(
        *db_, tree_, files_.journal, merge.get(),
        [&](const ImportSummary& run) {
          try {
            conflicts = KeepConflicts(folders_, run.conflicts);
          } catch (const std::exception& e) {
            throw EInOutError("Die Konflikte konnten nicht gesichert werden: " + UserText(e));
          }
          result.fingerprint = ContentFingerprint(*db_);
        },
        scope_);
  } catch (const std::exception& e) {
    // One transaction: nothing of it was written, and the received lines are
    // where they were, so a later try brings them again. A restore point of
    // an import that never happened is of no use.
    if (!result.restorePoint.empty()) {
      DeleteFileEvenIfReadOnly(SystemPath(result.restorePoint));
      result.restorePoint.clear();
    }
    result.fingerprint.clear();
    result.outcome = Outcome::Failed(
        "Import", 0,
        std::string(W1252("Der Import ist fehlgeschlagen, es wurde nichts übernommen: ")) +
            UserText(e));
    return result;
  }
  result.committed = true;
  // Older restore points go only once a later import stands.
  PruneRestorePoints(files_.restoreFolder,
                     ReadRestorePointsKept(folders_, kDefaultRestorePoints));
  const ImportSummary& summary = result.summary;
  // Told now that the database is free again, so the host program can save
  // while the user reads.
  for (const std::string& line : summary.LogLines()) log_.Step(line);
  if (!conflicts.empty()) log_.Step("Die Konflikte stehen in " + conflicts + ".");
  std::string notImported;
  try {
    // Every received line is on disk before anyone asks the server to drop
    // it, and those not imported are listed for the office to type in.
    if (backUp) result.backup = SaveReceivedTree(folders_, &log_, tree_);
    notImported = KeepNotImportedLines(folders_, summary);
  } catch (const std::exception& e) {
    if (!summary.failures.empty()) view_.ReportError(summary.FailureMessage());
    result.outcome = Outcome::Failed("Import", 0, UserText(e));
    return result;
  }
  if (!notImported.empty()) {
    log_.Step("Die nicht importierten Zeilen stehen in " + notImported + ".");
  }
  if (!summary.failures.empty()) {
    view_.ReportError(summary.FailureMessage() + "\r\rSie stehen zum Nachtragen in " +
                      notImported + ".");
  }
  if (!summary.conflicts.empty()) view_.ReportInfo(summary.ConflictMessage(conflicts));
  return result;
}

void NoteImport(const ImportSession::Result& imported, const std::string& received,
                RunRecord& run) {
  run.restorePoint = imported.restorePoint;
  run.fingerprint = imported.fingerprint;
  if (!imported.backup.empty()) run.backup = imported.backup;
  if (imported.committed) run.imported = received;
  for (const FieldConflict& conflict : imported.summary.conflicts) {
    run.conflicts.push_back(conflict.record + ": " + conflict.field + W1252(" im Büro \"") +
                            conflict.desktop + W1252("\", vom Mobilgerät \"") + conflict.mobile +
                            "\"");
  }
  for (const LineFailure& failure : imported.summary.failures) {
    run.notImported.push_back(Describe(failure));
  }
  for (const LineFailure& failure : imported.summary.notTaken) {
    run.notImported.push_back(Describe(failure));
  }
}

}  // namespace kelvanor
