#include "ui/plot_chart.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>
#include <chrono>
#include <cmath>

#include "plot/plot_trace.h"
#include "ui/plot_palette.h"

namespace quorvel {
namespace {

constexpr int kPad = 6;
constexpr int kTickLength = 4;
constexpr int kMostXTicks = 8;
constexpr int kMostYTicks = 6;
constexpr double kFarPixels = 1e6;  // QPainter is given nothing further out than this

QString Number(double value) {
  return QString::number(value, 'g', 6);
}

QString MarkerLabel(LineEvent event) {
  switch (event) {
    case LineEvent::kLinkOpened:
      return QStringLiteral("opened");
    case LineEvent::kLinkClosed:
      return QStringLiteral("closed");
    case LineEvent::kDeviceAway:
      return QStringLiteral("away");
    case LineEvent::kDeviceBack:
      return QStringLiteral("back");
    default:
      return {};
  }
}

// Maps data to the pixels of the plot area.
struct Mapping {
  QRect area;
  PlotRange x;
  PlotRange y;
  double Px(double value) const {
    double p = area.left() + (value - x.low) / (x.high - x.low) * area.width();
    return std::clamp(p, -kFarPixels, kFarPixels);
  }
  double Py(double value) const {
    double p = area.bottom() + 1 - (value - y.low) / (y.high - y.low) * area.height();
    return std::clamp(p, -kFarPixels, kFarPixels);
  }
};

// first → least → most → last in each column: a vertical stroke covering the
// column's values, joined to its neighbours.
QPolygonF TracePolyline(const PlotTrace& trace, const Mapping& map) {
  QPolygonF line;
  line.reserve(static_cast<qsizetype>(trace.spans.size() * 4 + 2));
  if (trace.hasBefore) line << QPointF(map.Px(trace.beforeX), map.Py(trace.beforeValue));
  for (size_t c = 0; c < trace.spans.size(); ++c) {
    const PlotSpan& span = trace.spans[c];
    if (!span.any) continue;
    double x = map.area.left() + static_cast<double>(c) + 0.5;
    line << QPointF(x, map.Py(span.first));
    if (span.least < span.most) {
      line << QPointF(x, map.Py(span.least)) << QPointF(x, map.Py(span.most));
    }
    line << QPointF(x, map.Py(span.last));
  }
  if (trace.hasAfter) line << QPointF(map.Px(trace.afterX), map.Py(trace.afterValue));
  return line;
}

}  // namespace

PlotChart::PlotChart(QWidget* parent) : QWidget(parent) {
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(160, 120);
  setAccessibleName(QStringLiteral("Plot"));
}

void PlotChart::Show(std::shared_ptr<const PlotSnapshot> snapshot) {
  snapshot_ = std::move(snapshot);
  update();
}

void PlotChart::SetOptions(const PlotViewOptions& options) {
  viewport_.SetOptions(options);
  update();
}

void PlotChart::Pause() {
  if (snapshot_) viewport_.Pause(*snapshot_);
  update();
  Q_EMIT ViewChanged();
}

void PlotChart::Resume() {
  viewport_.Resume();
  update();
  Q_EMIT ViewChanged();
}

void PlotChart::ResetZoom() {
  viewport_.Reset();
  update();
  Q_EMIT ViewChanged();
}

bool PlotChart::SeriesShown(int series) const {
  return series < 0 || static_cast<size_t>(series) >= hidden_.size() ||
         !hidden_[static_cast<size_t>(series)];
}

void PlotChart::SetSeriesShown(int series, bool shown) {
  if (series < 0 || series >= kPlotMaxSeries) return;
  if (hidden_.size() <= static_cast<size_t>(series))
    hidden_.resize(static_cast<size_t>(series) + 1);
  hidden_[static_cast<size_t>(series)] = !shown;
  update();
}

QRect PlotChart::LegendEntry(int series) const {
  return series >= 0 && static_cast<size_t>(series) < legend_.size()
             ? legend_[static_cast<size_t>(series)]
             : QRect();
}

void PlotChart::paintEvent(QPaintEvent*) {
  auto started = std::chrono::steady_clock::now();
  static const PlotSnapshot kEmpty;
  const PlotSnapshot& snapshot = snapshot_ ? *snapshot_ : kEmpty;
  QPainter painter(this);
  const bool dark = IsDarkPalette(palette());
  const QColor text = palette().color(QPalette::Text);
  QColor grid = text;
  grid.setAlpha(40);
  painter.fillRect(rect(), palette().color(QPalette::Base));
  QFontMetrics metrics = fontMetrics();
  int line = metrics.height();

  // The legend, left to right, wrapping.
  const auto& names = snapshot.Names();
  legend_.assign(names.size(), QRect());
  int x = kPad;
  int y = kPad;
  for (size_t s = 0; s < names.size(); ++s) {
    QString name = QString::fromUtf8(names[s].data(), static_cast<qsizetype>(names[s].size()));
    int width = line + 4 + metrics.horizontalAdvance(name) + 2 * kPad;
    if (x + width > this->width() - kPad && x > kPad) {
      x = kPad;
      y += line + 2;
    }
    QRect entry(x, y, width, line);
    legend_[s] = entry;
    bool shown = SeriesShown(static_cast<int>(s));
    QColor colour = SeriesColour(static_cast<int>(s), dark);
    QPen swatch(colour, 3, SeriesPenStyle(static_cast<int>(s)));
    painter.setPen(swatch);
    int middle = entry.center().y();
    if (shown) painter.drawLine(entry.left(), middle, entry.left() + line, middle);
    QColor label = text;
    if (!shown) label.setAlpha(110);
    painter.setPen(label);
    painter.drawText(QRect(entry.left() + line + 4, entry.top(), width, line),
                     Qt::AlignLeft | Qt::AlignVCenter, name);
    x += width;
  }
  int top = (names.empty() ? kPad : y + line) + kPad;

  // The ranges: x from the viewport, y from what shows over it.
  shownX_ = viewport_.XRange(snapshot);
  std::vector<PlotTrace> traces(names.size());
  std::vector<bool> shown(names.size());
  int left = kPad + metrics.horizontalAdvance(QStringLiteral("-0.00000e+00")) + kTickLength;
  area_ = QRect(left, top, std::max(width() - left - kPad * 2, 1),
                std::max(height() - top - line - kPad - kTickLength, 1));
  std::vector<uint64_t> edges =
      ColumnEdges(snapshot, viewport_.Options().axis, shownX_.low, shownX_.high, area_.width());
  for (size_t s = 0; s < names.size(); ++s) {
    shown[s] = SeriesShown(static_cast<int>(s));
    if (shown[s])
      TraceSeries(snapshot, viewport_.Options().axis, static_cast<int>(s), edges, traces[s]);
  }
  shownY_ = viewport_.YRange(traces, shown);
  Mapping map{area_, shownX_, shownY_};

  // Grid and ticks.
  painter.setPen(text);
  for (double tick : AxisTicks(shownY_, kMostYTicks)) {
    int py = static_cast<int>(std::lround(map.Py(tick)));
    painter.setPen(grid);
    painter.drawLine(area_.left(), py, area_.right(), py);
    painter.setPen(text);
    painter.drawText(QRect(0, py - line / 2, area_.left() - kTickLength - 2, line),
                     Qt::AlignRight | Qt::AlignVCenter, Number(tick));
  }
  for (double tick : AxisTicks(shownX_, kMostXTicks)) {
    int px = static_cast<int>(std::lround(map.Px(tick)));
    painter.setPen(grid);
    painter.drawLine(px, area_.top(), px, area_.bottom());
    painter.setPen(text);
    painter.drawText(QRect(px - 60, area_.bottom() + kTickLength, 120, line), Qt::AlignCenter,
                     Number(tick));
  }
  // The unit of x below the y labels, clear of the x ticks.
  painter.drawText(QRect(0, area_.bottom() + kTickLength, area_.left() - kTickLength - 2, line),
                   Qt::AlignRight | Qt::AlignVCenter,
                   viewport_.Options().axis == PlotXAxis::kTime ? QStringLiteral("s")
                                                                : QStringLiteral("sample"));

  painter.setClipRect(area_);
  // The link's events.
  QPen markerPen(text, 1, Qt::DashLine);
  for (const PlotMarker& marker : snapshot.Markers()) {
    double at = viewport_.Options().axis == PlotXAxis::kTime ? marker.time
                                                             : static_cast<double>(marker.row);
    if (at < shownX_.low || at > shownX_.high) continue;
    int px = static_cast<int>(std::lround(map.Px(at)));
    painter.setPen(markerPen);
    painter.drawLine(px, area_.top(), px, area_.bottom());
    painter.drawText(px + 3, area_.top() + line, MarkerLabel(marker.event));
  }
  // The series, crisp: one pixel column is one span. Two pixels wide, as
  // two one-pixel strokes a pixel apart: a wide pen is stroked as a filled
  // outline, which for a line that doubles back in every column costs a
  // hundred times more than the rasteriser's own one-pixel lines.
  painter.setRenderHint(QPainter::Antialiasing, false);
  for (size_t s = 0; s < traces.size(); ++s) {
    if (!shown[s]) continue;
    QPen pen(SeriesColour(static_cast<int>(s), dark), 1, SeriesPenStyle(static_cast<int>(s)));
    pen.setCosmetic(true);
    painter.setPen(pen);
    QPolygonF line = TracePolyline(traces[s], map);
    painter.drawPolyline(line);
    line.translate(1, 1);
    painter.drawPolyline(line);
  }
  painter.setClipping(false);
  painter.setPen(text);
  painter.drawRect(area_.adjusted(0, 0, -1, -1));
  if (bandStart_) {
    painter.setPen(QPen(text, 1, Qt::DotLine));
    painter.drawRect(QRect(*bandStart_, bandEnd_).normalized());
  }
  if (cursor_ && !bandStart_ && !panFrom_) DrawReadout(painter, snapshot, dark);
  lastPaintMs_ =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count();
}

double PlotChart::DataX(double pixel) const {
  return shownX_.low +
         (pixel - area_.left()) / std::max(area_.width(), 1) * (shownX_.high - shownX_.low);
}

double PlotChart::DataY(double pixel) const {
  return shownY_.low +
         (area_.bottom() + 1 - pixel) / std::max(area_.height(), 1) * (shownY_.high - shownY_.low);
}

}  // namespace quorvel
