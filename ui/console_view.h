// The console view: the console's screen (console/console.h) drawn cell by
// cell, with its scrollback above it, keys going to the device as typed.
//
// Its grid follows its size: the rows and columns of the fixed-width font
// that fit (at the text size the window gives the view's pane, as the
// session view zooms) are the emulator's, and SizeChanged says so.
//
// Draw from the damage: the console's thread signals a descriptor when the
// screen changed; the view takes the changed rows and repaints just those,
// at most once a display frame (16 ms), and while the line is quiet it
// takes no wake-up at all. The cursor blinks only while someone types in
// the view: a key, a paste or a click or Tab into it starts the blink, and
// 10 s without a key or a change end it, as desktop text boxes do; the
// device's output and the window's own activation show it steady, so a
// console left open on a quiet line never wakes. Hidden, it takes
// nothing: the console's signal waits, and the view catches up when shown.
//
// The wheel, Shift+PgUp/PgDn and Shift+Home/End scroll back; a key for the
// device brings the view back to the screen; on the alternate screen (a
// full-screen program's, without scrollback) the wheel sends the arrows. A
// mouse drag selects, a double-click selects a word; Ctrl+Shift+C copies,
// Ctrl+Shift+V and Shift+Insert paste, the middle button pastes the
// selection. Find marks and shows a match over the scrollback and the
// screen. UI thread.
#pragma once

#include <QAbstractScrollArea>
#include <QTimer>
#include <optional>
#include <utility>
#include <vector>

#include "console/console.h"
#include "ui/console_accessible.h"
#include "ui/console_painter.h"
#include "ui/console_row_cache.h"

class QSocketNotifier;

namespace quorvel {

class ConsoleView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  ConsoleView(Console& console, QWidget* parent);

  int Rows() const { return copy_.rows; }
  int Columns() const { return copy_.columns; }
  const ScreenCopy& Screen() const { return copy_; }

  // Takes what changed now instead of at the next frame (the tests do).
  void Refresh();

  bool Following() const { return following_; }
  bool CursorBlinking() const { return blink_.isActive(); }
  void Follow();
  // Moves the view by `lines` (negative: back into the scrollback).
  void ScrollLines(int lines);
  // The lines the view shows, as text, top first.
  QStringList ShownRows() const;

  // Finds `text` from the current match (or the view's bottom going back,
  // its top going forward), round the ends once; marks and shows it.
  bool Find(const QString& text, bool forward, bool matchCase);
  void ClearMatch();
  std::optional<TextMatch> Match() const { return match_; }

  void Select(TextPlace from, TextPlace to);
  bool HasSelection() const { return anchor_ != end_; }
  QString SelectedText() const;
  void Copy();
  void Paste();
  void PasteText(const QString& text);
  // Sends the stty command for the grid.
  void SendSize();

  // For the accessible interface: the screen's text, and the cells' places
  // in the viewport.
  const AccessibleScreen& Accessible() const;
  QRect CellRect(int row, int column) const;
  std::pair<int, int> CellAt(QPoint point) const;  // row and column under `point`

 Q_SIGNALS:
  void SizeChanged(int rows, int columns);
  void TitleChanged(const QString& title);
  void Bell();
  // A character the encoding cannot carry was typed or pasted; nothing went.
  void Refused(const QString& message);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void showEvent(QShowEvent* event) override;
  void hideEvent(QHideEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void inputMethodEvent(QInputMethodEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void wheelEvent(QWheelEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void Readable();
  void EndFrame();
  void FitGrid();
  void UpdateScrollBar();
  void UpdateRow(int viewRow);
  void UpdateLine(uint64_t line);
  void ShowLine(uint64_t line);
  void SendKey(const KeyPress& press);
  // The cursor moved or someone typed: it shows at once; `byUser` starts it
  // blinking, a change keeps a blink that runs going.
  void Activity(bool byUser);
  void Blink();
  TextPlace PlaceAt(QPoint point) const;
  // The row `line` shows: the screen's, or the scrollback's (cached).
  const ConsoleRow* RowOf(uint64_t line) const;
  void FetchScrollback() const;

  Console& console_;
  ScreenCopy copy_;
  ConsolePainter painter_;
  ConsoleRowCache rowImages_;
  ConsoleColours colours_;
  QSocketNotifier* notifier_ = nullptr;
  QTimer frame_;
  bool framePending_ = false;

  uint64_t topLine_ = 0;
  bool following_ = true;
  bool settingScroll_ = false;
  mutable std::vector<ConsoleRow> scrollRows_;  // of [scrollFrom_, +size)
  mutable uint64_t scrollFrom_ = 0;
  mutable bool scrollStale_ = true;

  TextPlace anchor_, end_;
  bool selecting_ = false;
  int clicks_ = 0;  // 1 for a drag, 2 for a word's double-click
  std::optional<TextMatch> match_;

  QTimer blink_;
  bool cursorShown_ = true;
  int64_t lastActivityMs_ = 0;
  ConsoleCursor paintedCursor_;
  uint64_t bells_ = 0;

  mutable AccessibleScreen accessible_;
  mutable bool accessibleStale_ = true;
};

}  // namespace quorvel
