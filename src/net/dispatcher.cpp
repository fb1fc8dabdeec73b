#include "net/dispatcher.h"

#include <utility>

namespace kelvanor {

void QueueDispatcher::Post(std::function<void()> call) {
  std::lock_guard<std::mutex> lock(mutex_);
  queue_.push_back(std::move(call));
}

void QueueDispatcher::ProcessPending() {
  // Only what is queued now: a call that posts again must not keep this loop
  // from returning.
  std::deque<std::function<void()>> batch;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    batch.swap(queue_);
  }
  for (auto& call : batch) call();
}

size_t QueueDispatcher::Pending() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return queue_.size();
}

}  // namespace kelvanor
