#include "core/link_counters.h"

#include "core/clock.h"

namespace quorvel {

LinkCounters::LinkCounters() {
  values_.counterFrequency = CounterFrequency();
  values_.lastSendTime = ReadCounter();
}

CounterValues LinkCounters::Read() const {
  std::lock_guard guard(mutex_);
  return values_;
}

void LinkCounters::CountBurst(int count) {
  int64_t now = ReadCounter();
  std::lock_guard guard(mutex_);
  values_.rxCount += static_cast<uint32_t>(count);
  values_.lastIntervalMs = static_cast<double>(now - values_.lastSendTime) /
                           static_cast<double>(values_.counterFrequency) * 1000.0;
  values_.intervalSumMs += values_.lastIntervalMs;
  if (values_.sendCount > 0) values_.averageMs = values_.intervalSumMs / values_.sendCount;
}

void LinkCounters::CountReceived(int count) {
  std::lock_guard guard(mutex_);
  values_.rxCount += static_cast<uint32_t>(count);
}

void LinkCounters::BeginSend(bool stampNow) {
  int64_t now = stampNow ? ReadCounter() : 0;
  std::lock_guard guard(mutex_);
  if (stampNow) values_.lastSendTime = now;
  ++values_.sendCount;
}

void LinkCounters::StampSend() {
  int64_t now = ReadCounter();
  std::lock_guard guard(mutex_);
  values_.lastSendTime = now;
}

uint32_t LinkCounters::CountSent(int count) {
  std::lock_guard guard(mutex_);
  values_.txCount += static_cast<uint32_t>(count);
  return values_.txCount;
}

void LinkCounters::Reset() {
  std::lock_guard guard(mutex_);
  values_.intervalSumMs = 0;
  values_.averageMs = 0;
  values_.rxCount = 0;
  values_.txCount = 0;
  values_.sendCount = 0;
}

}  // namespace quorvel
