// "Send all in order" with delays: the send list's sequencer (the window's
// timer on the UI thread) sends numbered one-byte entries through the send
// writer to a pseudo-terminal, round after round; the device side stamps
// each byte as it arrives. The error per entry is the gap between two
// arrivals less the delay asked for after the first.
#include "measures.h"

#ifdef QUORVEL_BENCH_WINDOW
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>

#include "engine/send_writer.h"
#include "link/serial_port.h"
#include "terminal_host.h"
#include "ui/send_sequence.h"
#include "window_bench.h"
#endif

namespace quorvel::bench {

// `options` sizes the run only where the window is built.
Row SendListDelays([[maybe_unused]] const BenchOptions& options) {
  Row row;
  row.measure = "Send all in order, delay error per entry (2, 5, 10, 20 ms)";
  row.terminal = "UI timer";
  row.goal = "median ≤ 2 ms";
#ifndef QUORVEL_BENCH_WINDOW
  row.median = row.p99 = row.max = row.samples = "—";
  row.notes = "window not built";
  return row;
#else
  std::fprintf(stderr, "bench: %s\n", row.measure.c_str());
  EnsureApplication();
  constexpr int kDelays[] = {2, 5, 10, 20};
  std::vector<SendListEntry> entries;
  for (int i = 0; i < 8; ++i) {
    SendListEntry entry;
    entry.name = std::to_string(i);
    entry.content = std::string(1, static_cast<char>('a' + i));
    entry.delayMs = kDelays[i % 4];
    entries.push_back(entry);
  }
  size_t wanted = static_cast<size_t>(std::clamp(options.samples, 50, 400)) + 1;
  PtyLine line;
  SerialPort port;
  if (!line.Ok() ||
      !port.Open(PortTarget::Device(line.Path()), {115200, 8, kOneStopBit, kParityNone})) {
    row.verdict = "failed";
    row.notes = "no line";
    return row;
  }
  LinkHub hub{port};
  SendWriter writer{hub};
  std::vector<std::pair<uint8_t, Clock::time_point> > arrivals;
  std::atomic<bool> done{false};
  std::thread device([&] {
    uint8_t buffer[64];
    auto deadline = Clock::now() + std::chrono::minutes(2);
    while (arrivals.size() < wanted && Clock::now() < deadline) {
      size_t got = line.ReadSome(buffer, sizeof buffer, 100);
      auto now = Clock::now();
      for (size_t i = 0; i < got; ++i) arrivals.emplace_back(buffer[i], now);
    }
    done = true;
  });
  SendSequence sequence(
      [&](const SendListEntry& entry, SendDone written) {
        writer.Queue(EntryBytes(entry), std::move(written));
        return true;
      },
      [](bool, size_t, size_t) {}, nullptr);
  sequence.Start(entries, true);
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if (done) loop.quit();
  });
  poll.start(20);
  loop.exec();
  sequence.Stop();
  device.join();
  writer.Abort();

  std::vector<double> errors;
  bool ordered = true;
  for (size_t i = 1; i < arrivals.size(); ++i) {
    size_t previous = static_cast<size_t>(arrivals[i - 1].first - 'a');
    ordered = ordered && previous < entries.size() &&
              arrivals[i].first == 'a' + (previous + 1) % entries.size();
    if (!ordered) break;
    errors.push_back(MillisecondsBetween(arrivals[i - 1].second, arrivals[i].second) -
                     entries[previous].delayMs);
  }
  if (!ordered || errors.size() + 1 < wanted) {
    row.verdict = "failed";
    row.notes = ordered ? "too few entries arrived" : "entries out of order";
    return row;
  }
  Summary summary = AddLatencyFigures(row, errors);
  row.verdict = summary.median <= 2.0 ? "met" : "missed";
  row.notes = "arrival to arrival less the delay; order exact";
  return row;
#endif
}

}  // namespace quorvel::bench
