// Two ports as one link on pseudo-terminals, headless: the monitor's stamp
// error (each run's stamp, taken on its side's worker, against the moment
// the device wrote its byte), the bridge's transit from one device's write
// to the other device's read (an upper bound of what the bridge adds: the
// two pseudo-terminals' own hand-overs are in it), and the processor time
// of 1 MB/s each way through the bridge.
#include <poll.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "core/line_listener.h"
#include "measures.h"
#include "pairing/link_pair.h"

namespace quorvel::bench {
namespace {

using namespace std::chrono;
using PairClock = steady_clock;

constexpr LineParameters kPairLine{115200, 8, kOneStopBit, kParityNone};
constexpr PairSide kBothSides[] = {PairSide::kA, PairSide::kB};

int64_t PairNowNs() {
  return duration_cast<nanoseconds>(PairClock::now().time_since_epoch()).count();
}

// Counts what a side read, so a sample waits for its run to be kept.
class ReadCount : public LineListener {
 public:
  void Received(const uint8_t*, int count) override {
    bytes.fetch_add(static_cast<uint64_t>(count));
  }
  void Sent(const uint8_t*, int) override {}
  std::atomic<uint64_t> bytes{0};
};

// Two devices and a pair started on them; false when a side did not open.
struct PairBench {
  PtyLine a, b;
  LinkPair pair;
  bool Start(PairMode mode) {
    if (!a.Ok() || !b.Ok()) return false;
    pair.Start(mode, {PortTarget::Device(a.Path()), kPairLine},
               {PortTarget::Device(b.Path()), kPairLine});
    return pair.Status(PairSide::kA).link.open && pair.Status(PairSide::kB).link.open;
  }
  PtyLine& Device(PairSide side) { return side == PairSide::kA ? a : b; }
};

bool WaitFor(const std::atomic<uint64_t>& value, uint64_t wanted, milliseconds limit) {
  auto deadline = PairClock::now() + limit;
  while (value.load() < wanted) {
    if (PairClock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

Row Failed(Row row, const std::string& why) {
  row.verdict = "failed";
  row.notes = why;
  return row;
}

Row MonitorStampError(const BenchOptions& options) {
  Row row;
  row.measure = "Monitor: stamp − device's write, A and B in turn";
  row.terminal = "headless core";
  PairBench bench;
  if (!bench.Start(PairMode::kMonitor)) return Failed(row, "a side would not open");
  ReadCount counts[2];
  for (PairSide side : kBothSides) {
    bench.pair.Session(side).Hub().listeners.Add(counts[static_cast<int>(side)]);
  }
  int total = options.samples + 50;
  std::vector<int64_t> written;
  for (int i = 0; i < total; ++i) {
    auto side = static_cast<PairSide>(i % 2);
    uint8_t byte = static_cast<uint8_t>(i);
    uint64_t before = counts[i % 2].bytes.load();
    written.push_back(PairNowNs());
    if (!bench.Device(side).WriteAll(&byte, 1, DeadlineIn(seconds(1))) ||
        !WaitFor(counts[i % 2].bytes, before + 1, seconds(1))) {
      return Failed(row, "sample " + std::to_string(i) + " was not read");
    }
  }
  std::vector<double> errors;
  size_t index = 0;
  bool inOrder = true;
  bench.pair.Store().ForEachRun([&](const SessionStore::Run& run) {
    if (run.kind == SessionKind::kEvent) return true;
    for (size_t k = 0; k < run.bytes.size() && index < written.size(); ++k, ++index) {
      inOrder = inOrder && run.bytes[k] == static_cast<uint8_t>(index);
      if (index >= 50) errors.push_back(static_cast<double>(run.monoNs - written[index]) / 1e6);
    }
    return true;
  });
  for (PairSide side : kBothSides) {
    bench.pair.Session(side).Hub().listeners.Remove(counts[static_cast<int>(side)]);
  }
  if (!inOrder) return Failed(row, "the history's order is not the order written");
  if (errors.size() != static_cast<size_t>(options.samples)) {
    return Failed(row, "the history kept " + std::to_string(errors.size()) + " samples");
  }
  AddLatencyFigures(row, errors);
  row.notes =
      "read order = write order for every sample; the error is the pseudo-terminal's "
      "hand-over and the worker's wake-up";
  return row;
}

Row BridgeTransit(const BenchOptions& options) {
  Row row;
  row.measure = "Bridge: one device's write to the other's read, each way in turn";
  row.terminal = "headless core";
  row.goal = "median ≤ 0.5 ms";
  PairBench bench;
  if (!bench.Start(PairMode::kBridge)) return Failed(row, "a side would not open");
  std::vector<double> samples;
  int total = options.samples + 50;
  for (int i = 0; i < total; ++i) {
    auto from = static_cast<PairSide>(i % 2);
    uint8_t byte = static_cast<uint8_t>(i);
    int64_t start = PairNowNs();
    if (!bench.Device(from).WriteAll(&byte, 1, DeadlineIn(seconds(1)))) {
      return Failed(row, "a write failed");
    }
    uint8_t got = 0;
    if (bench.Device(OtherSide(from)).ReadSome(&got, 1, 1000) != 1 || got != byte) {
      return Failed(row, "sample " + std::to_string(i) + " did not arrive");
    }
    if (i >= 50) samples.push_back(static_cast<double>(PairNowNs() - start) / 1e6);
  }
  Summary summary = AddLatencyFigures(row, samples);
  row.verdict = summary.median <= 0.5 ? "met" : "missed";
  return row;
}

// 1 KiB each millisecond into each device, what comes out of the other read
// at once; the helpers' own processor time is left out of the figure.
Row BridgeLoad() {
  Row row;
  row.measure = "Bridge: 1 MB/s each way for 5 s, processor time";
  row.terminal = "headless core";
  PairBench bench;
  if (!bench.Start(PairMode::kBridge)) return Failed(row, "a side would not open");
  constexpr auto kLength = seconds(5);
  constexpr size_t kChunk = 1000;
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> arrived[2] = {0, 0};
  std::atomic<double> helpersMs{0};
  std::atomic<bool> writeFailed{false};
  auto addHelper = [&](double ms) {
    double seen = helpersMs.load();
    while (!helpersMs.compare_exchange_weak(seen, seen + ms)) {
    }
  };
  double cpuBefore = ProcessCpuMs();
  auto wallBefore = PairClock::now();
  std::vector<std::thread> helpers;
  uint64_t sent = 0;
  for (PairSide side : kBothSides) {
    helpers.emplace_back([&, side] {
      std::vector<uint8_t> chunk(kChunk, static_cast<uint8_t>('a' + static_cast<int>(side)));
      auto next = PairClock::now();
      for (auto end = next + kLength; next < end; next += milliseconds(1)) {
        std::this_thread::sleep_until(next);
        if (!bench.Device(side).WriteAll(chunk, DeadlineIn(seconds(1)))) writeFailed = true;
      }
      addHelper(ThreadCpuMs());
    });
    helpers.emplace_back([&, side] {
      uint8_t buffer[65536];
      while (!stop.load()) {
        size_t got = bench.Device(OtherSide(side)).ReadSome(buffer, sizeof buffer, 20);
        arrived[static_cast<int>(side)] += got;
      }
      addHelper(ThreadCpuMs());
    });
  }
  sent = kChunk * static_cast<uint64_t>(duration_cast<milliseconds>(kLength).count());
  helpers[0].join();
  helpers[2].join();
  auto deadline = PairClock::now() + seconds(5);
  while ((arrived[0].load() < sent || arrived[1].load() < sent) && PairClock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  double wallMs = duration<double, std::milli>(PairClock::now() - wallBefore).count();
  stop = true;
  helpers[1].join();
  helpers[3].join();
  double cpuMs = ProcessCpuMs() - cpuBefore - helpersMs.load();
  ForwardCounts ab = bench.pair.Status(PairSide::kA).forwarded;
  ForwardCounts ba = bench.pair.Status(PairSide::kB).forwarded;
  row.median = Format(100.0 * cpuMs / wallMs, 1) + " % of a core";
  row.samples = "1";
  if (writeFailed || arrived[0] != sent || arrived[1] != sent) {
    return Failed(row, "A→B " + std::to_string(arrived[0].load()) + ", B→A " +
                           std::to_string(arrived[1].load()) + " of " + std::to_string(sent) +
                           " bytes; not forwarded " + std::to_string(ab.dropped + ba.dropped));
  }
  row.notes = "every byte arrived each way (" + std::to_string(sent) + "), none held back";
  return row;
}

}  // namespace

std::vector<Row> PairMeasures(const BenchOptions& options) {
  return {MonitorStampError(options), BridgeTransit(options), BridgeLoad()};
}

}  // namespace quorvel::bench
