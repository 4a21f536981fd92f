// The measurements of the report, each run against one kind of terminal host.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "engine/send_writer.h"
#include "logging/log_format.h"
#include "terminal_host.h"

namespace quorvel::bench {

struct BenchOptions {
  int samples = 1000;    // per latency measurement, after a warm-up
  int idleSeconds = 10;  // per idle measurement
  size_t streamBytes = 20'000'000;
  int streamRuns = 3;
  int startupRuns = 1000;  // fresh processes for the start-up
  int plotSeconds = 60;    // of the plot's stream
};

struct Measure {
  std::string name;  // as the report's first column shows it
  std::function<Row(const HostFactory&, const BenchOptions&)> run;
};

// Every measurement that runs against any host, in report order.
std::vector<Measure> Measures();

// The worker's turnaround for a matching answer rule beside the auto-reply's.
Row AnswerRuleTurnaround(const HostFactory& make, const BenchOptions& options);

enum class Answer { kAutoReply, kEcho };

// How a measurement reaches the pseudo-terminal that plays its device: the
// path the terminal is to open for it (a server started in front of it, say)
// and what the measure's name gets for it. `open` returns "" on failure.
struct Route {
  std::string name;
  std::function<std::string(const std::string& ptyPath)> open;
};

// From the device's write of a frame's last byte to its read of the answer.
// `sessionView`: the window shows the session view all along.
Row Turnaround(const HostFactory& make, const BenchOptions& options, Answer answer, bool fullLog,
               std::optional<LogFormat> logging = std::nullopt, const Route* route = nullptr,
               bool sessionView = false);
// A stream of text received and shown.
Row Throughput(const HostFactory& make, const BenchOptions& options,
               std::optional<LogFormat> logging = std::nullopt, const Route* route = nullptr);

// The CPU a device streaming steadily at 1 MB/s costs the terminal.
Row SteadyStream(const HostFactory& make, const BenchOptions& options, bool sessionView);

// CPU and wake-ups of an open link with no traffic.
Row Idle(const HostFactory& make, const BenchOptions& options, bool frameWaiting,
         const Route* route = nullptr);
// CPU and wake-ups of a link waiting for its pulled device to come back.
Row Away(const HostFactory& make, const BenchOptions& options, bool directoryGone);

// The plot following 8 series at 10,000 lines a second, beside the same
// stream without it; the export checked against every line (plot_measure.cpp).
Row PlotStream(const HostFactory& make, const BenchOptions& options);
// The plot feed's parsing of numeric lines, headless.
inline constexpr char kPlotParseName[] = "Plot parse";
Row PlotParse();

// The rows through ser2net on loopback (network_measure.cpp).
std::vector<Measure> NetworkMeasures();

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

// Two ports as one link: the monitor's stamps, the bridge's transit and its
// processor time at 1 MB/s each way (pair_measure.cpp).
inline constexpr char kPairName[] = "Two ports";
std::vector<Row> PairMeasures(const BenchOptions& options);

inline constexpr char kZmodemName[] = "ZMODEM 4 MiB over a pseudo-terminal";
// ZMODEM against lrzsz: sz to rz, ours to rz and sz to ours (zmodem_measure.cpp).
std::vector<Row> ZmodemTransfers();

inline constexpr char kScriptName[] = "Script";
// A script on a link session against a pseudo-terminal (script_measure.cpp):
// expect's return after the last byte, send/expect round trips against an
// echo, and the real `quorvel --script` from its start to its first byte.
Row ScriptExpectLatency(const BenchOptions& options);
Row ScriptRoundTrips(const BenchOptions& options);
Row ScriptHeadlessStart(const BenchOptions& options);

}  // namespace quorvel::bench
