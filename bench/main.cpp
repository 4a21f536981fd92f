// quorvel_bench: runs every measurement against the headless core (and the
// window, when it is built) and prints one markdown table. Progress goes to
// standard error, so standard output is the report alone.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "bench_support.h"
#include "measures.h"
#include "terminal_host.h"

namespace quorvel::bench {
namespace {

constexpr char kUsage[] =
    "usage: quorvel_bench [--samples N] [--idle-seconds S] [--stream-mb M] [--stream-runs R]\n"
    "                     [--only TEXT]\n"
    "  --samples N       samples per latency measurement (default 1000)\n"
    "  --idle-seconds S  length of each idle measurement (default 10)\n"
    "  --stream-mb M     size of the receive-throughput stream (default 20)\n"
    "  --stream-runs R   runs of the throughput measurement (default 3)\n"
    "  --only TEXT       only the measurements whose name contains TEXT\n";

bool ParseCount(const char* text, int min, int max, int& value) {
  char* end = nullptr;
  long number = std::strtol(text, &end, 10);
  if (end == text || *end != '\0' || number < min || number > max) return false;
  value = static_cast<int>(number);
  return true;
}

int Main(int argc, char** argv) {
  BenchOptions options;
  std::string only;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "-h" || arg == "--help") {
      std::fputs(kUsage, stdout);
      return 0;
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

  std::vector<Row> rows;
  for (const Measure& measure : Measures()) {
    if (!only.empty() && measure.name.find(only) == std::string::npos) continue;
    Row core = measure.run(MakeCoreHost, options);
    rows.push_back(core);
#ifdef QUORVEL_BENCH_WINDOW
    rows.push_back(measure.run(MakeWindowHost, options));
#else
    Row window;
    window.measure = core.measure;
    window.terminal = "window";
    window.median = window.p99 = window.max = window.samples = "—";
    window.goal = core.goal;
    window.notes = "window not built yet";
    rows.push_back(window);
#endif
  }
  if (only.empty() || std::string("Start-up").find(only) != std::string::npos) {
    Row startup;
    startup.measure = "Start-up to the window shown with the link open; resident memory then";
    startup.terminal = "window";
    startup.median = startup.p99 = startup.max = startup.samples = "—";
    startup.goal = "≤ 60 ms, ≤ 34 MB";
    startup.notes = "window not built yet";
    rows.push_back(startup);
  }

  std::printf("Machine: %s\n\n", MachineDescription().c_str());
  std::printf("%s", MarkdownTable(rows).c_str());
  for (const Row& row : rows) {
    if (row.verdict == "failed") return 1;
  }
  return 0;
}

}  // namespace
}  // namespace quorvel::bench

int main(int argc, char** argv) {
  return quorvel::bench::Main(argc, argv);
}
