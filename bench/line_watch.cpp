#include "line_watch.h"

#include <unistd.h>

#include <condition_variable>
#include <mutex>
#include <thread>

#include "connection/link_session.h"
#include "core/terminal_state.h"

namespace quorvel::bench {
namespace {

// Lines that never move, behind a driver that either waits for a change (and
// so sleeps until interrupted) or cannot.
class QuietLines : public ModemControl {
 public:
  explicit QuietLines(bool driverWaits) : driverWaits_(driverWaits) {}

  bool GetLines(int, unsigned* lines) override {
    *lines = kLineDtr | kLineRts | kLineDsr;
    return true;
  }
  bool Raise(int, unsigned) override { return true; }
  bool Drop(int, unsigned) override { return true; }
  bool SendBreak(int) override { return true; }
  bool SetBreak(int, bool) override { return true; }

  ModemWait WaitForChange(int) override {
    if (!driverWaits_) return ModemWait::kUnsupported;
    std::unique_lock lock(mutex_);
    waiting_ = true;
    interrupted_.wait(lock, [this] { return !waiting_; });
    return ModemWait::kInterrupted;
  }
  void InterruptWait(pthread_t) override {
    std::lock_guard guard(mutex_);
    waiting_ = false;
    interrupted_.notify_all();
  }

 private:
  const bool driverWaits_;
  std::mutex mutex_;
  std::condition_variable interrupted_;
  bool waiting_ = false;
};

// A window that is never asked anything while the line is quiet.
class NoWindow : public WindowServices {
 public:
  void Refresh(RefreshPhase) override {}
};

uint64_t OtherThreadsWakeups() {
  pid_t self = static_cast<pid_t>(gettid());
  uint64_t total = 0;
  for (pid_t tid : Tasks()) {
    if (tid == self) continue;
    if (auto switches = TaskSwitches(tid)) total += switches->voluntary;
  }
  return total;
}

}  // namespace

Row MeasureLineWatchIdle(const BenchOptions& options, bool driverWaits) {
  Row row;
  row.measure = std::string(kLineWatchName) +
                (driverWaits ? ", driver waits for changes, " : ", driver looked at, ") +
                std::to_string(options.idleSeconds) + " s";
  row.terminal = "headless core";
  row.p99 = row.max = "—";
  row.samples = std::to_string(options.idleSeconds) + " s";
  PtyLine line;
  QuietLines lines(driverWaits);
  TerminalState state;
  NoWindow window;
  state.AttachWindow(&window);
  LinkSession link(lines);
  link.AttachTerminal(&state);
  // 9600 baud, 8 data bits, 1 stop bit, no parity.
  if (!line.Ok() ||
      !link.Open(PortTarget::Device(line.Path()), {9600, 8, kOneStopBit, kParityNone}).open) {
    row.verdict = "failed";
    row.notes = "the link did not open";
    return row;
  }
  std::this_thread::sleep_for(std::chrono::seconds(1));
  uint64_t before = OtherThreadsWakeups();
  double cpu0 = ProcessCpuMs();
  auto start = Clock::now();
  std::this_thread::sleep_for(std::chrono::seconds(options.idleSeconds));
  double seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
  double cpu = (ProcessCpuMs() - cpu0) / 10.0 / seconds;
  double wakeups = static_cast<double>(OtherThreadsWakeups() - before) / seconds;
  link.Shutdown();
  state.AttachWindow(nullptr);
  row.median = Format(cpu, 3) + " % CPU, " + Format(wakeups, 1) + " wake-ups/s";
  row.goal = driverWaits ? "no wake-ups" : "≤ 2 wake-ups/s";
  row.verdict = wakeups <= (driverWaits ? 0.1 : 2.0) ? "met" : "missed";
  row.notes = "every thread of the process: receive worker, line watcher, line commands";
  return row;
}

}  // namespace quorvel::bench
