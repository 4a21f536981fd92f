#include "core/clock.h"

#include <chrono>

namespace quorvel {

using Clock = std::chrono::steady_clock;

int64_t ReadCounter() {
  return Clock::now().time_since_epoch().count();
}

int64_t CounterFrequency() {
  return static_cast<int64_t>(Clock::period::den / Clock::period::num);
}

}  // namespace quorvel
