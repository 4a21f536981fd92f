#include "core/ui_calls.h"

namespace quorvel {

UiCallQueue::UiCallQueue() : uiThread_(std::this_thread::get_id()) {}

void UiCallQueue::SetUiThread(std::thread::id id) {
  std::lock_guard guard(mutex_);
  uiThread_ = id;
}

bool UiCallQueue::OnUiThread() const {
  // uiThread_ is set before any other thread uses the queue.
  return std::this_thread::get_id() == uiThread_;
}

void UiCallQueue::Run(const std::function<void()>& call) {
  if (OnUiThread()) {
    call();
    return;
  }
  Pending pending{&call};
  {
    std::lock_guard guard(mutex_);
    waiting_.push_back(&pending);
  }
  changed_.notify_all();
  callsWaiting_.Signal();
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [&] { return pending.finished; });
}

void UiCallQueue::Serve() {
  callsWaiting_.Drain();
  for (;;) {
    Pending* next;
    {
      std::lock_guard guard(mutex_);
      if (waiting_.empty()) return;
      next = waiting_.front();
      waiting_.pop_front();
    }
    // Run without the lock: the call may open a message box whose event loop
    // serves further calls.
    (*next->call)();
    {
      std::lock_guard guard(mutex_);
      next->finished = true;
    }
    changed_.notify_all();
  }
}

void UiCallQueue::ServeUntil(const std::function<bool()>& done) {
  for (;;) {
    Serve();
    std::unique_lock lock(mutex_);
    unsigned long seen = notifications_;
    if (done()) return;
    changed_.wait(lock, [&] { return !waiting_.empty() || notifications_ != seen; });
  }
}

void UiCallQueue::Notify() {
  {
    std::lock_guard guard(mutex_);
    ++notifications_;
  }
  changed_.notify_all();
}

}  // namespace quorvel
