// The plot's figures: a device printing 8 series at 10,000 lines a second
// with the plot following, against the same stream without the plot, and the
// export checked against every line sent; the feed's parsing speed.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "measure_common.h"
#include "measures.h"
#include "plot/plot_export.h"
#include "plot/plot_feed.h"

namespace quorvel::bench {
namespace {

constexpr int kSeries = 8;
constexpr int kLinesPerSecond = 10'000;
constexpr int kLinesPerStep = 100;  // every 10 ms

// Series k of line n: a value with two decimals, different in every series.
double ValueOf(uint64_t n, int k) {
  return static_cast<double>((n * static_cast<uint64_t>(2 * k + 3)) % 200'001) / 100.0 - 1000.0;
}

// The value as the line carries it: its two decimals read back.
double SentValue(uint64_t n, int k) {
  char text[32];
  std::snprintf(text, sizeof text, "%.2f", ValueOf(n, k));
  return std::strtod(text, nullptr);
}

void AppendLine(std::string& out, uint64_t n) {
  char line[256];
  int length = 0;
  for (int k = 0; k < kSeries; ++k) {
    length += std::snprintf(line + length, sizeof line - static_cast<size_t>(length), "%ss%d:%.2f",
                            k == 0 ? "" : " ", k + 1, ValueOf(n, k));
  }
  out.append(line, static_cast<size_t>(length));
  out += "\r\n";
}

// Whether the export holds exactly lines [0, lines) as sent; says why not.
bool ExportMatches(const PlotSnapshot& snapshot, uint64_t lines, std::string& why) {
  std::filesystem::path path = std::filesystem::temp_directory_path() /
                               ("quorvel_plot_" + std::to_string(getpid()) + ".csv");
  if (!ExportPlotCsv(snapshot, path, why)) return false;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  uint64_t n = 0;
  for (; std::getline(in, line); ++n) {
    std::stringstream cells(line);
    std::string cell;
    std::getline(cells, cell, ',');  // the time
    for (int k = 0; k < kSeries; ++k) {
      if (!std::getline(cells, cell, ',') || std::stod(cell) != SentValue(n, k)) {
        why = "line " + std::to_string(n) + " differs in series " + std::to_string(k + 1);
        std::filesystem::remove(path);
        return false;
      }
    }
  }
  std::filesystem::remove(path);
  if (n != lines) why = std::to_string(n) + " of " + std::to_string(lines) + " lines exported";
  return n == lines;
}

struct StreamFigures {
  double cpuPercent = 0;
  uint64_t lines = 0;
  std::string failure;
};

// Streams for `seconds` at 10,000 lines a second, the plot shown or not; the
// terminal's CPU (the device thread's own left out).
StreamFigures Stream(const HostFactory& make, int seconds, bool plot) {
  StreamFigures figures;
  auto host = make();
  PtyLine line;
  if (!line.Ok()) return {0, 0, "no pseudo-terminal"};
  bool ran = host->Run(line.Path(), [&] {
    host->SetHexDisplay(false);
    PlotStore* store = plot ? &host->ShowPlot() : nullptr;
    const int steps = seconds * kLinesPerSecond / kLinesPerStep;
    std::string text;
    uint32_t bytes = 0;
    double cpu0 = ProcessCpuMs();
    double deviceCpu0 = ThreadCpuMs();
    auto start = Clock::now();
    for (int i = 0; i < steps; ++i) {
      text.clear();
      for (int j = 0; j < kLinesPerStep; ++j) AppendLine(text, figures.lines++);
      std::this_thread::sleep_until(start + milliseconds(10) * (i + 1));
      if (!line.WriteAll(reinterpret_cast<const uint8_t*>(text.data()), text.size(),
                         DeadlineIn(std::chrono::seconds(5)))) {
        figures.failure = "the line did not take the stream";
        return;
      }
      bytes += static_cast<uint32_t>(text.size());
    }
    if (!host->WaitShownRxCount(bytes, std::chrono::seconds(10))) {
      figures.failure = "the RX box never showed every byte";
      return;
    }
    auto by = Clock::now() + std::chrono::seconds(10);
    while (store && store->Snapshot()->Tally().lines < figures.lines && Clock::now() < by) {
      std::this_thread::sleep_for(milliseconds(10));
    }
    double elapsed = MillisecondsBetween(start, Clock::now()) / 1e3;
    double deviceCpu = ThreadCpuMs() - deviceCpu0;
    figures.cpuPercent = (ProcessCpuMs() - cpu0 - deviceCpu) / 10.0 / elapsed;
    if (store && !ExportMatches(*store->Snapshot(), figures.lines, figures.failure) &&
        figures.failure.empty()) {
      figures.failure = "the export differs from what was sent";
    }
  });
  if (!ran) figures.failure = "the link did not open";
  return figures;
}

}  // namespace

Row PlotStream(const HostFactory& make, const BenchOptions& options) {
  const std::string measure =
      "Plot, 8 series at 10,000 lines/s, " + std::to_string(options.plotSeconds) + " s";
  Progress(measure, make()->Name());
  StreamFigures without = Stream(make, options.plotSeconds, false);
  StreamFigures with = Stream(make, options.plotSeconds, true);
  Row row;
  row.measure = measure;
  row.terminal = make()->Name();
  std::string failure = !without.failure.empty() ? without.failure : with.failure;
  if (!failure.empty()) return Failed(measure, row.terminal, failure);
  double added = with.cpuPercent - without.cpuPercent;
  row.median = Format(with.cpuPercent, 2) + " % CPU";
  row.p99 = row.max = "—";
  row.samples = std::to_string(with.lines) + " lines";
  row.goal = "≤ 15 % of a core above the terminal without the plot; no line lost";
  row.verdict = added <= 15 ? "met" : "missed";
  row.notes = Format(without.cpuPercent, 2) + " % without the plot, " + Format(added, 2) +
              " % added; the export equals every line sent";
  return row;
}

Row PlotParse() {
  const std::string measure = "Plot parse, 8 series a line";
  Progress(measure, "headless core");
  std::string text;
  for (uint64_t n = 0; text.size() < 64'000'000; ++n) AppendLine(text, n);
  PlotStore store;
  PlotFeed feed(store);
  feed.Start(nullptr);
  constexpr size_t kRun = 4096;
  double cpu0 = ProcessCpuMs();
  auto start = Clock::now();
  for (size_t at = 0; at < text.size(); at += kRun) {
    size_t count = std::min(kRun, text.size() - at);
    feed.ReceivedAt(reinterpret_cast<const uint8_t*>(text.data() + at), count, 0);
  }
  while (!feed.Idle()) std::this_thread::sleep_for(milliseconds(1));
  double seconds = MillisecondsBetween(start, Clock::now()) / 1e3;
  // Per second of CPU too: on a busy machine the clock on the wall says
  // more about the other work than about the parsing.
  double cpuSeconds = (ProcessCpuMs() - cpu0) / 1e3;
  double megabytes = static_cast<double>(text.size()) / 1e6;
  double rate = megabytes / seconds;
  Row row;
  row.measure = measure;
  row.terminal = "headless core";
  row.median = Format(rate, 1) + " MB/s";
  row.p99 = row.max = "—";
  row.samples = Format(static_cast<double>(text.size()) / 1e6, 0) + " MB";
  row.goal = "≥ 50 MB/s";
  row.verdict = rate >= 50 ? "met" : "missed";
  row.notes = Format(megabytes / cpuSeconds, 1) +
              " MB per CPU second; the feed's thread: lines cut, parsed and stored (" +
              std::to_string(store.Snapshot()->Tally().lines) + " rows), runs of 4 KiB";
  return row;
}

}  // namespace quorvel::bench
