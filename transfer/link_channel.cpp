#include "transfer/link_channel.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "core/clock.h"

namespace quorvel {
namespace {

// How often a wait looks at the port itself: a link that closed before its
// worker could say so still ends the wait.
constexpr int kLookMs = 100;
// The longest one write waits for room before looking at Abandon again.
constexpr int kWriteSliceMs = 50;

}  // namespace

void LinkChannel::Reset() {
  std::lock_guard guard(mutex_);
  cancelled_.store(false);
  abandoned_.store(false);
  dropped_.store(0);
}

bool LinkChannel::Attach() {
  if (!state_.wire.Take(cancelled_)) return false;
  wireHeld_ = true;
  if (!state_.port.IsOpen()) {
    Detach();
    return false;
  }
  {
    std::lock_guard guard(mutex_);
    waiting_.clear();
    readAt_ = 0;
    readerEnded_ = false;
  }
  state_.diversion.store(this);
  attached_ = true;
  return true;
}

void LinkChannel::Detach() {
  if (attached_) {
    ReceiveDiversion* self = this;
    state_.diversion.compare_exchange_strong(self, nullptr);
    attached_ = false;
  }
  if (!wireHeld_) return;
  wireHeld_ = false;
  for (;;) {
    std::deque<WireGate::Bytes> left = state_.wire.CollectOrRelease();
    if (left.empty()) return;
    for (const WireGate::Bytes& reply : left) {
      if (!abandoned_.load()) Write(reply.data(), static_cast<int>(reply.size()));
    }
  }
}

int LinkChannel::Read(uint8_t* buffer, int capacity, int timeoutMs) {
  int64_t deadline = SteadyNowMs() + timeoutMs;
  std::unique_lock guard(mutex_);
  for (;;) {
    if (cancelled_.load()) return kCancelled;
    if (readAt_ < waiting_.size()) {
      size_t n = std::min(static_cast<size_t>(capacity), waiting_.size() - readAt_);
      std::memcpy(buffer, waiting_.data() + readAt_, n);
      readAt_ += n;
      if (readAt_ == waiting_.size()) {
        waiting_.clear();
        readAt_ = 0;
      }
      return static_cast<int>(n);
    }
    if (readerEnded_ || abandoned_.load() || !state_.port.IsOpen()) return kLinkLost;
    int left = RemainingMs(deadline);
    if (left == 0) return kTimedOut;
    arrived_.wait_for(guard, std::chrono::milliseconds(std::min(left, kLookMs)));
  }
}

bool LinkChannel::Write(const uint8_t* bytes, int count) {
  int64_t deadline = SteadyNowMs() + state_.port.WriteBoundMs(count);
  int at = 0;
  while (at < count) {
    if (abandoned_.load()) return false;
    int slice = static_cast<int>(std::clamp<int64_t>(deadline - SteadyNowMs(), 0, kWriteSliceMs));
    int n = state_.port.WriteSome(bytes + at, count - at, slice);
    if (n > 0) {
      {
        std::lock_guard guard(state_.lock);
        state_.txCount += static_cast<uint32_t>(n);
      }
      if (LineTap* log = state_.tap.load()) log->Sent(bytes + at, n);
      at += n;
    } else if (n < 0 || SteadyNowMs() >= deadline) {
      return false;
    }
  }
  return true;
}

void LinkChannel::DiscardInput() {
  std::lock_guard guard(mutex_);
  waiting_.clear();
  readAt_ = 0;
}

void LinkChannel::Divert(const uint8_t* bytes, int count) {
  {
    std::lock_guard guard(mutex_);
    if (readAt_ > kMaxWaiting / 4) {  // what was read goes, so the store stays bounded
      waiting_.erase(waiting_.begin(), waiting_.begin() + static_cast<std::ptrdiff_t>(readAt_));
      readAt_ = 0;
    }
    size_t room = kMaxWaiting - std::min(kMaxWaiting, waiting_.size() - readAt_);
    size_t taken = std::min(room, static_cast<size_t>(count));
    waiting_.insert(waiting_.end(), bytes, bytes + taken);
    dropped_ += static_cast<size_t>(count) - taken;
  }
  arrived_.notify_one();
}

void LinkChannel::ReaderEnded() {
  {
    std::lock_guard guard(mutex_);
    readerEnded_ = true;
  }
  arrived_.notify_one();
}

void LinkChannel::Cancel() {
  {
    std::lock_guard guard(mutex_);
    cancelled_.store(true);
  }
  arrived_.notify_one();
}

void LinkChannel::Abandon() {
  {
    std::lock_guard guard(mutex_);
    abandoned_.store(true);
    cancelled_.store(true);
  }
  arrived_.notify_one();
}

}  // namespace quorvel
