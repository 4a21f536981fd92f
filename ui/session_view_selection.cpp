// The session view's selection and the find's match: both ranges of history
// offsets, mapped to columns of the rows on screen to paint them and from a
// click back to an offset; copying the selection as shown or as hex.
#include <QApplication>
#include <QClipboard>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

#include "ui/session_view.h"

namespace quorvel {
namespace {

// A copy holds at most this much of the history.
constexpr uint64_t kMaxCopyBytes = uint64_t{16} << 20;

}  // namespace

void SessionView::PaintRange(QPainter& painter, const Placed& placed, uint64_t from, uint64_t to,
                             const QColor& colour) const {
  uint64_t start = placed.line.offset, end = start + placed.line.bytes.size();
  if (from >= to || to <= start || from >= end) return;
  int lineHeight = fontMetrics().lineSpacing();
  qreal charWidth = CharWidth();
  qreal contentX = PrefixColumns() * charWidth;
  auto inLine = [&](uint64_t offset) {
    return static_cast<uint32_t>(std::clamp(offset, start, end) - start);
  };
  for (size_t r = 0; r < placed.shown.rows.size(); ++r) {
    const ShownRow& row = placed.shown.rows[r];
    int first = ColumnOf(row, inLine(from));
    int last = ColumnOf(row, inLine(to));
    if (to >= end) last = static_cast<int>(row.text.size());
    if (last <= first) continue;
    painter.fillRect(
        QRectF(contentX + first * charWidth, (placed.row + static_cast<int>(r)) * lineHeight,
               (last - first) * charWidth, lineHeight),
        colour);
  }
}

std::optional<uint64_t> SessionView::OffsetAt(QPoint point) const {
  if (placed_.empty()) return std::nullopt;
  int lineHeight = fontMetrics().lineSpacing();
  qreal charWidth = CharWidth();
  int screenRow = point.y() < 0 ? -1 : point.y() / lineHeight;
  if (screenRow < 0) return placed_.front().line.offset;
  for (const Placed& placed : placed_) {
    int rows = static_cast<int>(placed.shown.rows.size());
    if (screenRow >= placed.row + rows) continue;
    const ShownRow& row = placed.shown.rows[static_cast<size_t>(screenRow - placed.row)];
    int column = static_cast<int>((point.x() - PrefixColumns() * charWidth) / charWidth + 0.5);
    column = std::clamp(column, 0, static_cast<int>(row.byteAt.size()) - 1);
    return placed.line.offset + row.byteAt[static_cast<size_t>(column)];
  }
  const SessionLine& last = placed_.back().line;
  return last.offset + last.bytes.size();
}

void SessionView::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return QAbstractScrollArea::mousePressEvent(event);
  if (std::optional<uint64_t> offset = OffsetAt(event->position().toPoint())) {
    selectTo_ = *offset;
    if (!(event->modifiers() & Qt::ShiftModifier)) selectFrom_ = *offset;
    viewport()->update();
  }
}

void SessionView::mouseMoveEvent(QMouseEvent* event) {
  if (!(event->buttons() & Qt::LeftButton)) return;
  QPoint point = event->position().toPoint();
  // Dragging past an edge scrolls, so a selection can reach any line.
  if (point.y() < 0) verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
  if (point.y() > viewport()->height()) {
    verticalScrollBar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
  }
  LayOut();
  if (std::optional<uint64_t> offset = OffsetAt(point)) selectTo_ = *offset;
  viewport()->update();
}

void SessionView::SetMatch(uint64_t offset, size_t length) {
  matchFrom_ = offset;
  matchTo_ = offset + length;
  viewport()->update();
}

uint64_t SessionView::FindStart(bool forward) const {
  if (matchTo_ > matchFrom_) return forward ? matchFrom_ + 1 : matchFrom_;
  return topOffset_;
}

void SessionView::SelectRange(uint64_t from, uint64_t to) {
  selectFrom_ = from;
  selectTo_ = to;
  viewport()->update();
}

void SessionView::SelectAll() {
  SessionCounts counts = store_.Counts(display_);
  SessionLine first, last;
  if (counts.endLine <= counts.firstLine || !store_.Line(display_, counts.firstLine, first) ||
      !store_.Line(display_, counts.endLine - 1, last)) {
    return;
  }
  SelectRange(first.offset, last.offset + last.bytes.size());
}

QString SessionView::SelectedText() const {
  uint64_t from = std::min(selectFrom_, selectTo_), to = std::max(selectFrom_, selectTo_);
  to = std::min(to, from + kMaxCopyBytes);
  if (from >= to) return {};
  RowOptions options = Options();
  QStringList lines;
  SessionLine line;
  uint64_t last = store_.LineAt(display_, to - 1);
  for (uint64_t n = store_.LineAt(display_, from); n <= last; ++n) {
    if (!store_.Line(display_, n, line)) break;
    if (!Shows(line)) continue;
    uint64_t start = line.offset, end = start + line.bytes.size();
    auto inLine = [&](uint64_t offset) {
      return static_cast<uint32_t>(std::clamp(offset, start, end) - start);
    };
    ShownLine shown = ShapeLine(line, options);
    // A line selected from its start is copied with its stamp and mark, as
    // it shows; a part of a line is its text alone.
    bool whole = from <= start;
    for (size_t r = 0; r < shown.rows.size(); ++r) {
      const ShownRow& row = shown.rows[r];
      int first = ColumnOf(row, inLine(from));
      int stop = to >= end ? static_cast<int>(row.text.size()) : ColumnOf(row, inLine(to));
      if (stop > first || (first == 0 && stop == 0 && to > end)) {
        QString prefix = !whole   ? QString()
                         : r == 0 ? shown.prefix
                                  : QString(shown.prefix.size(), QLatin1Char(' '));
        lines << prefix + row.text.mid(first, stop - first);
      }
    }
  }
  return lines.join(QLatin1Char('\n'));
}

QString SessionView::SelectedHex() const {
  uint64_t from = std::min(selectFrom_, selectTo_), to = std::max(selectFrom_, selectTo_);
  std::vector<uint8_t> bytes;
  store_.CopyBytes(from, static_cast<size_t>(std::min(to - from, kMaxCopyBytes)), bytes);
  return QString::fromStdString(BytesAsHex(bytes));
}

void SessionView::CopySelection(bool hex) const {
  QString text = hex ? SelectedHex() : SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

}  // namespace quorvel
