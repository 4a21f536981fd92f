// Something to plot without hardware: three waves printed as a sensor board
// prints its readings, one "name:value" line each sample:
//   sine:7.071 square:5 saw:-0.250
// a sine of amplitude 10 and period 2 s, a square wave of ±5 and period 1 s,
// a sawtooth from -1 to 1 over 4 s, sampled `rate` times a second. The demo
// device plays it on "WAVE RATE"; quorvel-devsim --wave RATE from the start.
// One thread.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace quorvel {

inline constexpr int kMostWaveRate = 100'000;  // lines a second

class WaveSource {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts at `now` with `rate` lines a second (1 to kMostWaveRate).
  WaveSource(int rate, Clock::time_point now);

  // Appends the lines due by `now`, at most `room` bytes of them; lines that
  // find no room are dropped, as a device that talks on drops them, and at
  // most a second's worth is ever owed.
  void AppendDue(Clock::time_point now, std::string& out, size_t room);
  // When the next batch is due (every 10 ms, or the next line when slower).
  Clock::time_point NextDue() const;
  int Rate() const { return rate_; }

  // Sample n's line at `rate`, line end included.
  static std::string Line(uint64_t n, int rate);

 private:
  int rate_;
  Clock::time_point start_;
  uint64_t next_ = 0;  // the next sample's number
};

}  // namespace quorvel
