#include "script/receive_buffer.h"

#include <algorithm>

namespace quorvel {
namespace {

// A queue or window that outgrows the capacity loses this much more than it
// must, so that a flood moves the kept bytes once per quarter of the
// capacity instead of on every arrival.
constexpr size_t kDropSlack = ReceiveBuffer::kCapacity / 4;

// Drops the oldest bytes of `bytes` from `start` on so that at most
// kCapacity remain, and those from `start` go too; returns how many of the
// kept ones went.
size_t Bound(std::vector<uint8_t>& bytes, size_t& start) {
  size_t kept = bytes.size() - start;
  if (kept <= ReceiveBuffer::kCapacity) return 0;
  size_t drop = kept - ReceiveBuffer::kCapacity + kDropSlack;
  bytes.erase(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(start + drop));
  start = 0;
  return drop;
}

}  // namespace

void ReceiveBuffer::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  {
    std::lock_guard guard(mutex_);
    incoming_.insert(incoming_.end(), bytes, bytes + count);
    size_t start = 0;
    incomingDropped_ += Bound(incoming_, start);
  }
  arrived_.notify_one();
}

void ReceiveBuffer::Interrupt() {
  {
    std::lock_guard guard(mutex_);
    interrupted_ = true;
  }
  arrived_.notify_all();
}

bool ReceiveBuffer::Interrupted() const {
  std::lock_guard guard(mutex_);
  return interrupted_;
}

bool ReceiveBuffer::Take(Clock::time_point deadline) {
  {
    std::unique_lock lock(mutex_);
    arrived_.wait_until(lock, deadline, [&] { return !incoming_.empty() || interrupted_; });
    if (incoming_.empty()) return false;
    spare_.swap(incoming_);
    dropped_ += incomingDropped_;
    incomingDropped_ = 0;
  }
  // The consumed bytes go once they are the larger half, so the window's
  // storage stays within twice what is kept.
  if (start_ > 0 && start_ >= window_.size() - start_) {
    window_.erase(window_.begin(), window_.begin() + static_cast<std::ptrdiff_t>(start_));
    start_ = 0;
  }
  window_.insert(window_.end(), spare_.begin(), spare_.end());
  spare_.clear();
  size_t lost = Bound(window_, start_);
  dropped_ += lost;
  base_ += lost;
  return true;
}

void ReceiveBuffer::SleepUntil(Clock::time_point deadline) {
  std::unique_lock lock(mutex_);
  arrived_.wait_until(lock, deadline, [&] { return interrupted_; });
}

void ReceiveBuffer::Consume(size_t count) {
  count = std::min(count, window_.size() - start_);
  start_ += count;
  base_ += count;
  if (start_ == window_.size()) {
    window_.clear();
    start_ = 0;
  }
}

uint64_t ReceiveBuffer::TakeDropped() {
  uint64_t dropped = dropped_;
  dropped_ = 0;
  return dropped;
}

}  // namespace quorvel
