// How the export shows its progress: two labels and two bars in the window,
// stderr lines in the CLI, a recording fake in the tests.
#pragma once

#include <string>

namespace kelvanor {

class IExportProgress {
 public:
  virtual ~IExportProgress() = default;
  // Step label := text, step bar := stepPosition, total label := "Gesamt",
  // total bar := totalPosition; then pending window messages run.
  virtual void ShowExportStep(const std::string& text, int stepPosition, int totalPosition) = 0;
  virtual void SetStepMaximum(int maximum) = 0;
  virtual void SetTotalMaximum(int maximum) = 0;
  virtual void SetTotalBold(bool bold) = 0;
};

// Shows nothing: for an export nobody watches.
class SilentExportProgress : public IExportProgress {
 public:
  void ShowExportStep(const std::string&, int, int) override {}
  void SetStepMaximum(int) override {}
  void SetTotalMaximum(int) override {}
  void SetTotalBold(bool) override {}
};

}  // namespace kelvanor
