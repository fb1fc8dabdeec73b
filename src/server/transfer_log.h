// What a transfer needs of the run it serves, and no more: a place for its
// lines and a message pump that keeps the window alive while a command runs.
// The sync's log is one; so is anything else that runs a transfer (a
// connection check, a test), without the rest of a sync.
#pragma once

#include <set>
#include <string>

#include "platform/message_pump.h"

namespace kelvanor {

class TransferLog {
 public:
  virtual ~TransferLog() = default;
  // A detail line: shown only when the user wants every step told.
  virtual void LogLine(const std::string& text) = 0;
  // A line that is always shown (a failed step and why).
  virtual void Step(const std::string& text) = 0;
  // Runs the window's pending messages while a command is waited for.
  virtual IMessagePump& Pump() const = 0;

  // A hint the user needs once (where a redirected server lives now): the
  // same text again is not repeated until ForgetHints, which a run calls at
  // its start. One run asks the same server up to seven times.
  void Hint(const std::string& text) {
    if (hinted_.insert(text).second) Step(text);
  }
  void ForgetHints() { hinted_.clear(); }

 private:
  std::set<std::string> hinted_;
};

}  // namespace kelvanor
