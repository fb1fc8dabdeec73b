#include "gui/wx_dispatcher.h"

#include <wx/app.h>

namespace kelvanor {

WxDispatcher::WxDispatcher(wxEvtHandler* owner)
    : owner_(owner), shared_(std::make_shared<Shared>()) {}

WxDispatcher::~WxDispatcher() {
  std::lock_guard<std::mutex> lock(shared_->mutex);
  shared_->alive = false;
  shared_->queue.clear();
}

void WxDispatcher::Post(std::function<void()> call) {
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    if (!shared_->alive) return;
    shared_->queue.push_back(std::move(call));
  }
  // Wake the event loop; the owner drops queued calls when it is destroyed.
  std::weak_ptr<Shared> weak = shared_;
  owner_->CallAfter([this, weak] {
    if (auto shared = weak.lock()) {
      if (shared->alive) Drain();
    }
  });
}

void WxDispatcher::ProcessPending() {
  Drain();
  if (wxTheApp != nullptr) wxTheApp->Yield(true);
}

void WxDispatcher::Drain() {
  for (;;) {
    std::function<void()> call;
    {
      std::lock_guard<std::mutex> lock(shared_->mutex);
      if (shared_->queue.empty()) return;
      call = std::move(shared_->queue.front());
      shared_->queue.pop_front();
    }
    call();
  }
}

}  // namespace kelvanor
