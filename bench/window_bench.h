// The parts of the benchmarks that need the window (built with
// QUORVEL_BENCH_WINDOW only).
#pragma once

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "measures.h"

namespace quorvel::bench {

// Creates the QApplication (offscreen unless QT_QPA_PLATFORM says otherwise)
// once; message boxes are counted instead of shown.
void EnsureApplication();

// Writes a Quorvel.ini into `directory` that makes the terminal open
// `devicePath` at start.
bool WriteBenchSettings(const std::filesystem::path& directory, const std::string& devicePath);

// Start-up, measured in fresh processes: from just before the fork to the
// window's first paint, with the link open; and the resident memory then.
Row MeasureStartup(const BenchOptions& options);

// Repaints of the session view paged and dragged through 100 MB of history,
// in the text and the hex display (session_scroll.cpp).
inline constexpr char kSessionScrollName[] = "Session view";
std::vector<Row> MeasureSessionScroll(const BenchOptions& options);

// Frames of the plot's chart with 1,000,000 points in each of 8 series
// (plot_frame.cpp).
inline constexpr char kPlotFrameName[] = "Plot frame, 8 × 1,000,000 points";
std::vector<Row> MeasurePlotFrames(const BenchOptions& options);

// "window" or "window, X server": the platform the window's rows ran on.
std::string WindowTerminalName();

// The console shown in the window: a coloured flood to quiet, idle
// wake-ups, a key's way to the line (console_measure.cpp) and a full
// screen's paint (console_paint.cpp): the rows whose names `selected`
// takes, every name starting with "Console: ".
std::vector<Row> MeasureConsole(const BenchOptions& options,
                                const std::function<bool(const std::string&)>& selected);

inline constexpr char kConsolePaintName[] =
    "Console: paint of a full 200 × 60 screen of coloured text";
Row MeasureConsolePaint();

// The child's side of MeasureStartup (quorvel_bench --startup-probe T0): starts
// as the application shell does and prints "<ms> <resident kB> <link open>".
int StartupProbe(const char* startNs);

}  // namespace quorvel::bench
