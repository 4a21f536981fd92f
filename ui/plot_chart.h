// The plot's chart: the series of a PlotSnapshot drawn with QPainter over the
// range the viewport gives, one span per pixel column (plot/plot_trace.h), so
// a frame costs about the same for a thousand points as for a million; axes
// with round ticks, the link's events as dashed vertical markers, a legend
// whose entries show and hide their series, and a readout of every shown
// series' value under the mouse.
//
// Why our own drawing rather than Qt Charts (measured by
// bench/chart_spike.cpp at 1,000,000 points, 1200 × 700, offscreen): a Qt
// Charts line series costs about 1.5 s of CPU a frame once a point is added
// (0.19 s unchanged) and 214 MB for its copy of the points, against 3.8 ms
// and 25 MB here, because it lays out every point while this chart reads one
// span per pixel column from the store's block summaries; and Qt Charts is
// GPL-3 in its open-source edition, while Quorvel is MIT.
//
// The mouse: drag a rectangle to zoom into it; the wheel zooms x about the
// pointer (y with Ctrl); Shift+drag or the middle button pans; a double click
// or Home resets the zoom; the arrows pan. UI thread only.
#pragma once

#include <QPainter>
#include <QRect>
#include <QWidget>
#include <memory>
#include <optional>
#include <vector>

#include "plot/plot_store.h"
#include "plot/plot_viewport.h"

namespace quorvel {

class PlotChart : public QWidget {
  Q_OBJECT

 public:
  explicit PlotChart(QWidget* parent = nullptr);

  // What to draw from now on; repaints.
  void Show(std::shared_ptr<const PlotSnapshot> snapshot);
  const PlotSnapshot* Snapshot() const { return snapshot_.get(); }

  PlotViewport& Viewport() { return viewport_; }
  void SetOptions(const PlotViewOptions& options);
  void Pause();
  void Resume();
  void ResetZoom();

  // Legend: whether series `series` is drawn.
  bool SeriesShown(int series) const;
  void SetSeriesShown(int series, bool shown);

  // The ranges and the plot area of the last paint (for tests and the mouse).
  PlotRange ShownX() const { return shownX_; }
  PlotRange ShownY() const { return shownY_; }
  QRect PlotArea() const { return area_; }
  // The legend entry of `series` at the last paint; empty when not drawn.
  QRect LegendEntry(int series) const;
  // What the last paint cost, in milliseconds of the UI thread.
  double LastPaintMs() const { return lastPaintMs_; }

 Q_SIGNALS:
  // Paused, resumed, zoomed or reset: the pane shows it.
  void ViewChanged();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  void DrawReadout(QPainter& painter, const PlotSnapshot& snapshot, bool dark);
  double DataX(double pixel) const;
  double DataY(double pixel) const;
  void ZoomTo(PlotRange x, std::optional<PlotRange> y);
  void PanBy(double pixelsX, double pixelsY);

  std::shared_ptr<const PlotSnapshot> snapshot_;
  PlotViewport viewport_;
  std::vector<bool> hidden_;  // by series
  // The last paint's layout.
  QRect area_;
  PlotRange shownX_;
  PlotRange shownY_;
  std::vector<QRect> legend_;
  double lastPaintMs_ = 0;
  // The mouse.
  std::optional<QPoint> cursor_;
  std::optional<QPoint> bandStart_;
  std::optional<QPoint> panFrom_;
  QPoint bandEnd_;
};

}  // namespace quorvel
