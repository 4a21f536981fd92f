// What the measurements of a link share: the warm-up and the full log they
// work with, how long an answer may take, and the rows they report with.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "bench_support.h"
#include "core/terminal_state.h"

namespace quorvel::bench {

inline constexpr int kWarmUp = 20;
inline constexpr int kFullLog = TerminalState::kLogCapacity - 1;  // 9,999 bytes
inline constexpr auto kAnswerTimeout = std::chrono::seconds(5);

void Progress(const std::string& what, const std::string& terminal);

// A row for a measurement that could not run, with the reason.
Row Failed(const std::string& measure, const std::string& terminal, const std::string& why);

struct IdleFigures {
  double cpuPercent = 0;
  double workerWakeups = 0;
  double workerInvoluntary = 0;
  double processWakeups = 0;
};

// Sleeps through `seconds` on the calling thread and reports what the rest
// of the process did meanwhile; `worker` (0 for none) also on its own
// (idle_measure.cpp).
IdleFigures SampleIdle(int seconds, pid_t worker);

// Printable text in lines, numbered so that a lost or repeated piece shows.
std::vector<uint8_t> StreamText(size_t count);

}  // namespace quorvel::bench
