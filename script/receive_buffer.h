// What a running script has received and not yet used: the bytes behind
// expect, read, readline and flush.
//
// Two parts. The link's receive worker (any thread) calls Received, which
// appends to an incoming queue under a short lock and wakes the script. The
// script's thread alone owns the window: the bytes since the mark (where the
// last expect ended, or the last read or flush), into which Take moves the
// queue by swapping vectors, so the lock is held for the swap and never for a
// search. Interrupt (any thread) ends every wait at once, and every later
// one, so that Stop reaches a script blocked in expect, read or sleep.
//
// Bounded: the queue and the window keep at most kCapacity bytes each. When
// more arrive unread the oldest go, and TakeDropped says how many, which the
// engine tells the script's output; the script goes on (a device that floods
// the line is no script error), and a match that lay in dropped bytes is not
// found.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

#include "script/script_link.h"

namespace quorvel {

class ReceiveBuffer : public ScriptReceiver {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr size_t kCapacity = 16u << 20;

  // The link's thread. Never waits for the script.
  void Received(const uint8_t* bytes, int count) override;

  // Any thread; lasts for the buffer's life.
  void Interrupt();
  bool Interrupted() const;

  // The script's thread from here on.
  //
  // Moves what arrived into the window, first waiting until something has
  // arrived, `deadline` passes or Interrupt. Returns whether the window
  // grew; a deadline already past looks without waiting.
  bool Take(Clock::time_point deadline);
  // Waits until `deadline` or Interrupt, whatever arrives.
  void SleepUntil(Clock::time_point deadline);

  // The bytes since the mark.
  std::span<const uint8_t> Window() const {
    return {window_.data() + start_, window_.size() - start_};
  }
  // Moves the mark `count` bytes on (at most to the window's end).
  void Consume(size_t count);
  // How many bytes lie before the mark, consumed or dropped, since the
  // start: a search keeps its place by it while the window moves.
  uint64_t MarkPosition() const { return base_; }
  // Bytes dropped unread since the last call.
  uint64_t TakeDropped();

 private:
  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<uint8_t> incoming_;  // under mutex_
  uint64_t incomingDropped_ = 0;   // under mutex_
  bool interrupted_ = false;       // under mutex_

  std::vector<uint8_t> window_;  // script thread only, as the rest
  size_t start_ = 0;             // the mark, in window_
  uint64_t base_ = 0;            // bytes before the mark
  std::vector<uint8_t> spare_;   // swapped with incoming_, keeping its capacity
  uint64_t dropped_ = 0;
};

}  // namespace quorvel
