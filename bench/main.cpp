// quorvel_bench: runs every measurement against the headless core (and the
// window, when it is built) and prints one markdown table. Progress goes to
// standard error, so standard output is the report alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bench_support.h"
#include "line_watch.h"
#include "measures.h"
#include "terminal_host.h"
#ifdef QUORVEL_BENCH_WINDOW
#include "window_bench.h"
#endif

namespace quorvel::bench {
namespace {

constexpr char kUsage[] =
    "usage: quorvel_bench [--samples N] [--idle-seconds S] [--stream-mb M] [--stream-runs R]\n"
    "                     [--startup-runs R] [--plot-seconds S] [--only TEXT] [--window-only]\n"
    "  --samples N       samples per latency measurement (default 1000)\n"
    "  --idle-seconds S  length of each idle measurement (default 10)\n"
    "  --stream-mb M     size of the receive-throughput stream (default 20)\n"
    "  --stream-runs R   runs of the throughput measurement (default 3)\n"
    "  --startup-runs R  processes started for the start-up (default 1000)\n"
    "  --plot-seconds S  length of the plot's stream, with and without it (default 60)\n"
    "  --only TEXT       only the measurements whose name contains TEXT\n"
    "  --window-only     the window's rows of the measurements only (for a second\n"
    "                    run on another platform; no line-watch or start-up rows)\n";

constexpr char kStartupName[] = "Start-up";

bool ParseCount(const char* text, int min, int max, int& value) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < min || number > max) return false;
  value = static_cast<int>(number);
  return true;
}

[[maybe_unused]] Row NotBuilt(const std::string& measure, const std::string& goal) {
  Row row;
  row.measure = measure;
  row.terminal = "window";
  row.median = row.p99 = row.max = row.samples = "—";
  row.goal = goal;
  row.notes = "window not built yet";
  return row;
}

int Main(int argc, char** argv) {
#ifdef QUORVEL_BENCH_WINDOW
  if (argc == 3 && std::strcmp(argv[1], "--startup-probe") == 0) return StartupProbe(argv[2]);
#endif
  BenchOptions options;
  std::string only;
  bool windowOnly = false;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    if (arg == "--window-only") {
      windowOnly = true;
      continue;
    }
    int value = 0;
    bool ok = i + 1 < argc;
    if (ok && arg == "--samples") {
      ok = ParseCount(argv[++i], 1, 1'000'000, options.samples);
    } else if (ok && arg == "--idle-seconds") {
      ok = ParseCount(argv[++i], 1, 3600, options.idleSeconds);
    } else if (ok && arg == "--stream-mb") {
      ok = ParseCount(argv[++i], 1, 4000, value);
      options.streamBytes = static_cast<size_t>(value) * 1'000'000;
    } else if (ok && arg == "--stream-runs") {
      ok = ParseCount(argv[++i], 1, 100, options.streamRuns);
    } else if (ok && arg == "--startup-runs") {
      ok = ParseCount(argv[++i], 1, 100'000, options.startupRuns);
    } else if (ok && arg == "--plot-seconds") {
      ok = ParseCount(argv[++i], 1, 3600, options.plotSeconds);
    } else if (ok && arg == "--only") {
      only = argv[++i];
    } else {
      ok = false;
    }
    if (!ok) {
      std::fprintf(stderr, "quorvel_bench: bad argument \"%s\"\n%s", argv[i], kUsage);
      return 2;
    }
  }
  auto selected = [&](const std::string& name) {
    return only.empty() || name.find(only) != std::string::npos;
  };

  // Every headless measurement runs before the first window exists, so the
  // QApplication is not part of the headless figures.
  std::vector<Measure> measures;
  for (Measure& measure : Measures()) {
    if (selected(measure.name)) measures.push_back(std::move(measure));
  }
  std::string loadBefore = LoadAverage();
  std::vector<Row> core;
  if (!windowOnly) {
    for (const Measure& measure : measures) core.push_back(measure.run(MakeCoreHost, options));
  }
  std::vector<Row> window;
  for (size_t i = 0; i < measures.size(); ++i) {
#ifdef QUORVEL_BENCH_WINDOW
    window.push_back(measures[i].run(MakeWindowHost, options));
#else
    window.push_back(windowOnly ? NotBuilt(measures[i].name, "")
                                : NotBuilt(core[i].measure, core[i].goal));
#endif
  }
  std::vector<Row> rows;
  for (size_t i = 0; i < measures.size(); ++i) {
    if (!windowOnly) rows.push_back(core[i]);
    rows.push_back(window[i]);
  }
  // The runs below are the same on any platform: once is enough.
  if (selected(kLineWatchName) && !windowOnly) {
    for (bool driverWaits : {true, false})
      rows.push_back(MeasureLineWatchIdle(options, driverWaits));
  }
  if (selected(kReplayName) && !windowOnly) rows.push_back(ReplayReplyDelay(200, 5));
  if (selected(kSendListName) && !windowOnly) rows.push_back(SendListDelays(options));
  if (selected(kScriptName) && !windowOnly) {
    rows.push_back(ScriptExpectLatency(options));
    rows.push_back(ScriptRoundTrips(options));
    rows.push_back(ScriptHeadlessStart(options));
  }
  if (selected(kPlotParseName) && !windowOnly) rows.push_back(PlotParse());
  if ((selected(kPairName) || selected("Monitor") || selected("Bridge")) && !windowOnly) {
    for (Row& row : PairMeasures(options)) rows.push_back(std::move(row));
  }
  if (selected(kZmodemName) && !windowOnly) {
    for (Row& row : ZmodemTransfers()) rows.push_back(std::move(row));
  }
  if (selected(kStartupName) && !windowOnly) {
#ifdef QUORVEL_BENCH_WINDOW
    rows.push_back(MeasureStartup(options));
#else
    rows.push_back(NotBuilt("Start-up to the window shown with the link open; resident memory then",
                            "≤ 60 ms, ≤ 34 MB"));
#endif
  }

#ifdef QUORVEL_BENCH_WINDOW
  if (selected(kSessionScrollName) && !windowOnly) {
    for (Row& row : MeasureSessionScroll(options)) rows.push_back(std::move(row));
  }
  // On either platform: the X server takes the console's paints too. Each
  // row is selected by its own name.
  for (Row& row : MeasureConsole(options, selected)) rows.push_back(std::move(row));
  // On either platform: the X server's share of a frame is what it measures.
  if (selected(kPlotFrameName)) {
    for (Row& row : MeasurePlotFrames(options)) rows.push_back(std::move(row));
  }
#endif
  std::printf("Machine: %s\n", MachineDescription().c_str());
  std::printf("Load average (1, 5, 15 min): %s at the start, %s at the end\n\n", loadBefore.c_str(),
              LoadAverage().c_str());
  std::printf("%s", MarkdownTable(rows).c_str());
  for (const Row& row : rows) {
    if (row.verdict == "failed") return 1;
  }
  return 0;
}

}  // namespace
}  // namespace quorvel::bench

int main(int argc, char** argv) {
#ifdef QUORVEL_BENCH_UNOPTIMISED
  std::fputs("quorvel_bench: built without optimisation; bench/run.sh measures a Release build\n",
             stderr);
#endif
  return quorvel::bench::Main(argc, argv);
}
