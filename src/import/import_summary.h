// What one import run has to tell the user once it is over: the lines that
// failed (collected, not shown while the database is locked), what it
// skipped and why. Texts are Windows-1252.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace kelvanor {

// A received line that was not imported, and why.
struct LineFailure {
  std::string file;        // the change file, e.g. "mob_pferd_x.txt"
  std::string firstField;  // the line's record key, e.g. "N/12"
  std::string message;     // why it was not imported
  std::size_t lineNumber = 0;  // where it stands in the change file; 0 when unknown
  std::string text;            // the line as received
  std::string record;          // the record's name where the line gives one
};

// A field the mobile changed while the office changed it too.
struct FieldConflict {
  std::string record;   // "Kunde Müller, Jörg (A/12)"
  std::string field;    // "Telefon"
  std::string desktop;  // the practice's value before the import
  std::string mobile;   // the value written
};

struct ImportSummary {
  std::vector<LineFailure> failures;
  // Lines of operations the practice keeps to itself (a deleted stable, a
  // changed article): nothing failed, but nothing of them was imported
  // either, so the office learns of them.
  std::vector<LineFailure> notTaken;
  // Lines that changed nothing on purpose (a deletion of a record the
  // practice does not have), one sentence each.
  std::vector<std::string> notices;
  // Lines an earlier run already committed (their delete request failed).
  std::size_t alreadyImported = 0;
  // Fields changed on both sides; the mobile's value was written.
  std::vector<FieldConflict> conflicts;

  // The lines for the log, one finding each; empty when there is nothing to say.
  std::vector<std::string> LogLines() const;
  // One message for an error box listing the failed lines (the first ones
  // when there are many); "" when no line failed.
  std::string FailureMessage() const;
  // One message naming every conflict, and the file `keptIn` (when given)
  // that keeps them; "" when there was none.
  std::string ConflictMessage(const std::string& keptIn = std::string()) const;
};

// "mob_kunde_x.txt, Zeile 3 (Meier, Anna): why «the line»", the line cut
// short when it is long.
std::string Describe(const LineFailure& failure);

}  // namespace kelvanor
