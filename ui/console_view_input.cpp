// The console view's input: keys, the input method, the mouse (selection,
// the middle button's paste, the wheel), copy and paste.
#include <QApplication>
#include <QClipboard>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>

#include "ui/console_keys.h"
#include "ui/console_view.h"

namespace quorvel {
namespace {

bool WordCharacter(char32_t c) {
  return c != 0 && c != U' ' && c != kWideTail;
}

}  // namespace

bool ConsoleView::event(QEvent* event) {
  if (event->type() == QEvent::ShortcutOverride) {
    // Keys for the device come here before the window's shortcuts.
    if (ConsoleTakesShortcut(*static_cast<QKeyEvent*>(event))) {
      event->accept();
      return true;
    }
  } else if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      keyPressEvent(key);  // Tab completes on the device; it never moves the focus
      return true;
    }
  }
  return QAbstractScrollArea::event(event);
}

bool ConsoleView::focusNextPrevChild(bool) {
  return false;
}

void ConsoleView::keyPressEvent(QKeyEvent* event) {
  ConsoleKeyEvent key = TranslateKey(*event);
  switch (key.view) {
    case ViewKey::kCopy:
      Copy();
      return;
    case ViewKey::kPaste:
      Paste();
      return;
    case ViewKey::kPageUp:
      ScrollLines(-std::max(1, copy_.rows - 1));
      return;
    case ViewKey::kPageDown:
      ScrollLines(std::max(1, copy_.rows - 1));
      return;
    case ViewKey::kTop:
      ScrollLines(-verticalScrollBar()->maximum());
      return;
    case ViewKey::kBottom:
      Follow();
      return;
    case ViewKey::kNone:
      break;
  }
  if (!key.press) {
    event->ignore();
    return;
  }
  SendKey(*key.press);
}

void ConsoleView::SendKey(const KeyPress& press) {
  // Ctrl+C ends a paste that is still going before it reaches the device.
  if (press.key == ConsoleKey::kNone && (press.modifiers & kModCtrl) && press.text == u"c") {
    console_.CancelPaste();
  }
  if (std::optional<char32_t> refused = console_.Key(press)) {
    Q_EMIT Refused(QString::fromStdString(
        RefusedCharacterMessage("The console", *refused, console_.Options().keys.encoding)));
    return;
  }
  Follow();
  Activity(true);
}

void ConsoleView::inputMethodEvent(QInputMethodEvent* event) {
  if (!event->commitString().isEmpty()) {
    SendKey({ConsoleKey::kNone, 0, event->commitString().toStdU16String()});
  }
  event->accept();
}

void ConsoleView::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  // A click or Tab into the view is someone about to type; the window
  // coming to the front is not.
  Qt::FocusReason reason = event->reason();
  Activity(reason == Qt::MouseFocusReason || reason == Qt::TabFocusReason ||
           reason == Qt::BacktabFocusReason || reason == Qt::ShortcutFocusReason);
}

void ConsoleView::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  Activity(false);  // the cursor is drawn hollow, and stops blinking
}

TextPlace ConsoleView::PlaceAt(QPoint point) const {
  int viewRow = std::clamp(point.y() / painter_.LineHeight(), 0, std::max(0, copy_.rows - 1));
  // Between two cells, so a drag takes the cell it crosses half of.
  int column =
      std::clamp(static_cast<int>(point.x() / painter_.CellWidth() + 0.5), 0, copy_.columns);
  return {topLine_ + static_cast<uint64_t>(viewRow), column};
}

void ConsoleView::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::MiddleButton) {
    QClipboard* clipboard = QApplication::clipboard();
    if (clipboard->supportsSelection()) PasteText(clipboard->text(QClipboard::Selection));
    return;
  }
  if (event->button() != Qt::LeftButton) return;
  clicks_ = 1;
  anchor_ = end_ = PlaceAt(event->position().toPoint());
  selecting_ = true;
  viewport()->update();
}

void ConsoleView::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) return;
  TextPlace place = PlaceAt(event->position().toPoint());
  const ConsoleRow* row = RowOf(place.line);
  if (!row) return;
  int columns = static_cast<int>(row->cells.size());
  int at = std::clamp(static_cast<int>(event->position().x() / painter_.CellWidth()), 0,
                      std::max(0, columns - 1));
  if (columns == 0 || !WordCharacter(row->cells[static_cast<size_t>(at)].ch)) return;
  int from = at, to = at + 1;
  while (from > 0 && WordCharacter(row->cells[static_cast<size_t>(from - 1)].ch)) --from;
  while (to < columns && WordCharacter(row->cells[static_cast<size_t>(to)].ch)) ++to;
  clicks_ = 2;
  selecting_ = false;
  Select({place.line, from}, {place.line, to});
  QClipboard* clipboard = QApplication::clipboard();
  if (clipboard->supportsSelection()) clipboard->setText(SelectedText(), QClipboard::Selection);
}

void ConsoleView::mouseMoveEvent(QMouseEvent* event) {
  if (!selecting_ || !(event->buttons() & Qt::LeftButton)) return;
  TextPlace place = PlaceAt(event->position().toPoint());
  if (place == end_) return;
  end_ = place;
  viewport()->update();
}

void ConsoleView::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton || !selecting_) return;
  selecting_ = false;
  QClipboard* clipboard = QApplication::clipboard();
  if (HasSelection() && clipboard->supportsSelection()) {
    clipboard->setText(SelectedText(), QClipboard::Selection);
  }
}

void ConsoleView::wheelEvent(QWheelEvent* event) {
  int notches = event->angleDelta().y() / 120;
  if (notches == 0) return;
  if (copy_.altScreen) {
    // A full-screen program has no scrollback: the wheel is its arrows.
    ConsoleKey key = notches > 0 ? ConsoleKey::kUp : ConsoleKey::kDown;
    for (int i = 0; i < 3 * std::abs(notches); ++i) SendKey({key, 0, u""});
    return;
  }
  ScrollLines(-3 * notches);
}

void ConsoleView::Select(TextPlace from, TextPlace to) {
  anchor_ = from;
  end_ = to;
  viewport()->update();
}

QString ConsoleView::SelectedText() const {
  if (!HasSelection()) return {};
  return QString::fromStdString(console_.SelectionText(anchor_, end_));
}

void ConsoleView::Copy() {
  QString text = SelectedText();
  if (!text.isEmpty()) QApplication::clipboard()->setText(text);
}

void ConsoleView::Paste() {
  PasteText(QApplication::clipboard()->text());
}

void ConsoleView::PasteText(const QString& text) {
  if (text.isEmpty()) return;
  if (std::optional<char32_t> refused = console_.Paste(text.toStdU16String())) {
    Q_EMIT Refused(QString::fromStdString(
        RefusedCharacterMessage("The paste", *refused, console_.Options().keys.encoding)));
    return;
  }
  Follow();
  Activity(true);
}

void ConsoleView::SendSize() {
  console_.SendSize();
}

}  // namespace quorvel
