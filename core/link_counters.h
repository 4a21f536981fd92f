// What one link has counted since its counters were last reset: bytes each
// way, transmissions, and the time from the start of the last transmission
// to each received burst with its running average per transmission.
//
// Any thread; one short lock of its own. Whoever also holds a terminal
// state's lock takes that one first (the form exchange does), never the
// other way round.
#pragma once

#include <cstdint>
#include <mutex>

namespace quorvel {

struct CounterValues {
  uint32_t rxCount = 0;
  uint32_t txCount = 0;
  uint32_t sendCount = 0;
  double lastIntervalMs = 0;
  double intervalSumMs = 0;
  double averageMs = 0;
  int64_t lastSendTime = 0;      // counter ticks at the start of the last transmission
  int64_t counterFrequency = 1;  // counter ticks per second
};

class LinkCounters {
 public:
  LinkCounters();  // the counter's frequency, and now as the last transmission

  CounterValues Read() const;
  // Runs `change` on the values with the lock held; it must be quick.
  template <typename Change>
  void Update(Change change) {
    std::lock_guard guard(mutex_);
    change(values_);
  }

  // A burst of `count` bytes was received: counted, with its interval since
  // the last transmission and the new average.
  void CountBurst(int count);
  // Bytes received outside a burst of the terminal's (a file transfer's).
  void CountReceived(int count);
  // A transmission begins now (its moment is now) or is counted with its
  // moment stamped later (StampSend).
  void BeginSend(bool stampNow);
  void StampSend();
  // Bytes the device side took; returns the TX count after them.
  uint32_t CountSent(int count);
  // Zeroes the counts and statistics; the last interval is kept.
  void Reset();

 private:
  mutable std::mutex mutex_;
  CounterValues values_;
};

}  // namespace quorvel
