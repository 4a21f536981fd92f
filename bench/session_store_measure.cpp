#include "session_store_measure.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "history/session_store.h"

namespace quorvel::bench {
namespace {

constexpr size_t kStreamBytes = 100'000'000;
constexpr int kReadBytes = 2000;  // the worker's largest read

struct StoreFigures {
  double appendMbPerS = 0;
  double appendMbPerCpuS = 0;  // per second of CPU: what a busy machine hides
  double keptMb = 0;
  double indexMb = 0;
  double residentMb = 0;  // grown by the store
  double findMs = 0;      // the slower of the two cases, nothing to find
  double findAnyCaseMs = 0;
  double resplitMs = 0;
};

double MsSince(Clock::time_point start) {
  return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// A text-like stream: printable bytes in lines of 20 to 120, a reproducible
// pattern rather than a file, so each run measures the same bytes.
std::vector<uint8_t> Stream(size_t size = kStreamBytes) {
  std::vector<uint8_t> bytes(size);
  uint32_t seed = 19;
  size_t lineLeft = 0;
  for (uint8_t& byte : bytes) {
    seed = seed * 1664525u + 1013904223u;
    if (lineLeft == 0) {
      byte = '\n';
      lineLeft = 20 + (seed >> 24) % 100;
    } else {
      byte = static_cast<uint8_t>(' ' + (seed >> 25) % 90);
      --lineLeft;
    }
  }
  return bytes;
}

StoreFigures Measure() {
  StoreFigures figures;
  std::vector<uint8_t> stream = Stream();
  uint64_t residentBefore = ResidentKb();
  auto store = std::make_unique<SessionStore>(kSessionLimitMax);
  std::fprintf(stderr, "bench: session store, 100 MB\n");
  Clock::time_point start = Clock::now();
  double cpuStart = ProcessCpuMs();
  for (size_t at = 0; at < stream.size(); at += kReadBytes) {
    int n = static_cast<int>(std::min<size_t>(kReadBytes, stream.size() - at));
    if (at / kReadBytes % 8 == 7) {
      store->Sent(stream.data() + at, n);
    } else {
      store->Received(stream.data() + at, n);
    }
  }
  double appendMs = MsSince(start);
  double appendCpuMs = ProcessCpuMs() - cpuStart;
  figures.appendMbPerS = static_cast<double>(stream.size()) / 1e6 / (appendMs / 1e3);
  figures.appendMbPerCpuS = static_cast<double>(stream.size()) / 1e6 / (appendCpuMs / 1e3);
  SessionCounts counts = store->Counts(SessionDisplay::kText);
  figures.keptMb = static_cast<double>(counts.keptBytes) / 1e6;
  figures.indexMb = static_cast<double>(counts.indexBytes) / 1e6;
  figures.residentMb = static_cast<double>(ResidentKb() - residentBefore) / 1e3;

  SessionQuery absent{{'\x7f', 'Q', 'u', 'o', 'r', 'v'}, true};
  start = Clock::now();
  store->Find(SessionDisplay::kText, absent, 0, FindWay::kForward);
  figures.findMs = MsSince(start);
  absent.matchCase = false;
  start = Clock::now();
  store->Find(SessionDisplay::kText, absent, 0, FindWay::kBackward);
  figures.findAnyCaseMs = MsSince(start);

  start = Clock::now();
  store->SetSplit({100, 100, '\n'});
  figures.resplitMs = MsSince(start);
  return figures;
}

const StoreFigures& Figures() {
  static const StoreFigures figures = Measure();
  return figures;
}

}  // namespace

Row ThroughputWithSessionStore(const HostFactory& make, const BenchOptions& options) {
  const std::string measure = "Receive throughput, " +
                              Format(static_cast<double>(options.streamBytes) / 1e6, 0) +
                              " MB of text, session store";
  const std::vector<uint8_t> text = Stream(options.streamBytes);
  std::vector<double> rates;
  Row row;
  row.measure = measure;
  for (int run = 0; run < options.streamRuns; ++run) {
    SessionStore store(kSessionLimitMax);  // outlives the host's worker
    auto host = make();
    row.terminal = host->Name();
    std::fprintf(stderr, "bench: %s, run %d (%s)\n", measure.c_str(), run + 1,
                 row.terminal.c_str());
    PtyLine line;
    std::string failure = line.Ok() ? "" : "no pseudo-terminal";
    double seconds = 0;
    bool ran = line.Ok() && host->Run(line.Path(), [&] {
      LineListeners& listeners = host->Hub().listeners;
      listeners.Add(store);
      auto start = Clock::now();
      if (!line.WriteAll(text, DeadlineIn(std::chrono::minutes(5))) ||
          !host->WaitShownRxCount(static_cast<uint32_t>(text.size()), std::chrono::minutes(2))) {
        failure = "the terminal did not take the stream";
      }
      auto deadline = Clock::now() + std::chrono::seconds(30);
      while (store.Counts(SessionDisplay::kText).keptBytes < text.size() &&
             Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      seconds = MsSince(start) / 1e3;
      listeners.Remove(store);
    });
    if (failure.empty() && !ran) failure = "the link did not open";
    if (failure.empty() && store.Counts(SessionDisplay::kText).keptBytes != text.size()) {
      failure = "the store lacks bytes";
    }
    if (!failure.empty()) {
      row.median = row.p99 = row.max = row.samples = "—";
      row.verdict = "failed";
      row.notes = failure;
      return row;
    }
    rates.push_back(static_cast<double>(text.size()) / 1e6 / seconds);
  }
  std::sort(rates.begin(), rates.end());
  row.median = Format(rates[rates.size() / 2], 1) + " MB/s";
  row.p99 = row.max = "—";
  row.samples = std::to_string(rates.size()) + " runs";
  row.goal = "> 60 MB/s";
  row.verdict = rates[rates.size() / 2] > 60 ? "met" : "missed";
  row.notes = "slowest run " + Format(rates.front(), 1) + " MB/s; the store holds every byte";
  return row;
}

Row SessionStoreFigure(StoreFigure figure) {
  const StoreFigures& f = Figures();
  Row row;
  row.terminal = "headless core";
  row.p99 = row.max = "—";
  row.samples = "1";
  switch (figure) {
    case StoreFigure::kAppend:
      row.measure = "Session store append, 100 MB";
      row.median = Format(f.appendMbPerS, 0) + " MB/s";
      row.goal = "> 60 MB/s";
      row.verdict = f.appendMbPerS > 60 ? "met" : "missed";
      row.notes = "through its listener calls, reads of 2,000 bytes, both displays indexed; " +
                  Format(f.appendMbPerCpuS, 0) + " MB per CPU second";
      break;
    case StoreFigure::kResident:
      row.measure = "Session store resident memory, 100 MB kept";
      row.median = Format(f.residentMb, 0) + " MB";
      row.goal = "≤ 1.5 × kept";
      row.verdict = f.residentMb <= 1.5 * f.keptMb ? "met" : "missed";
      row.notes = "kept " + Format(f.keptMb, 0) + " MB, index " + Format(f.indexMb, 1) + " MB";
      break;
    case StoreFigure::kFind:
      row.measure = "Session store find, 100 MB";
      row.median = Milliseconds(std::max(f.findMs, f.findAnyCaseMs));
      row.goal = "< 1 s";
      row.verdict = std::max(f.findMs, f.findAnyCaseMs) < 1000 ? "met" : "missed";
      row.notes = "nothing to find: exact case " + Milliseconds(f.findMs) + ", any case " +
                  Milliseconds(f.findAnyCaseMs) + "; re-split " + Milliseconds(f.resplitMs);
      break;
  }
  return row;
}

}  // namespace quorvel::bench
