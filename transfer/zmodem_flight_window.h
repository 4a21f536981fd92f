// How much of a file the ZMODEM sender lets go ahead of the receiver's last
// answer while it streams.
//
// Too little and a fast line waits on every answer: 32 KiB over a link whose
// answers take 3 ms carries 11 MB/s where 60 would go. Too much and every
// byte the receiver loses costs all that was in flight behind it, which it
// must skip before our next header: over a network port with deep buffers in
// front of a slow line, seconds of it. So the window follows what the
// receiver takes: never more than a quarter of a second of it at the rate
// its answers show (measured over 10 ms or more), never less than 32 KiB
// nor more than 1 MiB.
//
// It starts at the least and grows only once 128 KiB have been answered
// without a loss; from then on each answer widens it by what it answered,
// so it doubles every round trip. On a slow line the first answer comes
// late enough to measure the rate, long before the calm is over. A loss
// drops it to the least and the calm starts over. So on a noisy line it
// never grows, and what the receiver skips after each loss stays within
// what lrzsz's rz tolerates while it looks for our next header: about a
// second of its line's nominal rate (40 kB at 38400 baud, and no more than
// about 30 kB at rates it does not know, 921600 baud and up), however fast
// the bytes really come.
#pragma once

#include <cstdint>

namespace quorvel::zmodem {

class FlightWindow {
 public:
  static constexpr uint64_t kLeast = 32 * 1024;
  static constexpr uint64_t kMost = 1024 * 1024;
  static constexpr int64_t kAheadMs = 250;            // of the receiver's rate, in flight
  static constexpr int64_t kSampleMs = 10;            // shorter spans measure the rate too roughly
  static constexpr uint64_t kCalmBytes = 128 * 1024;  // answered without a loss before it grows

  // Bytes that may be unanswered.
  uint64_t Bytes() const { return bytes_; }
  // How often the receiver is asked where it is: four answers a window.
  uint64_t AskEvery() const { return bytes_ / 4; }

  // The stream starts, or starts again after a loss, at `position`.
  void Restart(uint64_t position, int64_t nowMs);
  // The receiver has everything before `acked`.
  void Acked(uint64_t acked, int64_t nowMs);
  // The receiver lost data; the stream restarts where it asks.
  void Lost();

 private:
  void Sample(uint64_t acked, int64_t nowMs);

  uint64_t bytes_ = kLeast;
  uint64_t ceiling_ = kMost;  // a quarter second at the last measured rate
  uint64_t calm_ = 0;         // answered since the start or the last loss, up to kCalmBytes
  uint64_t acked_ = 0;        // the last answer
  uint64_t sampleFrom_ = 0;   // acknowledged when the sample began
  int64_t sampleAtMs_ = 0;
};

}  // namespace quorvel::zmodem
