// The high-resolution counter behind transmission timestamps and intervals.
#pragma once

#include <cstdint>

namespace quorvel {

// Ticks of a monotonic counter that only grows; any thread may call.
int64_t ReadCounter();

// Ticks per second of ReadCounter, constant for the process.
int64_t CounterFrequency();

}  // namespace quorvel
