// The plot's choices in the settings file, in a section of their own:
//   [Plot]  Shown (0 or 1), Width (the pane's width in pixels, 200 to 4000),
//           Height (likewise, 150 to 3000), XAxis (time or sample), Window
//           (seconds or samples of the rolling window; 0 = all kept data),
//           AutoY (0 or 1), YMin and YMax (the fixed limits), Regex (the
//           expression lines are read with; empty: pairs or lists),
//           MaxPoints (kept per series, 1000 to 50000000)
// A missing or bad value reads as its default (a YMax not above YMin gives
// both defaults); saving writes only these keys and keeps every other line.
// UI thread.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace quorvel {

struct PlotSettings {
  bool shown = false;
  int width = 480;
  int height = 360;
  bool sampleAxis = false;  // x is the sample number, not the time
  double window = 10;
  bool autoY = true;
  double yMin = 0;
  double yMax = 100;
  std::string regex;
  uint64_t maxPoints = 1'000'000;
  bool operator==(const PlotSettings&) const = default;
};

PlotSettings LoadPlotSettings(const std::filesystem::path& file);
bool SavePlotSettings(const PlotSettings& settings, const std::filesystem::path& file);

}  // namespace quorvel
