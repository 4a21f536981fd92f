#include "ui/session_view.h"

#include <QFontDatabase>
#include <QFontMetricsF>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QScrollBar>
#include <QToolButton>
#include <QWheelEvent>
#include <algorithm>

#include "ui/session_scroll_bar.h"

namespace quorvel {
namespace {

// Hidden TX lines are skipped while laying out; a screen never looks
// through more than this many of them, so a long hidden file send cannot
// stall a repaint.
constexpr int kMaxSkippedLines = 20'000;

QColor KindColour(const SessionLine& line, const SessionColours& colours) {
  switch (line.kind) {
    case SessionKind::kSent:
      return colours.sent;
    case SessionKind::kEvent:
      return colours.event;
    case SessionKind::kReceived:
      break;
  }
  return colours.received;
}

QString SizeText(uint64_t bytes) {
  return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1,
                                             QLocale::DataSizeTraditionalFormat);
}

}  // namespace

SessionView::SessionView(SessionStore& store, QWidget* parent)
    : QAbstractScrollArea(parent), store_(store) {
  setObjectName(QStringLiteral("sessionView"));
  setAccessibleName(QStringLiteral("Session"));
  // The system's fixed-width family, and nothing else of its own: the size
  // follows the text size the window sets on the view's pane.
  QFont fixed;
  fixed.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setStyleStrategy(QFont::PreferNoShaping);
  setFont(fixed);
  colours_ = SessionColoursFor(palette());
  setFocusPolicy(Qt::ClickFocus);
  setVerticalScrollBar(new SessionScrollBar(this));
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAutoFillBackground(true);
  viewport()->setBackgroundRole(QPalette::Base);

  banner_ = new QLabel(this);
  banner_->setObjectName(QStringLiteral("droppedBanner"));
  banner_->setAutoFillBackground(true);
  banner_->setBackgroundRole(QPalette::AlternateBase);
  banner_->hide();
  indicator_ = new QToolButton(viewport());
  indicator_->setObjectName(QStringLiteral("pausedIndicator"));
  indicator_->setToolTip(QStringLiteral("Follow the end again (End)"));
  indicator_->setCursor(Qt::PointingHandCursor);
  indicator_->hide();
  connect(indicator_, &QToolButton::clicked, this, &SessionView::Follow);
}

void SessionView::SetOptions(StampKind stamps, bool showTx, const DecodeOptions& decode) {
  stamps_ = stamps;
  showTx_ = showTx;
  decode_ = decode;
  counts_ = {};  // lines change height: everything is laid out again
  Sync();
}

void SessionView::SetDisplay(SessionDisplay display) {
  if (display == display_) return;
  display_ = display;
  // The same bytes stay at the top in the other display's lines.
  if (!following_) top_ = store_.LineAt(display_, topOffset_);
  topRow_ = 0;
  counts_ = {};
  Sync();
}

RowOptions SessionView::Options() const {
  return {stamps_,  decode_,
          display_, std::max(1, static_cast<int>(viewport()->width() / CharWidth())),
          marks_,   gaps_};
}

void SessionView::SetMarks(const DirectionMarks& marks, bool gaps) {
  marks_ = marks;
  gaps_ = gaps;
  viewport()->update();
}

qreal SessionView::CharWidth() const {
  // Fractional: a fixed font's advance is rarely a whole pixel, and rounding
  // it would misplace the end of a long row by several characters.
  return std::max<qreal>(1, QFontMetricsF(font()).horizontalAdvance(QLatin1Char('0')));
}

int SessionView::RowsFit() const {
  return std::max(1, viewport()->height() / std::max(1, fontMetrics().lineSpacing()));
}

bool SessionView::Shows(const SessionLine& line) const {
  return showTx_ || line.kind != SessionKind::kSent;
}

void SessionView::Sync() {
  SessionCounts counts = store_.Counts(display_);
  if (counts.generation == counts_.generation && counts.endLine == counts_.endLine &&
      counts.firstLine == counts_.firstLine && counts.keptBytes == counts_.keptBytes &&
      counts.droppedBytes == counts_.droppedBytes) {
    return;
  }
  bool renumbered = counts.generation != counts_.generation;
  counts_ = counts;
  if (renumbered && !following_) {
    top_ = store_.LineAt(display_, topOffset_);
    topRow_ = 0;
  }
  if (counts_.endLine == counts_.firstLine && !following_) {
    following_ = true;  // nothing is left to read back
    Q_EMIT FollowingChanged(true);
  }
  top_ = std::clamp(top_, counts_.firstLine, std::max(counts_.firstLine, counts_.endLine - 1));
  UpdateScrollBar();
  UpdateIndicators();
  viewport()->update();
}

uint64_t SessionView::LinesSincePaused() const {
  return following_ || counts_.endLine < endWhenPaused_ ? 0 : counts_.endLine - endWhenPaused_;
}

void SessionView::Follow() {
  if (!following_) {
    following_ = true;
    Q_EMIT FollowingChanged(true);
  }
  UpdateScrollBar();
  UpdateIndicators();
  viewport()->update();
}

void SessionView::ShowLine(uint64_t number) {
  if (following_) {
    following_ = false;
    endWhenPaused_ = counts_.endLine;
    Q_EMIT FollowingChanged(false);
  }
  // A little of what came before it stays in sight.
  top_ = number >= counts_.firstLine + 2 ? number - 2 : counts_.firstLine;
  top_ = std::min(top_, TopOfEnd(counts_));
  topRow_ = 0;
  UpdateScrollBar();
  UpdateIndicators();
  viewport()->update();
}

uint64_t SessionView::TopOfEnd(const SessionCounts& counts, int* skipRows) const {
  if (skipRows) *skipRows = 0;
  if (counts.endLine <= counts.firstLine) return counts.firstLine;
  int rows = RowsFit(), used = 0, skipped = 0;
  // Text lines are one row each: with nothing hidden the end's screen is
  // arithmetic, and a flood costs no lines copied to find it.
  if (display_ == SessionDisplay::kText && showTx_) {
    uint64_t count = counts.endLine - counts.firstLine;
    return counts.endLine - std::min<uint64_t>(count, static_cast<uint64_t>(rows));
  }
  RowOptions options = Options();
  uint64_t n = counts.endLine;
  SessionLine line;
  while (n > counts.firstLine && skipped < kMaxSkippedLines) {
    if (!store_.Line(display_, n - 1, line)) break;
    if (!Shows(line)) {
      ++skipped;
      --n;
      continue;
    }
    int height = display_ == SessionDisplay::kText || line.kind == SessionKind::kEvent
                     ? 1
                     : static_cast<int>(ShapeLine(line, options).rows.size());
    if (used + height > rows) {
      // The screen's first line shows only its last rows: a frame taller
      // than the view ends at its bottom, where the newest bytes are.
      if (skipRows) *skipRows = used + height - rows;
      return n - 1;
    }
    used += height;
    --n;
    if (used >= rows) break;
  }
  return std::min(n, counts.endLine - 1);
}

void SessionView::UpdateScrollBar() {
  uint64_t topEnd = TopOfEnd(counts_, &endSkip_);
  if (following_) {
    top_ = topEnd;
    topRow_ = endSkip_;
  }
  settingScroll_ = true;
  // The bar counts lines from the oldest kept; 1 GiB of history holds fewer
  // lines than an int counts.
  static_cast<SessionScrollBar*>(verticalScrollBar())
      ->Set(static_cast<int>(std::min<uint64_t>(topEnd - counts_.firstLine, INT32_MAX)), RowsFit(),
            static_cast<int>(std::min<uint64_t>(top_ - counts_.firstLine, INT32_MAX)));
  settingScroll_ = false;
}

void SessionView::scrollContentsBy(int, int) {
  if (settingScroll_) return;
  QScrollBar* bar = verticalScrollBar();
  top_ = counts_.firstLine + static_cast<uint64_t>(bar->value());
  bool atEnd = bar->value() >= bar->maximum();
  topRow_ = atEnd ? endSkip_ : 0;
  if (atEnd != following_) {
    following_ = atEnd;
    if (!atEnd) endWhenPaused_ = counts_.endLine;
    Q_EMIT FollowingChanged(following_);
  }
  UpdateIndicators();
  viewport()->update();
}

void SessionView::UpdateIndicators() {
  if (following_) {
    indicator_->hide();
  } else {
    uint64_t since = LinesSincePaused();
    indicator_->setText(since == 0
                            ? QStringLiteral("Following paused (End resumes)")
                            : QStringLiteral("Following paused: %1 new line%2 (End resumes)")
                                  .arg(QLocale::system().toString(static_cast<qulonglong>(since)),
                                       since == 1 ? QString() : QStringLiteral("s")));
    indicator_->adjustSize();
    PlaceIndicator();
    indicator_->show();
  }
  bool dropped = counts_.droppedBytes > 0;
  if (dropped) {
    banner_->setText(
        QStringLiteral(" %1 (%2 lines) dropped: history full")
            .arg(SizeText(counts_.droppedBytes),
                 QLocale::system().toString(static_cast<qulonglong>(counts_.droppedLines))));
  }
  int height = dropped ? fontMetrics().lineSpacing() + 2 : 0;
  if (banner_->isVisible() != dropped) {
    setViewportMargins(0, height, 0, 0);
    banner_->setVisible(dropped);
    resizeEvent(nullptr);
  }
}

void SessionView::PlaceIndicator() {
  QSize size = indicator_->sizeHint();
  indicator_->setGeometry(viewport()->width() - size.width() - 2,
                          viewport()->height() - size.height() - 2, size.width(), size.height());
}

void SessionView::resizeEvent(QResizeEvent* event) {
  if (event) QAbstractScrollArea::resizeEvent(event);
  int frame = frameWidth();
  banner_->setGeometry(frame, frame, viewport()->width(), fontMetrics().lineSpacing() + 2);
  PlaceIndicator();
  counts_ = {};
  Sync();
}

void SessionView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    colours_ = SessionColoursFor(palette());
    viewport()->update();
  } else if (event->type() == QEvent::FontChange && banner_) {
    resizeEvent(nullptr);  // rows change height and width: lay out anew
  }
}

void SessionView::LayOut() {
  placed_.clear();  // top_ is the end's screen when following: Sync keeps it so
  RowOptions options = Options();
  int rows = RowsFit() + 1;  // a part row at the bottom is drawn too
  int row = -topRow_, skipped = 0;
  SessionLine line;
  for (uint64_t n = top_; n < counts_.endLine && row < rows && skipped < kMaxSkippedLines; ++n) {
    if (!store_.Line(display_, n, line)) break;
    if (!Shows(line)) {
      ++skipped;
      continue;
    }
    ShownLine shown = ShapeLine(line, options);
    int height = static_cast<int>(shown.rows.size());
    placed_.push_back({std::move(line), std::move(shown), row});
    row += height;
  }
  if (!placed_.empty()) topOffset_ = placed_.front().line.offset;
}

void SessionView::paintEvent(QPaintEvent*) {
  LayOut();
  QPainter painter(viewport());
  QFontMetrics metrics = fontMetrics();
  int lineHeight = metrics.lineSpacing();
  qreal charWidth = CharWidth();
  qreal contentX = PrefixColumns() * charWidth;
  uint64_t selectFrom = std::min(selectFrom_, selectTo_);
  uint64_t selectTo = std::max(selectFrom_, selectTo_);
  for (const Placed& placed : placed_) {
    PaintRange(painter, placed, matchFrom_, matchTo_, colours_.match);
    PaintRange(painter, placed, selectFrom, selectTo, colours_.selection);
    int y = placed.row * lineHeight + metrics.ascent();
    QString stamp = placed.shown.prefix.left(PrefixColumns() - 4);
    painter.setPen(colours_.stamp);
    painter.drawText(0, y, stamp);
    QColor colour = KindColour(placed.line, colours_);
    painter.setPen(colour);
    painter.drawText(QPointF(stamp.size() * charWidth, y),
                     placed.shown.prefix.mid(stamp.size(), 2));
    if (placed.line.check != FrameCheck::kUnchecked) {
      painter.setPen(placed.line.check == FrameCheck::kValid ? colours_.valid : colours_.bad);
      painter.drawText(QPointF((stamp.size() + 2) * charWidth, y),
                       placed.shown.prefix.mid(stamp.size() + 2, 1));
    }
    painter.setPen(colour);
    for (const ShownRow& row : placed.shown.rows) {
      painter.drawText(QPointF(contentX, y), row.text);
      y += lineHeight;
    }
  }
}

bool SessionView::ScrollRows(int delta) {
  if (placed_.empty()) return false;
  int height = static_cast<int>(placed_.front().shown.rows.size());
  int fit = RowsFit();
  if (delta < 0 && topRow_ > 0) {
    topRow_ = std::max(0, topRow_ + delta);
  } else if (delta > 0 && topRow_ + fit < height) {
    topRow_ = std::min(height - fit, topRow_ + delta);
  } else {
    return false;  // the top line shows whole: the scroll bar moves by lines
  }
  bool atEnd = top_ == TopOfEnd(counts_) && topRow_ >= endSkip_;
  if (atEnd != following_) {
    following_ = atEnd;
    if (!atEnd) endWhenPaused_ = counts_.endLine;
    Q_EMIT FollowingChanged(following_);
  }
  UpdateIndicators();
  viewport()->update();
  return true;
}

void SessionView::wheelEvent(QWheelEvent* event) {
  // Within a frame taller than the view the wheel moves by rows, so all of
  // it can be read; elsewhere the scroll bar moves by lines.
  int notches = event->angleDelta().y() / 120;
  if (notches != 0 && ScrollRows(-notches * 3)) {
    event->accept();
    return;
  }
  QAbstractScrollArea::wheelEvent(event);
}

void SessionView::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Down && ScrollRows(1)) ||
      (event->key() == Qt::Key_Up && ScrollRows(-1))) {
    return;
  }
  if (event->matches(QKeySequence::Copy)) {
    CopySelection(false);
  } else if (event->matches(QKeySequence::SelectAll)) {
    SelectAll();
  } else if (event->key() == Qt::Key_End) {
    Follow();
  } else if (event->key() == Qt::Key_Home) {
    ShowLine(counts_.firstLine);
  } else {
    QAbstractScrollArea::keyPressEvent(event);
  }
}

QStringList SessionView::ShownRows() {
  LayOut();
  QStringList rows;
  for (const Placed& placed : placed_) {
    QString indent(placed.shown.prefix.size(), QLatin1Char(' '));
    for (size_t r = 0; r < placed.shown.rows.size(); ++r) {
      int screenRow = placed.row + static_cast<int>(r);
      if (screenRow < 0 || screenRow >= RowsFit()) continue;
      rows << (r == 0 ? placed.shown.prefix : indent) + placed.shown.rows[r].text;
    }
  }
  return rows;
}

}  // namespace quorvel
