// The session view's store on a 100 MB seeded stream, fed through its
// listener calls as the receive worker feeds it (reads of at most 2,000
// bytes): how fast it takes bytes, how much memory it holds for them, how
// fast it finds.
#pragma once

#include "bench_support.h"
#include "measures.h"

namespace quorvel::bench {

enum class StoreFigure { kAppend, kResident, kFind };

// One row per figure; the stream is built and measured once for all three.
Row SessionStoreFigure(StoreFigure figure);

// The receive throughput with a session store among the line's listeners, as
// the window has it with the session view on: a flood of text until the store
// holds every byte and the RX count is exact.
Row ThroughputWithSessionStore(const HostFactory& make, const BenchOptions& options);

}  // namespace quorvel::bench
