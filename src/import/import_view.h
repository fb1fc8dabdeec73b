// How the import reaches the user: one message per line whose error was caught.
#pragma once

#include <string>

namespace kelvanor {

class IImportView {
 public:
  virtual ~IImportView() = default;
  // Shows the error of one skipped line (an error box in the window, stderr in
  // the CLI). The text is Windows-1252.
  virtual void ShowLineError(const std::string& message) = 0;
};

}  // namespace kelvanor
