#include "plot/plot_viewport.h"

#include <algorithm>
#include <cmath>

namespace quorvel {
namespace {

constexpr double kYMargin = 0.05;  // of the span, above and below the fitted values

PlotRange Widened(PlotRange range) {
  if (range.high > range.low) return range;
  double half = std::max(std::abs(range.low) * 0.1, 1.0);
  return {range.low - half, range.high + half};
}

}  // namespace

void PlotViewport::SetOptions(const PlotViewOptions& options) {
  options_ = options;
}

PlotRange PlotViewport::LiveX(const PlotSnapshot& snapshot) const {
  double window = options_.window > 0 ? options_.window : 0;
  double end = 0;
  double start = 0;
  if (!snapshot.Empty()) {
    end = RowX(snapshot, options_.axis, snapshot.EndRow() - 1);
    start = RowX(snapshot, options_.axis, snapshot.FirstRow());
  }
  if (options_.axis == PlotXAxis::kTime && !snapshot.Markers().empty()) {
    end = std::max(end, snapshot.Markers().back().time);
  }
  if (window > 0) return {end - window, end};
  return Widened({start, end});
}

PlotRange PlotViewport::XRange(const PlotSnapshot& snapshot) const {
  if (zoomX_) return *zoomX_;
  if (paused_) return heldX_;
  return LiveX(snapshot);
}

PlotRange PlotViewport::YRange(const std::vector<PlotTrace>& traces,
                               const std::vector<bool>& shown) const {
  if (zoomY_) return *zoomY_;
  if (!options_.autoY) return Widened(options_.fixedY);
  double least = INFINITY;
  double most = -INFINITY;
  for (size_t s = 0; s < traces.size(); ++s) {
    if (s < shown.size() && !shown[s]) continue;
    for (const PlotSpan& span : traces[s].spans) {
      if (!span.any) continue;
      least = std::min(least, span.least);
      most = std::max(most, span.most);
    }
  }
  if (!(least <= most)) return {0, 1};
  double margin = (most - least) * kYMargin;
  return Widened({least - margin, most + margin});
}

void PlotViewport::Pause(const PlotSnapshot& snapshot) {
  if (paused_) return;
  heldX_ = LiveX(snapshot);
  paused_ = true;
  pausedByZoom_ = false;
}

void PlotViewport::Resume() {
  paused_ = pausedByZoom_ = false;
  zoomX_.reset();
  zoomY_.reset();
}

void PlotViewport::Zoom(const PlotRange& x, std::optional<PlotRange> y,
                        const PlotSnapshot& snapshot) {
  if (!paused_) {
    Pause(snapshot);
    pausedByZoom_ = true;
  }
  if (x.high > x.low) zoomX_ = x;
  if (y && y->high > y->low) zoomY_ = y;
}

void PlotViewport::Reset() {
  zoomX_.reset();
  zoomY_.reset();
  if (pausedByZoom_) Resume();
}

std::vector<double> AxisTicks(const PlotRange& range, int most) {
  std::vector<double> ticks;
  double span = range.high - range.low;
  if (!(span > 0) || !std::isfinite(span) || most < 1) return ticks;
  double rough = span / most;
  double power = std::pow(10.0, std::floor(std::log10(rough)));
  double step = power;
  for (double factor : {1.0, 2.0, 5.0, 10.0}) {
    step = factor * power;
    if (step >= rough) break;
  }
  for (double tick = std::ceil(range.low / step) * step; tick <= range.high + step * 1e-9;
       tick += step) {
    ticks.push_back(std::abs(tick) < step * 1e-9 ? 0.0 : tick);
    if (ticks.size() > static_cast<size_t>(most) * 3) break;
  }
  return ticks;
}

}  // namespace quorvel
