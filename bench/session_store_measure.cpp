#include "session_store_measure.h"

#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

#include "engine/session_store.h"

namespace quorvel::bench {
namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kStreamBytes = 100'000'000;
constexpr int kReadBytes = 2000;  // the worker's largest read

struct StoreFigures {
  double appendMbPerS = 0;
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
std::vector<uint8_t> Stream() {
  std::vector<uint8_t> bytes(kStreamBytes);
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
  for (size_t at = 0; at < stream.size(); at += kReadBytes) {
    int n = static_cast<int>(std::min<size_t>(kReadBytes, stream.size() - at));
    if (at / kReadBytes % 8 == 7) {
      store->Sent(stream.data() + at, n);
    } else {
      store->Received(stream.data() + at, n);
    }
  }
  double appendMs = MsSince(start);
  figures.appendMbPerS = static_cast<double>(stream.size()) / 1e6 / (appendMs / 1e3);
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
      row.notes = "through the tap, reads of 2,000 bytes, both displays indexed";
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
