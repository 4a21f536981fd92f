// The idle cost of watching a device's modem lines, on a driver that waits
// for a change and on one that has to be looked at.
#pragma once

#include "bench_support.h"
#include "measures.h"

namespace quorvel::bench {

inline constexpr char kLineWatchName[] = "Idle, modem lines watched";

// The link open on a pseudo-terminal, whose modem lines a quiet stand-in
// driver provides; the wake-ups of every thread but the measuring one.
Row MeasureLineWatchIdle(const BenchOptions& options, bool driverWaits);

}  // namespace quorvel::bench
