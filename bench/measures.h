// The measurements of the report, each run against one kind of terminal host.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/send_writer.h"
#include "terminal_host.h"

namespace quorvel::bench {

struct BenchOptions {
  int samples = 1000;    // per latency measurement, after a warm-up
  int idleSeconds = 10;  // per idle measurement
  size_t streamBytes = 20'000'000;
  int streamRuns = 3;
  int startupRuns = 1000;  // fresh processes for the start-up
};

struct Measure {
  std::string name;  // as the report's first column shows it
  std::function<Row(const HostFactory&, const BenchOptions&)> run;
};

// Every measurement that runs against any host, in report order.
std::vector<Measure> Measures();

// The worker's turnaround for a matching answer rule beside the auto-reply's.
Row AnswerRuleTurnaround(const HostFactory& make, const BenchOptions& options);

// A file of `bytes` in lines of `lineLength` sent through the send writer to
// a device that reads at once, with `pacing`.
Row FileSend(size_t bytes, size_t lineLength, FilePacing pacing);

inline constexpr char kReplayName[] = "Replay reply delay";
// The simulator's replay answering `exchanges` host frames, each `delayMs`
// after it as recorded: how far the answers come from that delay.
Row ReplayReplyDelay(int exchanges, int delayMs);

inline constexpr char kSendListName[] = "Send all in order";
// "Send all in order" with a delay after each entry: how far each pause is off.
Row SendListDelays(const BenchOptions& options);

}  // namespace quorvel::bench
