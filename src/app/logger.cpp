#include "app/logger.h"

#include <utility>

namespace kelvanor {

Logger::Logger(ISyncView& view, const bool& debugLog)
    : pump_(view),
      appendMemo_([&view](const std::string& line) { view.AppendMemo(line); }),
      debugLog_(debugLog) {}

Logger::Logger(IMessagePump& pump, MemoSink appendMemo, const bool& debugLog)
    : pump_(pump), appendMemo_(std::move(appendMemo)), debugLog_(debugLog) {}

void Logger::LogLine(const std::string& text) {
  if (!debugLog_) return;
  appendMemo_(text);
  appendMemo_("-----");
  pump_.ProcessPendingMessages();
}

void Logger::Step(const std::string& text) { appendMemo_(text); }

}  // namespace kelvanor
