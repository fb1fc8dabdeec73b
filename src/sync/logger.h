// The log of a sync, the one way its lines reach the user: detail lines only
// when the detail log is on, step lines and failures always.
//
// Room src/sync: one run, from the sync button to "fertig!". It uses the
// server, kept and settings rooms, none of which uses it.
#pragma once

#include <string>

#include "server/transfer_log.h"
#include "sync/sync_view.h"

namespace kelvanor {

class Logger : public TransferLog {
 public:
  // `debugLog` is read at every line, so switching it takes effect at once;
  // it and the view must outlive the logger.
  Logger(SyncView& view, const bool& debugLog) : view_(view), debugLog_(debugLog) {}

  // The detail log: with DebugLog on, the text, then a line "-----", then the
  // window gets its turn to repaint; with DebugLog off nothing at all.
  void LogLine(const std::string& text) override;
  // A line that always appears (numbered steps, failures).
  void Step(const std::string& text) override { view_.Log(text); }

  bool DebugLog() const { return debugLog_; }
  IMessagePump& Pump() const override { return view_; }

 private:
  SyncView& view_;
  const bool& debugLog_;
};

}  // namespace kelvanor
