// The rows of a line that carries a stream: the receive throughput of a
// flood, and the CPU a steady 1 MB/s stream costs.
#include <algorithm>
#include <optional>
#include <thread>

#include "engine/render.h"
#include "logging_tap.h"
#include "measure_common.h"
#include "measures.h"

namespace quorvel::bench {

Row Throughput(const HostFactory& make, const BenchOptions& options,
               std::optional<LogFormat> logging, const Route* route) {
  const std::string measure =
      "Receive throughput, " + Format(static_cast<double>(options.streamBytes) / 1e6, 0) +
      " MB of text" + (logging ? LoggingSuffix(*logging) : "") + (route ? route->name : "");
  const std::vector<uint8_t> text = StreamText(options.streamBytes);
  const auto total = static_cast<uint32_t>(text.size());
  std::vector<double> rates;
  std::string terminal;
  for (int run = 0; run < options.streamRuns; ++run) {
    auto host = make();
    terminal = host->Name();
    Progress(measure + ", run " + std::to_string(run + 1), terminal);
    PtyLine line;
    if (!line.Ok()) return Failed(measure, terminal, "no pseudo-terminal");
    std::string failure;
    double seconds = 0;
    std::optional<LoggingTap> log;
    std::string path = route ? route->open(line.Path()) : line.Path();
    if (path.empty()) return Failed(measure, terminal, "the server did not start");
    bool ran = host->Run(path, [&] {
      TerminalState& state = host->State();
      if (logging) log.emplace(host->Hub().listeners, *logging);
      host->SetHexDisplay(false);
      auto start = Clock::now();
      if (!line.WriteAll(text, DeadlineIn(std::chrono::minutes(5)))) {
        if (log) log->Finish();
        failure = "the line did not take the stream";
        return;
      }
      bool shown = host->WaitShownRxCount(total, std::chrono::minutes(2));
      uint64_t logged = log ? log->Finish() : total;
      if (!shown) {
        failure = "the RX box never showed every byte";
        return;
      }
      if (logged < total) {
        failure = "the log file lacks bytes";
        return;
      }
      std::string log;
      {
        std::lock_guard guard(state.lock);
        if (!std::equal(state.rxBuffer.begin(), state.rxBuffer.begin() + state.rxLength,
                        text.end() - state.rxLength)) {
          failure = "the log does not hold the last bytes sent";
          return;
        }
        log = RenderReceiveText(state.rxBuffer.data(), state.rxLength, false);
      }
      // The window may show the receive box a little after the counters.
      auto shownBy = Clock::now() + std::chrono::seconds(10);
      while (host->ShownReceiveText() != log) {
        if (Clock::now() > shownBy) {
          failure = "the receive box never showed the last burst";
          return;
        }
        std::this_thread::sleep_for(milliseconds(1));
      }
      seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
      // Nothing more may arrive: every byte is counted exactly once.
      std::this_thread::sleep_for(milliseconds(50));
      uint32_t counted = host->Hub().counters.Read().rxCount;
      if (counted != total) {
        failure = "RX count " + std::to_string(counted) + ", sent " + std::to_string(total);
      }
    });
    if (!ran) return Failed(measure, terminal, "the link did not open");
    if (!failure.empty()) return Failed(measure, terminal, failure);
    rates.push_back(static_cast<double>(total) / 1e6 / seconds);
  }
  std::sort(rates.begin(), rates.end());
  Row row;
  row.measure = measure;
  row.terminal = terminal;
  row.median = Format(rates[rates.size() / 2], 1) + " MB/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(rates.size()) + (rates.size() == 1 ? " run" : " runs");
  // The goal is the local line's; through a server the figure is the pair's.
  if (!route) {
    row.goal = "≥ 12 MB/s, aiming past 31";
    row.verdict = rates[rates.size() / 2] >= 12 ? "met" : "missed";
  }
  row.notes = "slowest run " + Format(rates.front(), 1) +
              " MB/s; every run: RX count exact, last burst shown, log tail matches";
  return row;
}

// A device streaming steadily at 1 MB/s in steps of 10,000 bytes every 10 ms,
// as quorvel-devsim --stream 1000000 does: the CPU the terminal spends on a
// busy line that is far from its limit.
Row SteadyStream(const HostFactory& make, const BenchOptions& options, bool sessionView) {
  const std::string measure = "Steady stream, 1 MB/s, " +
                              std::string(sessionView ? "session view on, " : "") +
                              std::to_string(options.idleSeconds) + " s";
  constexpr size_t kStep = 10'000;
  constexpr auto kStepPeriod = milliseconds(10);
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  std::string failure;
  double cpuPercent = 0, devicePercent = 0;
  bool ran = host->Run(line.Path(), [&] {
    host->SetHexDisplay(false);
    if (sessionView) host->ShowSessionView();
    std::vector<uint8_t> step(kStep);
    for (size_t i = 0; i < kStep; ++i) step[i] = static_cast<uint8_t>(i);
    const int steps = options.idleSeconds * 100;
    double cpu0 = ProcessCpuMs();
    double deviceCpu0 = ThreadCpuMs();
    auto start = Clock::now();
    for (int i = 0; i < steps; ++i) {
      // The device's own pace, not a wait for the terminal.
      std::this_thread::sleep_until(start + kStepPeriod * (i + 1));
      if (!line.WriteAll(step, DeadlineIn(std::chrono::seconds(5)))) {
        failure = "the line did not take the stream";
        return;
      }
    }
    if (!host->WaitShownRxCount(static_cast<uint32_t>(kStep) * static_cast<uint32_t>(steps),
                                std::chrono::seconds(10))) {
      failure = "the RX box never showed every byte";
      return;
    }
    double seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
    // The device's writes are this thread's: the terminal is the rest.
    double deviceCpu = ThreadCpuMs() - deviceCpu0;
    cpuPercent = (ProcessCpuMs() - cpu0 - deviceCpu) / 10.0 / seconds;
    devicePercent = deviceCpu / 10.0 / seconds;
  });
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median = Format(cpuPercent, 2) + " % CPU";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  row.goal = "< 2 % of a core";
  row.verdict = cpuPercent < 2 ? "met" : "missed";
  row.notes = "CPU of the terminal's threads (the device thread's writes, " +
              Format(devicePercent, 2) + " %, left out); every byte shown";
  return row;
}

}  // namespace quorvel::bench
