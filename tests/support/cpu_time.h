// How much processor time this process has used, to tell a resting loop from
// a spinning one without timing anything the scheduler could disturb.
#pragma once

#include <chrono>

namespace quorvel::testing {

// User plus system time of every thread of this process so far.
std::chrono::microseconds ProcessCpuTime();

// The process's processor time over `window` of wall time, as a share of that
// wall time (1.0 = one core busy all the time).
double CpuShareOver(std::chrono::milliseconds window);

}  // namespace quorvel::testing
