#include "core/clock.h"

#include <algorithm>
#include <chrono>
#include <limits>

namespace quorvel {

using Clock = std::chrono::steady_clock;

int64_t ReadCounter() {
  return Clock::now().time_since_epoch().count();
}

int64_t CounterFrequency() {
  return static_cast<int64_t>(Clock::period::den / Clock::period::num);
}

int64_t SteadyNowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

int RemainingMs(int64_t deadline) {
  int64_t left = deadline - SteadyNowMs();
  return static_cast<int>(std::clamp<int64_t>(left, 0, std::numeric_limits<int>::max()));
}

}  // namespace quorvel
