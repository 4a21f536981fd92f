// Which part of the plot shows: the x range (following the newest data over
// a rolling window, or all kept data; held where it was while paused; chosen
// by zooming and panning) and the y range (fitted to what shows, fixed
// limits, or chosen by zooming). Zooming or panning a live plot pauses it;
// Reset goes back to the range before the zoom (live again when the zoom
// paused it), Resume to the live edge. One thread (the window's).
#pragma once

#include <optional>
#include <vector>

#include "plot/plot_trace.h"

namespace quorvel {

struct PlotRange {
  double low = 0;
  double high = 1;
  bool operator==(const PlotRange&) const = default;
};

struct PlotViewOptions {
  PlotXAxis axis = PlotXAxis::kTime;
  double window = 10;  // seconds or points of the rolling window; 0: all kept data
  bool autoY = true;
  PlotRange fixedY{0, 100};  // used when !autoY
  bool operator==(const PlotViewOptions&) const = default;
};

class PlotViewport {
 public:
  void SetOptions(const PlotViewOptions& options);
  const PlotViewOptions& Options() const { return options_; }

  // The x range to draw for `snapshot`: live, paused or zoomed.
  PlotRange XRange(const PlotSnapshot& snapshot) const;
  // The y range for the traces drawn over the x range (only `shown` series).
  PlotRange YRange(const std::vector<PlotTrace>& traces, const std::vector<bool>& shown) const;

  bool Paused() const { return paused_; }
  bool Zoomed() const { return zoomX_.has_value() || zoomY_.has_value(); }
  // Holds the x range where `snapshot` has it now; the data goes on being kept.
  void Pause(const PlotSnapshot& snapshot);
  // Back to the live edge; forgets any zoom.
  void Resume();
  // Shows exactly these ranges (a dragged rectangle, a wheel step, a pan);
  // y nothing: as before. A live plot is paused by it.
  void Zoom(const PlotRange& x, std::optional<PlotRange> y, const PlotSnapshot& snapshot);
  // Back to the range before the first zoom.
  void Reset();

 private:
  PlotRange LiveX(const PlotSnapshot& snapshot) const;

  PlotViewOptions options_;
  bool paused_ = false;
  bool pausedByZoom_ = false;
  PlotRange heldX_;
  std::optional<PlotRange> zoomX_;
  std::optional<PlotRange> zoomY_;
};

// About `most` round steps (1, 2 or 5 times a power of ten) covering
// [low, high], for the axis labels.
std::vector<double> AxisTicks(const PlotRange& range, int most);

}  // namespace quorvel
