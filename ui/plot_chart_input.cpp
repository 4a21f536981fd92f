// The chart's mouse, wheel and keys, and the readout under the mouse.
#include <QKeyEvent>
#include <QMouseEvent>
#include <QWheelEvent>
#include <cmath>

#include "plot/plot_trace.h"
#include "ui/plot_chart.h"
#include "ui/plot_palette.h"

namespace quorvel {
namespace {

constexpr int kLeastBand = 4;       // pixels; a smaller rectangle is a click
constexpr double kWheelStep = 0.8;  // of the range per notch
constexpr double kKeyPan = 0.1;     // of the width per arrow key

PlotRange Scaled(const PlotRange& range, double about, double factor) {
  return {about + (range.low - about) * factor, about + (range.high - about) * factor};
}

}  // namespace

void PlotChart::DrawReadout(QPainter& painter, const PlotSnapshot& snapshot, bool dark) {
  if (!area_.contains(*cursor_) || snapshot.Empty()) return;
  PlotXAxis axis = viewport_.Options().axis;
  double x = DataX(cursor_->x());
  // The row nearest to the mouse.
  uint64_t row = RowAtX(snapshot, axis, x);
  if (row == snapshot.EndRow() ||
      (row > snapshot.FirstRow() &&
       std::abs(RowX(snapshot, axis, row - 1) - x) < std::abs(RowX(snapshot, axis, row) - x))) {
    --row;
  }
  QStringList lines = {axis == PlotXAxis::kTime
                           ? QStringLiteral("t = %1 s").arg(snapshot.Time(row), 0, 'f', 6)
                           : QStringLiteral("sample %1").arg(row)};
  std::vector<QColor> colours = {palette().color(QPalette::Text)};
  for (size_t s = 0; s < snapshot.Names().size(); ++s) {
    int series = static_cast<int>(s);
    if (!SeriesShown(series)) continue;
    // The series' latest value at that row.
    uint64_t at = 0;
    uint64_t from = row > kPlotChunkRows ? row - kPlotChunkRows : 0;
    if (!snapshot.LastWithValue(series, from, row + 1, at)) continue;
    lines << QStringLiteral("%1: %2")
                 .arg(QString::fromStdString(snapshot.Names()[s]))
                 .arg(snapshot.Value(series, at), 0, 'g', 10);
    colours.push_back(SeriesColour(series, dark));
  }
  int px = cursor_->x();
  painter.setPen(QPen(palette().color(QPalette::Text), 1, Qt::DotLine));
  painter.drawLine(px, area_.top(), px, area_.bottom());
  QFontMetrics metrics = fontMetrics();
  int width = 0;
  for (const QString& text : lines) width = std::max(width, metrics.horizontalAdvance(text));
  QRect box(0, 0, width + 12, metrics.height() * static_cast<int>(lines.size()) + 8);
  box.moveTopLeft(QPoint(px + 10, area_.top() + 4));
  if (box.right() > area_.right()) box.moveRight(px - 10);
  QColor fill = palette().color(QPalette::Base);
  fill.setAlpha(230);
  painter.fillRect(box, fill);
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(box);
  for (int i = 0; i < lines.size(); ++i) {
    painter.setPen(colours[static_cast<size_t>(i)]);
    painter.drawText(box.left() + 6, box.top() + 4 + metrics.ascent() + i * metrics.height(),
                     lines[i]);
  }
}

void PlotChart::ZoomTo(PlotRange x, std::optional<PlotRange> y) {
  if (!snapshot_) return;
  viewport_.Zoom(x, y, *snapshot_);
  update();
  Q_EMIT ViewChanged();
}

void PlotChart::PanBy(double pixelsX, double pixelsY) {
  double dx = pixelsX / std::max(area_.width(), 1) * (shownX_.high - shownX_.low);
  double dy = pixelsY / std::max(area_.height(), 1) * (shownY_.high - shownY_.low);
  std::optional<PlotRange> y;
  if (dy != 0) y = PlotRange{shownY_.low + dy, shownY_.high + dy};
  ZoomTo({shownX_.low - dx, shownX_.high - dx}, y);
}

void PlotChart::mousePressEvent(QMouseEvent* event) {
  QPoint at = event->position().toPoint();
  if (event->button() == Qt::LeftButton && !area_.contains(at)) {
    for (size_t s = 0; s < legend_.size(); ++s) {
      if (!legend_[s].contains(at)) continue;
      SetSeriesShown(static_cast<int>(s), !SeriesShown(static_cast<int>(s)));
      return;
    }
  }
  if (!area_.contains(at)) return QWidget::mousePressEvent(event);
  bool pan = event->button() == Qt::MiddleButton ||
             (event->button() == Qt::LeftButton && (event->modifiers() & Qt::ShiftModifier));
  if (pan) {
    panFrom_ = at;
  } else if (event->button() == Qt::LeftButton) {
    bandStart_ = at;
    bandEnd_ = at;
  }
  update();
}

void PlotChart::mouseMoveEvent(QMouseEvent* event) {
  QPoint at = event->position().toPoint();
  cursor_ = at;
  if (panFrom_) {
    QPoint moved = at - *panFrom_;
    panFrom_ = at;
    PanBy(moved.x(), moved.y());
    return;
  }
  if (bandStart_) bandEnd_ = at;
  update();
}

void PlotChart::mouseReleaseEvent(QMouseEvent* event) {
  if (panFrom_) {
    panFrom_.reset();
    update();
    return;
  }
  if (!bandStart_ || event->button() != Qt::LeftButton) return QWidget::mouseReleaseEvent(event);
  QRect band = QRect(*bandStart_, event->position().toPoint()).normalized() & area_;
  bandStart_.reset();
  if (band.width() < kLeastBand || band.height() < kLeastBand) {
    update();
    return;
  }
  ZoomTo({DataX(band.left()), DataX(band.right() + 1)},
         PlotRange{DataY(band.bottom() + 1), DataY(band.top())});
}

void PlotChart::mouseDoubleClickEvent(QMouseEvent* event) {
  if (area_.contains(event->position().toPoint())) ResetZoom();
}

void PlotChart::wheelEvent(QWheelEvent* event) {
  double notches = event->angleDelta().y() / 120.0;
  if (notches == 0 || !area_.contains(event->position().toPoint())) return event->ignore();
  double factor = std::pow(kWheelStep, notches);
  if (event->modifiers() & Qt::ControlModifier) {
    ZoomTo(shownX_, Scaled(shownY_, DataY(event->position().y()), factor));
  } else {
    ZoomTo(Scaled(shownX_, DataX(event->position().x()), factor), std::nullopt);
  }
  event->accept();
}

void PlotChart::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Home:
      ResetZoom();
      return;
    case Qt::Key_Left:
    case Qt::Key_Right:
      PanBy((event->key() == Qt::Key_Left ? 1 : -1) * kKeyPan * area_.width(), 0);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

void PlotChart::leaveEvent(QEvent* event) {
  cursor_.reset();
  update();
  QWidget::leaveEvent(event);
}

}  // namespace quorvel
