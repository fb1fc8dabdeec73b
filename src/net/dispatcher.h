// How the download worker reaches the GUI thread. The window hands its calls
// to the wx event loop; the CLI and the tests drain a plain queue themselves.
#pragma once

#include <deque>
#include <functional>
#include <mutex>

namespace kelvanor {

class IMainThreadDispatcher {
 public:
  virtual ~IMainThreadDispatcher() = default;
  // Called from any thread: queue `call` to run later on the GUI thread.
  virtual void Post(std::function<void()> call) = 0;
  // Called on the GUI thread: run what is queued (and, for a window, let its
  // own pending messages run too).
  virtual void ProcessPending() = 0;
};

// A thread-safe queue whose calls run on whichever thread calls
// ProcessPending. Calls still queued when it is destroyed never run.
class QueueDispatcher : public IMainThreadDispatcher {
 public:
  void Post(std::function<void()> call) override;
  void ProcessPending() override;
  // Calls waiting to run.
  size_t Pending() const;

 private:
  mutable std::mutex mutex_;
  std::deque<std::function<void()>> queue_;
};

}  // namespace kelvanor
