// How work that can fail without an exception went: well, or which step
// failed, with its exit status and a German message for the user. One type
// for every such result of the tool (transfers, the export, the version
// check, the command line); errors that end a run are still exceptions.
#pragma once

#include <string>
#include <utility>

namespace kelvanor {

class Outcome {
 public:
  // Went well.
  Outcome() = default;
  static Outcome Ok() { return Outcome(); }
  // `step`: what failed, in German ("Server-Unzip.php"); `exitCode`: the
  // status of an external command, 0 when there was none; `message`: what
  // the user is told.
  static Outcome Failed(std::string step, int exitCode, std::string message) {
    Outcome outcome;
    outcome.ok_ = false;
    outcome.step_ = std::move(step);
    outcome.exitCode_ = exitCode;
    outcome.message_ = std::move(message);
    return outcome;
  }

  bool IsOk() const { return ok_; }
  const std::string& Step() const { return step_; }
  int ExitCode() const { return exitCode_; }
  // "" when it went well.
  const std::string& Message() const { return message_; }

 private:
  bool ok_ = true;
  std::string step_;
  int exitCode_ = 0;
  std::string message_;
};

}  // namespace kelvanor
