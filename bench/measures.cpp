#include "measures.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

#include "engine/render.h"
#include "logging_tap.h"
#include "session_store_measure.h"

namespace quorvel::bench {
namespace {

constexpr int kWarmUp = 20;
constexpr int kFullLog = TerminalState::kLogCapacity - 1;  // 9,999 bytes
constexpr uint8_t kFrameEnd = 0x0d;
constexpr auto kAnswerTimeout = std::chrono::seconds(5);

const std::vector<uint8_t> kFrame = {0x01, 0x02, 0x03, kFrameEnd};
const std::vector<uint8_t> kReply = {0x06};

void Progress(const std::string& what, const std::string& terminal) {
  std::fprintf(stderr, "bench: %s (%s)\n", what.c_str(), terminal.c_str());
}

// A row for a measurement that could not run, with the reason.
Row Failed(const std::string& measure, const std::string& terminal, const std::string& why) {
  Row row;
  row.measure = measure;
  row.terminal = terminal;
  row.median = row.p99 = row.max = row.samples = "—";
  row.verdict = "failed";
  row.notes = why;
  return row;
}

uint32_t TxCount(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.txCount;
}

int LogLength(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.rxLength;
}

// Reads the whole of the terminal's answer to one frame: the bytes its
// transmission counted. False when no answer came in time.
bool DrainAnswer(PtyLine& line, TerminalState& state, uint32_t txBefore,
                 std::vector<uint8_t>& answer) {
  auto deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    uint32_t sent = TxCount(state) - txBefore;
    if (sent != 0 && answer.size() >= sent) return answer.size() == sent;
    if (Clock::now() > deadline) return false;
    uint8_t buffer[4096];
    size_t n = line.ReadSome(buffer, sizeof buffer, 1);
    answer.insert(answer.end(), buffer, buffer + n);
  }
}

std::vector<uint8_t> Filler(size_t count) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>('a' + i % 26);
  return bytes;
}

// From the device's write of a frame's last byte to its read of the first
// byte of the terminal's answer. With a full log, the log is topped up by the
// line itself (a filler frame the terminal answers too) so that each sample's
// burst lands on 9,983 to 9,999 bytes and every refresh renders them all.
}  // namespace

Row Turnaround(const HostFactory& make, const BenchOptions& options, Answer answer, bool fullLog,
               std::optional<LogFormat> logging, const Route* route, bool sessionView) {
  std::string measure = std::string(answer == Answer::kAutoReply ? "Auto-reply" : "Echo") +
                        " turnaround, " + (fullLog ? "full log" : "empty log") + ", hex display" +
                        (logging ? LoggingSuffix(*logging) : "") + (route ? route->name : "") +
                        (sessionView ? ", session view on" : "");
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  const std::vector<uint8_t>& expected = answer == Answer::kAutoReply ? kReply : kFrame;
  constexpr int kSamplesPerFill = 5;
  const std::vector<uint8_t> filler = [] {
    std::vector<uint8_t> bytes = Filler(kFullLog - kSamplesPerFill * kFrame.size());
    bytes.back() = kFrameEnd;  // answered and drained before the samples
    return bytes;
  }();

  std::vector<double> samples;
  int wrong = 0;
  std::string failure;
  std::optional<LoggingTap> log;
  std::string path = route ? route->open(line.Path()) : line.Path();
  if (path.empty()) return Failed(measure, host->Name(), "the server did not start");
  bool ran = host->Run(path, [&] {
    TerminalState& state = host->State();
    if (logging) log.emplace(state, *logging);
    struct Finish {
      std::optional<LoggingTap>& log;
      ~Finish() {
        if (log) log->Finish();
      }
    } finish{log};
    host->SetHexDisplay(true);
    if (sessionView) host->ShowSessionView();
    if (answer == Answer::kAutoReply) {
      host->EnableAutoReply("06", true, "0d");
    } else {
      host->EnableEcho("0d");
    }
    for (int i = 0; i < kWarmUp + options.samples; ++i) {
      if (!fullLog) {
        host->ClearReceive();
      } else if (int length = LogLength(state);
                 length + static_cast<int>(kFrame.size()) > kFullLog ||
                 length < static_cast<int>(filler.size())) {
        host->ClearReceive();
        uint32_t before = TxCount(state);
        std::vector<uint8_t> ignored;
        if (!line.WriteAll(filler, Clock::now() + kAnswerTimeout) ||
            !DrainAnswer(line, state, before, ignored)) {
          failure = "the filler frame was not answered";
          return;
        }
      }
      // Let the worker settle into its wait, as between a real device's frames.
      std::this_thread::sleep_for(milliseconds(1));
      uint32_t before = TxCount(state);
      auto start = Clock::now();
      if (!line.WriteAll(kFrame, start + kAnswerTimeout)) {
        failure = "the line did not take the frame";
        return;
      }
      uint8_t first = 0;
      if (line.ReadSome(&first, 1, 5000) != 1) {
        failure = "no answer within 5 s";
        return;
      }
      auto end = Clock::now();
      std::vector<uint8_t> got = {first};
      if (!DrainAnswer(line, state, before, got)) {
        failure = "the answer was not counted";
        return;
      }
      if (got != expected) ++wrong;
      if (i >= kWarmUp) samples.push_back(MillisecondsBetween(start, end));
    }
  });
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);

  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  AddLatencyFigures(row, samples);
  if (fullLog) {
    Summary summary = Summarise(samples);
    row.goal = "median ≤ 1 ms, p99 ≤ 3 ms";
    row.verdict = summary.median <= 1.0 && summary.p99 <= 3.0 ? "met" : "missed";
    row.notes = "log at 9,983–9,999 bytes; ";
  }
  row.notes += wrong == 0 ? "every answer right" : std::to_string(wrong) + " answers wrong";
  if (int messages = host->MessagesShown())
    row.notes += "; " + std::to_string(messages) + " message boxes";
  return row;
}

namespace {

// Printable text in lines, numbered so that a lost or repeated piece shows.
std::vector<uint8_t> StreamText(size_t count) {
  std::vector<uint8_t> text;
  text.reserve(count + 80);
  char line[96];
  for (size_t number = 0; text.size() < count; ++number) {
    int n =
        std::snprintf(line, sizeof line,
                      "%09zu The quick brown fox jumps over the lazy dog 0123456789\r\n", number);
    text.insert(text.end(), line, line + n);
  }
  text.resize(count);
  return text;
}

}  // namespace

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
      if (logging) log.emplace(state, *logging);
      host->SetHexDisplay(false);
      auto start = Clock::now();
      if (!line.WriteAll(text, start + std::chrono::minutes(5))) {
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
      std::lock_guard guard(state.lock);
      if (state.rxCount != total) {
        failure = "RX count " + std::to_string(state.rxCount) + ", sent " + std::to_string(total);
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

namespace {

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
      if (!line.WriteAll(step, Clock::now() + std::chrono::seconds(5))) {
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

struct IdleFigures {
  double cpuPercent = 0;
  double workerWakeups = 0;
  double workerInvoluntary = 0;
  double processWakeups = 0;
};

// Sleeps through `seconds` on the calling (device) thread and reports what the
// rest of the process did meanwhile; `worker` (0 for none) also on its own.
IdleFigures SampleIdle(int seconds, pid_t worker) {
  pid_t self = static_cast<pid_t>(gettid());
  // Per thread: one that ends meanwhile (a network port's modem watch once
  // the server turned out to have no lines) counts what it did until then.
  std::map<pid_t, uint64_t> first;
  auto snapshot = [&](Switches& workerSwitches, uint64_t& others, bool start) {
    workerSwitches = worker != 0 ? TaskSwitches(worker).value_or(Switches{}) : Switches{};
    others = 0;
    for (pid_t tid : Tasks()) {
      if (tid == self) continue;  // this device thread sleeps through it
      auto switches = TaskSwitches(tid);
      if (!switches) continue;
      if (start) {
        first[tid] = switches->voluntary;
      } else {
        auto before = first.find(tid);
        others += switches->voluntary - (before != first.end() ? before->second : 0);
      }
    }
  };
  IdleFigures figures;
  Switches worker0, worker1;
  uint64_t all0 = 0, all1 = 0;
  snapshot(worker0, all0, true);
  double cpu0 = ProcessCpuMs();
  auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  double cpu1 = ProcessCpuMs();
  double elapsed = MillisecondsBetween(start, Clock::now()) / 1e3;
  snapshot(worker1, all1, false);
  figures.cpuPercent = (cpu1 - cpu0) / 10.0 / elapsed;
  figures.workerWakeups = static_cast<double>(worker1.voluntary - worker0.voluntary) / elapsed;
  figures.workerInvoluntary =
      static_cast<double>(worker1.involuntary - worker0.involuntary) / elapsed;
  figures.processWakeups = static_cast<double>(all1) / elapsed;
  return figures;
}

// The link open and no traffic. With `frameWaiting`, auto-reply is on and an
// unfinished frame (no frame end yet) waits in the worker.
}  // namespace

Row Idle(const HostFactory& make, const BenchOptions& options, bool frameWaiting,
         const Route* route) {
  std::string measure = frameWaiting ? "Idle, auto-reply on, an unfinished frame waiting"
                                     : "Idle, link open, no traffic";
  measure += ", " + std::to_string(options.idleSeconds) + " s" + (route ? route->name : "");
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  IdleFigures figures;
  std::string failure;
  std::string path = route ? route->open(line.Path()) : line.Path();
  if (path.empty()) return Failed(measure, host->Name(), "the server did not start");
  bool ran = host->Run(path, [&] {
    if (frameWaiting) {
      host->EnableAutoReply("06", true, "0d");
      if (!line.WriteAll({0x01, 0x02}, Clock::now() + kAnswerTimeout) ||
          !host->WaitShownRxCount(2, kAnswerTimeout)) {
        failure = "the unfinished frame was not received";
        return;
      }
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures = SampleIdle(options.idleSeconds, host->WorkerTid());
  });
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median =
      Format(figures.cpuPercent, 3) + " % CPU, " + Format(figures.workerWakeups, 1) + " wake-ups/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  if (!frameWaiting) {
    row.goal = "≤ 0.05 % of a core, ≤ 5 wake-ups/s";
    row.verdict = figures.cpuPercent <= 0.05 && figures.workerWakeups <= 5 ? "met" : "missed";
  }
  row.notes = "CPU of the whole process; wake-ups of the worker thread (" +
              Format(figures.workerInvoluntary, 1) + "/s preempted); all its threads " +
              Format(figures.processWakeups, 1) + " wake-ups/s";
  return row;
}

namespace {

// The device pulled while the link is open: the link waits for it to return.
// With `directoryGone` the directory of its path goes too, so no watch can
// be placed on it and the one-second look stands in.
Row Away(const HostFactory& make, const BenchOptions& options, bool directoryGone) {
  std::string measure = directoryGone ? "Idle, device away, its directory gone (one-second look)"
                                      : "Idle, device away, waiting on inotify";
  measure += ", " + std::to_string(options.idleSeconds) + " s";
  auto host = make();
  Progress(measure, host->Name());
  PtyLine line;
  if (!line.Ok()) return Failed(measure, host->Name(), "no pseudo-terminal");
  std::filesystem::path directory =
      std::filesystem::temp_directory_path() / ("quorvel-bench-away-" + std::to_string(getpid()));
  std::filesystem::path link = directory / "adapter" / "ttyUSB0";
  std::error_code error;
  std::filesystem::create_directories(link.parent_path(), error);
  std::filesystem::create_symlink(line.Path(), link, error);
  IdleFigures figures;
  std::string failure;
  bool ran = host->Run(link.string(), [&] {
    std::filesystem::remove(link);
    if (directoryGone) std::filesystem::remove(link.parent_path());
    line.Hangup();
    auto deadline = Clock::now() + kAnswerTimeout;
    while (!host->LinkWaiting()) {
      if (Clock::now() > deadline) {
        failure = "the link did not notice the hang-up";
        return;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    figures = SampleIdle(options.idleSeconds, 0);
  });
  std::filesystem::remove_all(directory, error);
  if (!ran) return Failed(measure, host->Name(), "the link did not open");
  if (!failure.empty()) return Failed(measure, host->Name(), failure);
  Row row;
  row.measure = measure;
  row.terminal = host->Name();
  row.median = Format(figures.cpuPercent, 3) + " % CPU, " + Format(figures.processWakeups, 1) +
               " wake-ups/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  // Inotify serves: nothing wakes. The one-second look wakes the UI thread
  // once a second, and the look itself may wake the loop once more.
  double limit = directoryGone ? 3 : 1;
  row.goal = directoryGone ? "≤ 3 wake-ups/s" : "≤ 1 wake-up/s";
  row.verdict = figures.processWakeups <= limit ? "met" : "missed";
  row.notes =
      "CPU and wake-ups of the whole process, every thread but the device's; "
      "no worker runs while the device is away";
  return row;
}

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
        state.rxCount += 1;
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
