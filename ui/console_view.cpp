#include "ui/console_view.h"

#include <QAccessible>
#include <QFontDatabase>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSocketNotifier>
#include <algorithm>

#include "core/clock.h"

namespace quorvel {
namespace {

constexpr int kFrameMs = 16;
constexpr int kBlinkMs = 530;
constexpr int64_t kBlinkForMs = 10'000;  // then the cursor stays on

}  // namespace

ConsoleView::ConsoleView(Console& console, QWidget* parent)
    : QAbstractScrollArea(parent), console_(console) {
  // The factory before anything that tells assistive technologies about
  // the view (its name does): the first interface asked for is kept for
  // the view's life, and without the factory it is a plain scroll area's.
  InstallConsoleAccessible();
  setObjectName(QStringLiteral("consoleView"));
  setAccessibleName(QStringLiteral("Console"));
  // The system's fixed-width family, and nothing else of its own: the size
  // follows the text size the window sets on the view's pane.
  QFont fixed;
  fixed.setFamilies(QFontDatabase::systemFont(QFontDatabase::FixedFont).families());
  fixed.setStyleHint(QFont::TypeWriter);
  fixed.setStyleStrategy(QFont::PreferNoShaping);
  setFont(fixed);
  painter_.SetFont(font());
  colours_ = ConsoleColoursFor(palette());
  setFocusPolicy(Qt::StrongFocus);
  setAttribute(Qt::WA_InputMethodEnabled);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  // Always there, so the grid's width never depends on the scrollback.
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);

  frame_.setSingleShot(true);
  frame_.setInterval(kFrameMs);
  connect(&frame_, &QTimer::timeout, this, &ConsoleView::EndFrame);
  blink_.setInterval(kBlinkMs);
  connect(&blink_, &QTimer::timeout, this, &ConsoleView::Blink);
  if (console_.ChangedDescriptor() >= 0) {
    notifier_ = new QSocketNotifier(console_.ChangedDescriptor(), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &ConsoleView::Readable);
  } else {
    // No descriptor to wait on: look once a frame instead.
    frame_.setSingleShot(false);
    frame_.start();
    framePending_ = true;
  }
  Refresh();
}

void ConsoleView::Readable() {
  // One look a frame: the descriptor stays readable until the look, so it
  // is not watched until the frame ends.
  notifier_->setEnabled(false);
  if (isHidden()) return;  // the look comes when the view shows again
  if (frame_.isActive()) {
    framePending_ = true;
    return;
  }
  Refresh();
  frame_.start();
}

void ConsoleView::EndFrame() {
  if (framePending_) {
    if (notifier_) framePending_ = false;
    Refresh();
    if (notifier_) frame_.start();
  }
  if (notifier_ && !isHidden()) notifier_->setEnabled(true);
}

void ConsoleView::showEvent(QShowEvent* event) {
  QAbstractScrollArea::showEvent(event);
  Refresh();
  if (notifier_) {
    notifier_->setEnabled(!frame_.isActive());
  } else if (!frame_.isActive()) {
    frame_.start();
  }
}

void ConsoleView::hideEvent(QHideEvent* event) {
  QAbstractScrollArea::hideEvent(event);
  if (notifier_) {
    notifier_->setEnabled(false);
  } else {
    frame_.stop();
  }
  blink_.stop();
}

void ConsoleView::Refresh() {
  uint64_t oldScreenLine = copy_.screenLine, oldFirst = copy_.firstLine;
  ConsoleCursor oldCursor = copy_.cursor;
  int oldRows = copy_.rows, oldColumns = copy_.columns;
  bool oldAlt = copy_.altScreen, oldReverse = copy_.reverse;
  std::string oldTitle = copy_.title;
  if (!console_.TakeChanges(copy_)) return;
  accessibleStale_ = true;
  if (copy_.screenLine != oldScreenLine || copy_.firstLine != oldFirst) scrollStale_ = true;
  if (copy_.altScreen) following_ = true;  // the alternate screen has no scrollback
  topLine_ =
      following_ ? copy_.screenLine : std::clamp(topLine_, copy_.firstLine, copy_.screenLine);
  bool whole = copy_.screenLine != oldScreenLine || copy_.rows != oldRows ||
               copy_.columns != oldColumns || copy_.altScreen != oldAlt ||
               copy_.reverse != oldReverse;
  if (whole) {
    viewport()->update();
  } else {
    for (int r = 0; r < copy_.rows; ++r) {
      if (copy_.changed[static_cast<size_t>(r)]) UpdateLine(copy_.screenLine + r);
    }
  }
  if (!(copy_.cursor == oldCursor)) {
    UpdateLine(oldScreenLine + static_cast<uint64_t>(std::max(0, oldCursor.row)));
    Activity(false);
  }
  UpdateScrollBar();
  if (copy_.title != oldTitle) Q_EMIT TitleChanged(QString::fromStdString(copy_.title));
  if (copy_.bells != bells_) {
    bells_ = copy_.bells;
    Q_EMIT Bell();
  }
  if (QAccessible::isActive()) {
    QString before = accessible_.text;
    const AccessibleScreen& now = Accessible();
    if (now.text != before) {
      QAccessibleTextUpdateEvent update(this, 0, before, now.text);
      QAccessible::updateAccessibility(&update);
    }
    QAccessibleTextCursorEvent cursor(this, now.cursor);
    QAccessible::updateAccessibility(&cursor);
  }
}

void ConsoleView::FitGrid() {
  int rows = std::max(1, viewport()->height() / painter_.LineHeight());
  int columns = std::max(1, static_cast<int>(viewport()->width() / painter_.CellWidth()));
  if (rows == copy_.rows && columns == copy_.columns) return;
  console_.Resize(rows, columns);
  Refresh();
  Q_EMIT SizeChanged(copy_.rows, copy_.columns);
}

void ConsoleView::UpdateScrollBar() {
  settingScroll_ = true;
  QScrollBar* bar = verticalScrollBar();
  uint64_t back = copy_.screenLine - copy_.firstLine;
  bar->setRange(0, static_cast<int>(std::min<uint64_t>(back, INT32_MAX)));
  bar->setPageStep(std::max(1, copy_.rows));
  bar->setValue(static_cast<int>(std::min<uint64_t>(topLine_ - copy_.firstLine, INT32_MAX)));
  settingScroll_ = false;
}

void ConsoleView::scrollContentsBy(int, int) {
  if (settingScroll_) return;
  QScrollBar* bar = verticalScrollBar();
  topLine_ = copy_.firstLine + static_cast<uint64_t>(bar->value());
  following_ = bar->value() >= bar->maximum();
  if (following_) topLine_ = copy_.screenLine;
  viewport()->update();
}

void ConsoleView::ScrollLines(int lines) {
  if (copy_.altScreen || lines == 0) return;
  QScrollBar* bar = verticalScrollBar();
  bar->setValue(std::clamp(bar->value() + lines, 0, bar->maximum()));
}

void ConsoleView::Follow() {
  if (following_ && topLine_ == copy_.screenLine) return;
  following_ = true;
  topLine_ = copy_.screenLine;
  UpdateScrollBar();
  viewport()->update();
}

void ConsoleView::ShowLine(uint64_t line) {
  if (line >= topLine_ && line < topLine_ + static_cast<uint64_t>(copy_.rows)) {
    viewport()->update();
    return;
  }
  if (line >= copy_.screenLine) {
    Follow();
    return;
  }
  following_ = false;
  // A little of what comes before it stays in sight.
  topLine_ = std::max(copy_.firstLine, line >= 2 ? line - 2 : 0);
  UpdateScrollBar();
  viewport()->update();
}

void ConsoleView::UpdateLine(uint64_t line) {
  if (line < topLine_ || line >= topLine_ + static_cast<uint64_t>(copy_.rows)) return;
  UpdateRow(static_cast<int>(line - topLine_));
}

void ConsoleView::UpdateRow(int viewRow) {
  int height = painter_.LineHeight();
  viewport()->update(0, viewRow * height, viewport()->width(), height);
}

void ConsoleView::FetchScrollback() const {
  int count = topLine_ < copy_.screenLine
                  ? static_cast<int>(std::min<uint64_t>(copy_.screenLine - topLine_,
                                                        static_cast<uint64_t>(copy_.rows)))
                  : 0;
  if (!scrollStale_ && scrollFrom_ == topLine_ &&
      scrollRows_.size() == static_cast<size_t>(count)) {
    return;
  }
  console_.ReadLines(topLine_, count, scrollRows_);
  scrollFrom_ = topLine_;
  scrollStale_ = false;
}

const ConsoleRow* ConsoleView::RowOf(uint64_t line) const {
  if (line >= copy_.screenLine) {
    uint64_t row = line - copy_.screenLine;
    return row < copy_.screen.size() ? &copy_.screen[static_cast<size_t>(row)] : nullptr;
  }
  FetchScrollback();
  if (line < scrollFrom_ || line - scrollFrom_ >= scrollRows_.size()) return nullptr;
  return &scrollRows_[static_cast<size_t>(line - scrollFrom_)];
}

void ConsoleView::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  QColor cleared = colours_.Resolve(CellColour{}, false, copy_.reverse);
  painter.fillRect(event->rect(), cleared);
  int height = painter_.LineHeight();
  int first = std::max(0, event->rect().top() / height);
  int last = std::min(copy_.rows - 1, event->rect().bottom() / height);
  TextPlace from = std::min(anchor_, end_), to = std::max(anchor_, end_);
  rowImages_.SetCapacity(2 * static_cast<size_t>(copy_.rows));
  rowImages_.BeginPaint();
  uint64_t cursorLine = copy_.screenLine + static_cast<uint64_t>(std::max(0, copy_.cursor.row));
  for (int viewRow = first; viewRow <= last; ++viewRow) {
    uint64_t line = topLine_ + static_cast<uint64_t>(viewRow);
    const ConsoleRow* row = RowOf(line);
    if (!row) continue;
    RowHighlight highlights[2];
    int count = 0;
    if (match_ && match_->at.line == line) {
      highlights[count++] = {match_->at.column, match_->at.column + match_->columns, colours_.match,
                             QColor()};
    }
    if (from != to && line >= from.line && line <= to.line) {
      highlights[count++] = {line == from.line ? from.column : 0,
                             line == to.line ? to.column : copy_.columns, colours_.selection,
                             colours_.selectionText};
    }
    int y = viewRow * height;
    rowImages_.PaintRow(painter, painter_, *row, y, viewport()->width(), colours_, copy_.reverse,
                        highlights, count);
    if (line == cursorLine && copy_.cursor.visible && (cursorShown_ || !hasFocus())) {
      painter_.PaintCursor(painter, *row, copy_.cursor.column, y, colours_, copy_.reverse,
                           copy_.cursor.shape, hasFocus());
    }
  }
  paintedCursor_ = copy_.cursor;
}

void ConsoleView::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  FitGrid();
}

void ConsoleView::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    colours_ = ConsoleColoursFor(palette());
    rowImages_.Clear();
    viewport()->update();
  } else if (event->type() == QEvent::FontChange) {
    painter_.SetFont(font());
    rowImages_.Clear();
    FitGrid();
    viewport()->update();
  }
}

void ConsoleView::Activity(bool byUser) {
  bool blinking = byUser || blink_.isActive();
  if (blinking) lastActivityMs_ = SteadyNowMs();
  cursorShown_ = true;
  if (blinking && copy_.cursor.blink && copy_.cursor.visible && hasFocus()) {
    blink_.start();
  } else {
    blink_.stop();
  }
  UpdateLine(copy_.screenLine + static_cast<uint64_t>(std::max(0, copy_.cursor.row)));
}

void ConsoleView::Blink() {
  if (SteadyNowMs() - lastActivityMs_ > kBlinkForMs) {
    cursorShown_ = true;
    blink_.stop();
  } else {
    cursorShown_ = !cursorShown_;
  }
  UpdateLine(copy_.screenLine + static_cast<uint64_t>(std::max(0, copy_.cursor.row)));
}

bool ConsoleView::Find(const QString& text, bool forward, bool matchCase) {
  if (text.isEmpty()) return false;
  std::u32string needle = text.toStdU32String();
  TextPlace from;
  if (match_) {
    from = forward ? TextPlace{match_->at.line, match_->at.column + 1} : match_->at;
  } else {
    from = forward ? TextPlace{topLine_, 0}
                   : TextPlace{topLine_ + static_cast<uint64_t>(copy_.rows), 0};
  }
  std::optional<TextMatch> found = console_.Find(needle, from, forward, matchCase);
  if (!found) {
    // Round the end once.
    TextPlace restart = forward ? TextPlace{0, 0} : TextPlace{UINT64_MAX, 0};
    found = console_.Find(needle, restart, forward, matchCase);
  }
  if (!found) return false;
  match_ = found;
  ShowLine(found->at.line);
  viewport()->update();
  return true;
}

void ConsoleView::ClearMatch() {
  match_.reset();
  viewport()->update();
}

QStringList ConsoleView::ShownRows() const {
  QStringList rows;
  for (int r = 0; r < copy_.rows; ++r) {
    const ConsoleRow* row = RowOf(topLine_ + static_cast<uint64_t>(r));
    rows << (row ? QString::fromStdString(RowText(*row)) : QString());
  }
  return rows;
}

const AccessibleScreen& ConsoleView::Accessible() const {
  if (accessibleStale_) {
    accessible_ = AccessibleScreenOf(copy_);
    accessibleStale_ = false;
  }
  return accessible_;
}

QRect ConsoleView::CellRect(int row, int column) const {
  int64_t viewRow = static_cast<int64_t>(copy_.screenLine + static_cast<uint64_t>(row)) -
                    static_cast<int64_t>(topLine_);
  qreal width = painter_.CellWidth();
  return QRect(static_cast<int>(column * width), static_cast<int>(viewRow * painter_.LineHeight()),
               static_cast<int>(width + 0.5), painter_.LineHeight());
}

std::pair<int, int> ConsoleView::CellAt(QPoint point) const {
  int viewRow = point.y() / painter_.LineHeight();
  int64_t row = static_cast<int64_t>(topLine_) + viewRow - static_cast<int64_t>(copy_.screenLine);
  return {static_cast<int>(row), static_cast<int>(point.x() / painter_.CellWidth())};
}

}  // namespace quorvel
