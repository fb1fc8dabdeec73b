// Shared by the export tests: a practice database in a temporary folder, an
// export run with a fixed moment, and a progress display that records.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "db/dbase.h"
#include "export/export.h"
#include "support/test_db.h"

namespace kelvanor::testing {

struct ProgressEvent {
  std::string text;
  int step;
  int total;
  bool operator==(const ProgressEvent& o) const {
    return text == o.text && step == o.step && total == o.total;
  }
};

class RecordingProgress : public IExportProgress {
 public:
  void ShowExportStep(const std::string& text, int stepPosition, int totalPosition) override {
    events.push_back({text, stepPosition, totalPosition});
  }
  void SetStepMaximum(int maximum) override { stepMaxima.push_back(maximum); }
  void SetTotalMaximum(int maximum) override { totalMaximum = maximum; }
  void SetTotalBold(bool bold) override { boldChanges.push_back(bold); }

  std::vector<ProgressEvent> events;
  std::vector<int> stepMaxima;
  int totalMaximum = 0;
  std::vector<bool> boldChanges;
};

// 1 December 2026, 12:00: the moment every export test runs at.
constexpr double kNow = 46357.5;

class ExportTest : public ::testing::Test {
 protected:
  // Creates the practice with the host schema plus `sql`.
  void Practice(const std::string& sql = "") { CreateHostDatabase(dbPath, sql); }

  Outcome Export(const std::string& folder) {
    TDBase db(dbPath);
    ExportEnvironment env;
    env.versionString = "1.0.0.72";
    env.now = kNow;
    return ExportMobileData(db, folder, progress, state, env);
  }
  Outcome Export() { return Export(outDir); }

  std::string Out(const std::string& name) const { return ReadFile(outDir + "/" + name); }

  TempDir tmp;
  std::string dbPath = tmp.File("praxis.db");
  std::string outDir = tmp.File("mobil");
  RecordingProgress progress;
  ExportState state;
};

}  // namespace kelvanor::testing
