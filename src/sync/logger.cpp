#include "sync/logger.h"

namespace kelvanor {

void Logger::LogLine(const std::string& text) {
  if (!debugLog_) return;
  view_.Log(text);
  view_.Log("-----");
  view_.ProcessPendingMessages();
}

}  // namespace kelvanor
