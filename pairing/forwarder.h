// One direction of a bridge: what one side reads goes out on the other
// side's door at once, byte for byte, in the order read.
//
// A side that takes bytes more slowly than the other reads them (a rate
// converter, a device that holds its line with flow control) would let the
// door's queue grow without end, so what waits is bounded: while one send
// is being written, what comes meanwhile is gathered into the next one (so
// a flood costs one send per write, not one per read), and once the bytes
// waiting and being written reach the bound, what comes is not forwarded
// until half the bound is free again.
// Nor is what comes while the other side is closed or away. Either way the
// bytes are counted and the timeline says so once when it begins and once
// when forwarding goes on, with the count; they stay in the history, as
// everything read does. Nothing is dropped silently.
//
// Threads: Received on the reading side's worker; the sends' completions on
// the other side's door thread (or the UI thread when a close drops them);
// the rest on the UI thread. One short lock; no thread waits for another
// but Drain, on the UI thread, for the door.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "connection/link_session.h"
#include "core/line_listener.h"
#include "pairing/pair_timeline.h"

namespace quorvel {

struct ForwardCounts {
  uint64_t forwarded = 0;  // bytes the other side's line took
  uint64_t dropped = 0;    // bytes read that were not forwarded (counted above)
  uint64_t waiting = 0;    // bytes gathered or being written now
  bool operator==(const ForwardCounts&) const = default;
};

class Forwarder : public LineListener {
 public:
  // A second of a fast line, and minutes of a slow one.
  static constexpr size_t kDefaultBound = size_t{1} << 20;

  // Forwards to `to`, which outlives this; `from` names the reading side.
  Forwarder(LinkSession& to, PairTimeline& timeline, PairSide from, size_t bound = kDefaultBound);
  ~Forwarder() override;

  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t*, int) override {}

  // UI thread: takes no more bytes (counted as dropped from now on; remove
  // the listener to stop hearing them at all), lets what waits go out for
  // up to `limit`, and counts what did not as dropped. Returns those bytes.
  uint64_t Drain(std::chrono::milliseconds limit);

  ForwardCounts Counts() const;

 private:
  enum class Why { kAway, kBehind, kStopped, kNotTaken };

  // The three below with the lock held. Hands what is gathered to the door
  // when nothing is being written.
  void Launch();
  // `count` bytes not forwarded, because of `why`.
  void Drop(uint64_t count, Why why);
  void Resumed();
  void Finished(const SendResult& result, size_t length);

  LinkSession& to_;
  PairTimeline& timeline_;
  PairSide from_;
  size_t bound_;
  mutable std::mutex mutex_;
  std::condition_variable idle_;  // nothing is being written
  std::vector<uint8_t> gathered_;
  size_t writing_ = 0;  // bytes of the send in progress; 0: none
  bool accepting_ = true;
  ForwardCounts counts_;
  bool dropping_ = false;      // since the last note that forwarding stopped
  uint64_t droppedSince_ = 0;  // bytes dropped since then
  Why dropWhy_ = Why::kAway;
};

}  // namespace quorvel
