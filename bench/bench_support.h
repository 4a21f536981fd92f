// What every measurement shares: the device's end of a pseudo-terminal,
// statistics over samples, the report table, and what the kernel tells about
// our own threads.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quorvel::bench {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

double MillisecondsBetween(Clock::time_point from, Clock::time_point to);

// A pseudo-terminal whose slave the terminal opens; the benchmark plays the
// device on the master. The slave stays open here so the line never hangs up.
class PtyLine {
 public:
  PtyLine();  // check Ok()
  ~PtyLine();
  PtyLine(const PtyLine&) = delete;
  PtyLine& operator=(const PtyLine&) = delete;

  bool Ok() const { return master_ >= 0; }
  const std::string& Path() const { return path_; }

  // Writes every byte, waiting for the line to take them; false on an error
  // or when `deadline` passes first.
  bool WriteAll(const uint8_t* bytes, size_t count, Clock::time_point deadline);
  bool WriteAll(const std::vector<uint8_t>& bytes, Clock::time_point deadline) {
    return WriteAll(bytes.data(), bytes.size(), deadline);
  }

  // Waits up to `timeoutMs` for bytes and reads what is there (at most
  // `capacity`); 0 when nothing came.
  size_t ReadSome(uint8_t* buffer, size_t capacity, int timeoutMs);

  // Reads until `out` holds `count` more bytes or `deadline` passes.
  bool ReadExactly(size_t count, std::vector<uint8_t>& out, Clock::time_point deadline);

  // Throws away whatever arrives within `quiet` of the last byte.
  size_t Drain(milliseconds quiet);

  // Closes the device side, as when an adapter is pulled.
  void Hangup();

 private:
  int master_ = -1;
  int slave_ = -1;
  std::string path_;
};

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
