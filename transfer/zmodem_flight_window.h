// How much of a file the ZMODEM sender lets go ahead of the receiver's last
// answer while it streams.
//
// Too little and a fast line waits on every answer: 32 KiB over a link whose
// answers take 3 ms carries 11 MB/s where 60 would go. Too much and every
// byte the receiver loses costs all that was in flight behind it, which it
// must skip before our next header. A receiver gives up after skipping so
// much: lrzsz's rz after about a second of its line's nominal rate (baud
// rate as bytes), 40 kB at 38400 baud, however fast the bytes really come
// (a pseudo-terminal or a USB adapter runs far beyond its nominal rate).
// So the window follows what the receiver takes, a quarter of a second of
// it at the rate its answers show, at most doubling per sample, and stays
// between 32 KiB and half of what that nominal second allows (1 MiB at
// most). Before the first answers it takes the nominal rate for the real
// one. A loss drops it to the least. A line whose rate is unknown (a raw
// TCP port) keeps the least.
#pragma once

#include <cstdint>

namespace quorvel::zmodem {

class FlightWindow {
 public:
  static constexpr uint64_t kLeast = 32 * 1024;
  static constexpr uint64_t kMost = 1024 * 1024;
  static constexpr int64_t kAheadMs = 250;  // of the receiver's rate, in flight
  static constexpr int64_t kSampleMs = 10;  // shorter spans measure the rate too roughly

  // `lineBaud`: the line's nominal rate, 0 when unknown.
  explicit FlightWindow(uint32_t lineBaud = 0);

  // Bytes that may be unanswered.
  uint64_t Bytes() const { return bytes_; }
  // The most it may grow to on this line.
  uint64_t Most() const { return most_; }
  // How often the receiver is asked where it is: four answers a window.
  uint64_t AskEvery() const { return bytes_ / 4; }

  // The stream starts, or starts again after a loss, at `position`.
  void Restart(uint64_t position, int64_t nowMs);
  // The receiver has everything before `acked`.
  void Acked(uint64_t acked, int64_t nowMs);
  // The receiver lost data; the stream restarts where it asks.
  void Lost() { bytes_ = kLeast; }

 private:
  uint64_t most_;
  uint64_t bytes_;
  uint64_t sampleFrom_ = 0;  // acknowledged when the sample began
  int64_t sampleAtMs_ = 0;
};

}  // namespace quorvel::zmodem
