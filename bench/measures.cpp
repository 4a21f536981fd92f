#include "measures.h"

#include <algorithm>

#include "measure_common.h"
#include "session_store_measure.h"

namespace quorvel::bench {
namespace {

// One burst's refreshes as the worker makes them, capture, a 1-byte append
// and publish, with the log at 9,998 bytes before and 9,999 after. Before
// each sample the log is refilled and shown, so the window is in step with
// it as after any earlier burst.
Row Refresh(const HostFactory& make, const BenchOptions& options, bool hex) {
  std::string measure =
      std::string("Refresh (capture, 1-byte burst, publish), full log, ") + (hex ? "hex" : "text");
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  const std::vector<uint8_t> text = StreamText(kFullLog);
  std::vector<double> samples;
  bool ran = host->Run(line.Path(), [&] {
    TerminalState& state = host->State();
    WindowServices& window = host->Window();
    host->SetHexDisplay(hex);
    for (int i = 0; i < kWarmUp + options.samples; ++i) {
      {
        std::lock_guard guard(state.lock);
        state.ClearReceived();
        for (int at = 0; at < kFullLog - 1; at += 2000) {
          state.AppendReceived(text.data() + at, std::min(2000, kFullLog - 1 - at));
        }
      }
      window.Refresh(RefreshPhase::kCapture);
      window.Refresh(RefreshPhase::kPublish);
      auto start = Clock::now();
      window.Refresh(RefreshPhase::kCapture);
      {
        std::lock_guard guard(state.lock);
        state.AppendReceived(text.data() + kFullLog - 1, 1);
        host->Hub().counters.CountReceived(1);
      }
      window.Refresh(RefreshPhase::kPublish);
      auto end = Clock::now();
      if (i >= kWarmUp) samples.push_back(MillisecondsBetween(start, end));
    }
  });
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  AddLatencyFigures(row, samples);
  if (hex) {
    row.goal = "median ≤ 1 ms";
    row.verdict = Summarise(samples).median <= 1.0 ? "met" : "missed";
  }
  row.notes = "called from a non-UI thread, as the worker calls it";
  return row;
}

}  // namespace

std::vector<Measure> Measures() {
  using O = const BenchOptions&;
  using F = const HostFactory&;
  std::vector<Measure> measures = {
      {"Auto-reply turnaround, empty log",
       [](F make, O options) { return Turnaround(make, options, Answer::kAutoReply, false); }},
      {"Auto-reply turnaround, full log",
       [](F make, O options) { return Turnaround(make, options, Answer::kAutoReply, true); }},
      {"Echo turnaround, empty log",
       [](F make, O options) { return Turnaround(make, options, Answer::kEcho, false); }},
      {"Echo turnaround, full log",
       [](F make, O options) { return Turnaround(make, options, Answer::kEcho, true); }},
      {"Auto-reply turnaround, session view",
       [](F make, O options) {
         return Turnaround(make, options, Answer::kAutoReply, true, std::nullopt, nullptr, true);
       }},
      {"Echo turnaround, session view",
       [](F make, O options) {
         return Turnaround(make, options, Answer::kEcho, true, std::nullopt, nullptr, true);
       }},
      {"Answer rule turnaround",
       [](F make, O options) { return AnswerRuleTurnaround(make, options); }},
      {"Receive throughput", [](F make, O options) { return Throughput(make, options); }},
      {"Receive throughput, session store", ThroughputWithSessionStore},
      {"Receive throughput, logging raw",
       [](F make, O options) { return Throughput(make, options, LogFormat::kRaw); }},
      {"Receive throughput, logging text",
       [](F make, O options) { return Throughput(make, options, LogFormat::kText); }},
      {"Echo turnaround, full log, logging text",
       [](F make, O options) {
         return Turnaround(make, options, Answer::kEcho, true, LogFormat::kText);
       }},
      {"Auto-reply turnaround, full log, logging text",
       [](F make, O options) {
         return Turnaround(make, options, Answer::kAutoReply, true, LogFormat::kText);
       }},
      {"File send, unpaced", [](F, O) { return FileSend(size_t{10} << 20, 64, {}); }},
      {"File send, paced",
       [](F, O) {
         return FileSend(64 * 200, 64, {2, 0});
       }},
      {"Steady stream", [](F make, O options) { return SteadyStream(make, options, false); }},
      {"Steady stream, session view",
       [](F make, O options) { return SteadyStream(make, options, true); }},
      {"Plot, 8 series", PlotStream},
      {"Idle, no traffic", [](F make, O options) { return Idle(make, options, false); }},
      {"Idle, unfinished frame", [](F make, O options) { return Idle(make, options, true); }},
      {"Idle, device away", [](F make, O options) { return Away(make, options, false); }},
      {"Idle, device away, directory gone",
       [](F make, O options) { return Away(make, options, true); }},
      {"Refresh, full log, text", [](F make, O options) { return Refresh(make, options, false); }},
      {"Refresh, full log, hex", [](F make, O options) { return Refresh(make, options, true); }},
      {"Session store append", [](F, O) { return SessionStoreFigure(StoreFigure::kAppend); }},
      {"Session store resident", [](F, O) { return SessionStoreFigure(StoreFigure::kResident); }},
      {"Session store find", [](F, O) { return SessionStoreFigure(StoreFigure::kFind); }},
  };
  for (Measure& measure : NetworkMeasures()) measures.push_back(std::move(measure));
  return measures;
}

}  // namespace quorvel::bench
