// The one thing the operating-system layer needs from a front end while it
// waits: a chance to let pending window messages run. The app's IMessagePump
// (src/app/sync_view.h) derives from it, so every view can be passed here.
#pragma once

namespace kelvanor {

class IPendingMessagePump {
 public:
  virtual ~IPendingMessagePump() = default;
  virtual void ProcessPendingMessages() = 0;
};

}  // namespace kelvanor
