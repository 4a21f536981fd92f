// The clocks the terminal reads: the high-resolution counter behind
// transmission timestamps and intervals, and the steady milliseconds that
// deadlines of waits and writes are counted in. Any thread may call.
#pragma once

#include <cstdint>

namespace quorvel {

// Ticks of a monotonic counter that only grows.
int64_t ReadCounter();

// Ticks per second of ReadCounter, constant for the process.
int64_t CounterFrequency();

// Milliseconds of the steady clock: only differences mean anything.
int64_t SteadyNowMs();

// Milliseconds from now until `deadline` (in SteadyNowMs terms), 0 once it
// has passed; capped to what an int holds, as poll() takes it.
int RemainingMs(int64_t deadline);

}  // namespace quorvel
