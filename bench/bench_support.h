// What every measurement shares: the device's end of a pseudo-terminal (the
// one the tests use), statistics over samples, the report table, and what the
// kernel tells about our own threads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "support/pty_line.h"

namespace quorvel::bench {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MillisecondsBetween(Clock::time_point from, Clock::time_point to);
// The deadline `wait` from now, as PtyLine takes it (core/clock.h SteadyNowMs).
inline int64_t DeadlineIn(milliseconds wait) {
  return SteadyNowMs() + wait.count();
}

// The device's end of a pseudo-terminal, raw from the start.
using testing::PtyLine;

struct Summary {
  size_t count = 0;
  double median = 0;
  double p99 = 0;
  double max = 0;
};

// Nearest-rank percentiles, so every figure is one that was measured.
Summary Summarise(std::vector<double> samples);

// One line of the report.
struct Row {
  std::string measure;
  std::string terminal;
  std::string median;
  std::string p99;
  std::string max;
  std::string samples;
  std::string goal;
  std::string verdict;  // "met", "missed" or "" when no goal applies
  std::string notes;
};

std::string Format(double value, int decimals);
std::string Milliseconds(double ms);  // "0.123 ms"

// Fills the row's median, p99, max and samples from samples in milliseconds;
// returns their summary for the verdict.
Summary AddLatencyFigures(Row& row, const std::vector<double>& samples);

std::string MarkdownTable(const std::vector<Row>& rows);

// Process CPU time (all threads) in milliseconds.
double ProcessCpuMs();
// The calling thread's CPU time in milliseconds.
double ThreadCpuMs();
// This process's task (thread) ids.
std::vector<pid_t> Tasks();
// Context switches of one task since it started (voluntary, involuntary):
// each voluntary one is a sleep, so each is followed by one wake-up.
struct Switches {
  uint64_t voluntary = 0;
  uint64_t involuntary = 0;
};
std::optional<Switches> TaskSwitches(pid_t tid);
// Resident memory of this process in kB, from /proc/self/status.
uint64_t ResidentKb();

std::string MachineDescription();
// The load averages over 1, 5 and 15 minutes: other work skews the figures.
std::string LoadAverage();

}  // namespace quorvel::bench
