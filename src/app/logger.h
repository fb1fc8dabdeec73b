// The log memo of a sync: detail lines only when the detail log is on, step
// lines and failures always.
#pragma once

#include <functional>
#include <string>

#include "app/sync_view.h"

namespace kelvanor {

class Logger {
 public:
  using MemoSink = std::function<void(const std::string&)>;

  // `debugLog` is read at every line, so switching it takes effect at once;
  // it (and the view or pump) must outlive the logger.
  Logger(ISyncView& view, const bool& debugLog);
  Logger(IMessagePump& pump, MemoSink appendMemo, const bool& debugLog);

  // The detail log: with DebugLog on, the text, then a line "-----", then the
  // window gets its turn to repaint; with DebugLog off nothing at all.
  void LogLine(const std::string& text);
  // A line that always appears (numbered steps, failures).
  void Step(const std::string& text);

  bool DebugLog() const { return debugLog_; }
  IMessagePump& Pump() const { return pump_; }

 private:
  IMessagePump& pump_;
  MemoSink appendMemo_;
  const bool& debugLog_;
};

}  // namespace kelvanor
