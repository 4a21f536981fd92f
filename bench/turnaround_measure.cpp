// The turnaround rows: from the device's write of a frame to its read of the
// terminal's answer (auto-reply or echo), with an empty or a full log, with
// logging and with the session view.
#include <optional>
#include <thread>

#include "logging_tap.h"
#include "measure_common.h"
#include "measures.h"

namespace quorvel::bench {
namespace {

constexpr uint8_t kFrameEnd = 0x0d;

const std::vector<uint8_t> kFrame = {0x01, 0x02, 0x03, kFrameEnd};
const std::vector<uint8_t> kReply = {0x06};

uint32_t TxCount(LinkHub& hub) {
  return hub.counters.Read().txCount;
}

int LogLength(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.rxLength;
}

// Reads the whole of the terminal's answer to one frame: the bytes its
// transmission counted. False when no answer came in time.
bool DrainAnswer(PtyLine& line, LinkHub& hub, uint32_t txBefore, std::vector<uint8_t>& answer) {
  auto deadline = Clock::now() + kAnswerTimeout;
  for (;;) {
    uint32_t sent = TxCount(hub) - txBefore;
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

}  // namespace

// From the device's write of a frame's last byte to its read of the first
// byte of the terminal's answer. With a full log, the log is topped up by the
// line itself (a filler frame the terminal answers too) so that each sample's
// burst lands on 9,983 to 9,999 bytes and every refresh renders them all.
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
    LinkHub& hub = host->Hub();
    if (logging) log.emplace(hub.listeners, *logging);
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
        uint32_t before = TxCount(hub);
        std::vector<uint8_t> ignored;
        if (!line.WriteAll(filler, DeadlineIn(kAnswerTimeout)) ||
            !DrainAnswer(line, hub, before, ignored)) {
          failure = "the filler frame was not answered";
          return;
        }
      }
      // Let the worker settle into its wait, as between a real device's frames.
      std::this_thread::sleep_for(milliseconds(1));
      uint32_t before = TxCount(hub);
      auto start = Clock::now();
      if (!line.WriteAll(kFrame, DeadlineIn(kAnswerTimeout))) {
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
      if (!DrainAnswer(line, hub, before, got)) {
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

}  // namespace quorvel::bench
