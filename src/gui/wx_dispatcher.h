// Delivers the download worker's events on the GUI thread. Calls are queued
// here and drained both by the wx event loop and by an explicit wait, so a
// wait that starts inside another yield still sees its events.
#pragma once

#include <wx/event.h>

#include <deque>
#include <functional>
#include <memory>
#include <mutex>

#include "net/dispatcher.h"

namespace kelvanor {

class WxDispatcher : public IMainThreadDispatcher {
 public:
  explicit WxDispatcher(wxEvtHandler* owner);
  ~WxDispatcher() override;

  void Post(std::function<void()> call) override;
  void ProcessPending() override;

 private:
  void Drain();

  struct Shared {
    std::mutex mutex;
    std::deque<std::function<void()>> queue;
    bool alive = true;
  };
  wxEvtHandler* owner_;
  std::shared_ptr<Shared> shared_;
};

}  // namespace kelvanor
