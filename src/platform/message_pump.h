// What long work needs from a front end while it waits: a chance to let
// pending window messages run, so the window repaints and stays responsive.
// The one such interface of the tool; the CLI's does nothing.
#pragma once

namespace kelvanor {

class IMessagePump {
 public:
  virtual ~IMessagePump() = default;
  virtual void ProcessPendingMessages() = 0;
};

}  // namespace kelvanor
