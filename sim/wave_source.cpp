#include "sim/wave_source.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

namespace quorvel {

WaveSource::WaveSource(int rate, Clock::time_point now)
    : rate_(std::clamp(rate, 1, kMostWaveRate)), start_(now) {}

std::string WaveSource::Line(uint64_t n, int rate) {
  double t = static_cast<double>(n) / rate;
  double sine = 10 * std::sin(std::numbers::pi * t);
  int square = std::fmod(t, 1.0) < 0.5 ? 5 : -5;
  double saw = std::fmod(t, 4.0) / 2 - 1;
  char line[80];
  int length =
      std::snprintf(line, sizeof line, "sine:%.3f square:%d saw:%.3f\r\n", sine, square, saw);
  return std::string(line, static_cast<size_t>(std::max(length, 0)));
}

void WaveSource::AppendDue(Clock::time_point now, std::string& out, size_t room) {
  double elapsed = std::chrono::duration<double>(now - start_).count();
  auto due = static_cast<uint64_t>(std::max(elapsed, 0.0) * rate_);
  if (due > next_ + static_cast<uint64_t>(rate_)) next_ = due - static_cast<uint64_t>(rate_);
  size_t limit = out.size() + room;
  for (; next_ < due; ++next_) {
    std::string line = Line(next_, rate_);
    if (out.size() + line.size() > limit) {
      next_ = due;  // no room: the rest of this batch is dropped
      break;
    }
    out += line;
  }
}

WaveSource::Clock::time_point WaveSource::NextDue() const {
  auto step = std::max(std::chrono::duration<double>(std::chrono::milliseconds(10)),
                       std::chrono::duration<double>(1.0 / rate_));
  auto lineTime = std::chrono::duration<double>(static_cast<double>(next_ + 1) / rate_);
  auto batchEnd = std::chrono::duration<double>(static_cast<double>(next_) / rate_) + step;
  return start_ + std::chrono::duration_cast<Clock::duration>(std::max(lineTime, batchEnd));
}

}  // namespace quorvel
