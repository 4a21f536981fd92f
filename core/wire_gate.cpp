#include "core/wire_gate.h"

#include <chrono>

namespace quorvel {

bool WireGate::TakeOrLeave(const uint8_t* bytes, int count) {
  std::lock_guard guard(mutex_);
  if (!held_) {
    held_ = true;
    return true;
  }
  left_.emplace_back(bytes, bytes + (count > 0 ? count : 0));
  return false;
}

void WireGate::ReleaseReply() {
  {
    std::lock_guard guard(mutex_);
    held_ = false;
  }
  freed_.notify_all();
}

bool WireGate::Take(const std::atomic<bool>& abandon) {
  // A reply holds the gate only for its own bounded write; looking at
  // `abandon` now and then is enough to leave promptly.
  static constexpr auto kAbandonLook = std::chrono::milliseconds(20);
  std::unique_lock guard(mutex_);
  while (held_) {
    if (abandon.load()) return false;
    freed_.wait_for(guard, kAbandonLook);
  }
  held_ = true;
  return true;
}

std::deque<WireGate::Bytes> WireGate::CollectOrRelease() {
  std::deque<Bytes> left;
  {
    std::lock_guard guard(mutex_);
    left.swap(left_);
    if (!left.empty()) return left;
    held_ = false;
  }
  freed_.notify_all();
  return left;
}

}  // namespace quorvel
