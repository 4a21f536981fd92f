// The replay's timing: a recording of exchanges, each answered 5 ms after the
// host's frame, played by the simulator's replay on a pseudo-terminal while
// the benchmark is the host. The error is how far each answer came from its
// recorded delay, as the host sees it (the line's own latency included).
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <thread>

#include "bench_support.h"
#include "core/event_fd.h"
#include "link/serial_port.h"
#include "logging/log_format.h"
#include "measures.h"
#include "sim/recording.h"
#include "sim/replay_line.h"
#include "sim/replay_player.h"
#include "terminal_host.h"

namespace quorvel::bench {
namespace {

constexpr int64_t kStartMs = 1'800'000'000'000;
constexpr int64_t kExchangeEveryMs = 20;

std::vector<uint8_t> Frame(int exchange, char kind) {
  std::string text = kind + std::to_string(exchange) + "\r\n";
  return std::vector<uint8_t>(text.begin(), text.end());
}

std::string Recording(int exchanges, int delayMs) {
  LogFormatter formatter(LogFormat::kHex, true);
  std::string text;
  for (int i = 0; i < exchanges; ++i) {
    int64_t at = kStartMs + i * kExchangeEveryMs;
    std::vector<uint8_t> ask = Frame(i, 'Q');
    std::vector<uint8_t> answer = Frame(i, 'A');
    formatter.Append(LogDirection::kSent, at, ask.data(), ask.size(), text);
    formatter.Append(LogDirection::kReceived, at + delayMs, answer.data(), answer.size(), text);
  }
  return text;
}

// The replay's line, as the simulator makes it: raw, the master not blocking.
bool OpenLine(int& master, int& slave, std::string& path) {
  termios raw{};
  cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  char name[256] = {};
  if (openpty(&master, &slave, name, &raw, nullptr) != 0) return false;
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
  path = name;
  return true;
}

}  // namespace

Row ReplayReplyDelay(int exchanges, int delayMs) {
  Row row;
  row.measure = std::string(kReplayName) + " error, " + std::to_string(delayMs) + " ms recorded";
  row.terminal = "devsim replay, in process";
  row.goal = "≤ 1 ms";
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  std::vector<RecordedBurst> bursts;
  RecordingError error;
  int master = -1;
  int slave = -1;
  std::string path;
  if (!ParseRecording(Recording(exchanges, delayMs), bursts, error) ||
      !OpenLine(master, slave, path)) {
    row.verdict = "failed";
    row.notes = "no recording or no line";
    return row;
  }
  ReplayPlayer player(ReplayScript(bursts), {}, [](const std::string&) {});
  EventFd stop;
  SerialPort port;
  ::close(slave);  // as the simulator does, so that the host's open shows
  LineOpenWatch watch(master, path);
  ReplayLine line{master, path, stop.Descriptor(), &watch};
  std::thread device([&] {
    if (WaitForHost(line)) RunReplay(line, player, nullptr);
  });
  std::vector<double> errors;
  double signedSum = 0;
  if (port.Open(PortTarget::Device(path), {115200, 8, kOneStopBit, kParityNone})) {
    for (int i = 0; i < exchanges; ++i) {
      std::vector<uint8_t> ask = Frame(i, 'Q');
      size_t want = Frame(i, 'A').size();
      auto sent = Clock::now();
      port.Write(ask.data(), static_cast<int>(ask.size()));
      size_t got = 0;
      auto deadline = sent + std::chrono::seconds(2);
      while (got < want && Clock::now() < deadline) {
        port.WaitReadable(100);
        uint8_t buffer[64];
        got += static_cast<size_t>(port.Read(buffer, static_cast<int>(want - got)));
      }
      if (got < want) break;
      double delay = MillisecondsBetween(sent, Clock::now());
      signedSum += delay - delayMs;
      errors.push_back(std::fabs(delay - delayMs));
    }
  }
  stop.Signal();
  device.join();
  port.Close();
  ::close(master);
  if (errors.size() != static_cast<size_t>(exchanges)) {
    row.verdict = "failed";
    row.notes = "answers missing after " + std::to_string(errors.size()) + " exchanges";
    return row;
  }
  Summary summary = AddLatencyFigures(row, errors);
  row.verdict = summary.p99 <= 1.0 ? "met" : "missed";
  row.notes = "absolute error of the delay the host saw; mean signed error " +
              Milliseconds(signedSum / static_cast<double>(errors.size()));
  return row;
}

}  // namespace quorvel::bench
