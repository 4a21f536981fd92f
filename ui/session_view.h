// The session view: the session store's history, drawn line by line.
//
// Draw only what shows: the view asks the store for the lines on screen and
// shapes and paints only those, so a history of 100 MB scrolls and pages as
// cheaply as one of a few lines. The scroll bar counts lines of the history;
// at its end the view follows what comes in. Scrolling away from the end
// pauses following; an indicator says so and how many lines came since, and
// End (or a click on it) follows again. When the history limit dropped old
// lines, a banner at the top says how much.
//
// A selection and a find's match are ranges of history offsets, so they stay
// on their bytes while lines come and go. UI thread; the store is read with
// its own short lock.
#pragma once

#include <QAbstractScrollArea>
#include <cstdint>
#include <optional>
#include <vector>

#include "history/session_store.h"
#include "ui/session_colours.h"
#include "ui/session_rows.h"

class QLabel;
class QToolButton;

namespace quorvel {

class SessionView : public QAbstractScrollArea {
  Q_OBJECT

 public:
  SessionView(SessionStore& store, QWidget* parent);

  // How lines are shown; a change repaints.
  void SetOptions(StampKind stamps, bool showTx, const DecodeOptions& decode);
  // The directions' marks and the gap column (a linked pair's view).
  void SetMarks(const DirectionMarks& marks, bool gaps);
  void SetDisplay(SessionDisplay display);
  SessionDisplay Display() const { return display_; }

  // Takes what the store gained since the last call: the scroll range, the
  // end when following, the banner and the indicator. Cheap when nothing
  // changed; the painting itself waits for the next frame.
  void Sync();

  bool Following() const { return following_; }
  // Lines that came since following paused (0 while following).
  uint64_t LinesSincePaused() const;
  void Follow();
  // Shows line `number` near the top, pausing following.
  void ShowLine(uint64_t number);
  // The first line on screen.
  uint64_t TopLine() const { return top_; }

  // Marks [offset, offset + length) as the find's match (length 0: none).
  void SetMatch(uint64_t offset, size_t length);
  // Where a find goes on from: just after the match, or the top line.
  uint64_t FindStart(bool forward) const;

  // The selection as shown (text, or hex rows) and as bytes in hex.
  QString SelectedText() const;
  QString SelectedHex() const;
  void SelectRange(uint64_t from, uint64_t to);
  // Selects every line kept (Ctrl+A); a copy still takes at most 16 MiB.
  void SelectAll();
  bool HasSelection() const { return selectFrom_ != selectTo_; }
  // Puts the selection on the clipboard, as shown or as hex.
  void CopySelection(bool hex) const;

  // The find's match: its first offset and one past its last.
  std::pair<uint64_t, uint64_t> Match() const { return {matchFrom_, matchTo_}; }

  // For the tests and the benchmark: lays the screen out as the next paint
  // will and gives the text of its whole rows, prefixes included.
  QStringList ShownRows();

 Q_SIGNALS:
  void FollowingChanged(bool following);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // A new palette brings new colours; a new text size lays the rows out anew.
  void changeEvent(QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;
  void wheelEvent(QWheelEvent* event) override;

 private:
  struct Placed {
    SessionLine line;
    ShownLine shown;
    int row = 0;  // of its first row on screen
  };

  RowOptions Options() const;
  // Columns before a line's bytes: the prefix.
  int PrefixColumns() const { return PrefixWidth(stamps_, gaps_); }
  qreal CharWidth() const;
  int RowsFit() const;
  // The lines on screen from `top` down, or ending at the last line when
  // `fromEnd`; fills placed_.
  void LayOut();
  // The first line of the screen whose last line is the history's last.
  // `skipRows`: rows of that line above the screen (a line taller than it).
  uint64_t TopOfEnd(const SessionCounts& counts, int* skipRows = nullptr) const;
  // Moves within a top line taller than the screen; false when there is no
  // such line or its edge is reached.
  bool ScrollRows(int delta);
  bool Shows(const SessionLine& line) const;
  void UpdateScrollBar();
  void UpdateIndicators();
  void PlaceIndicator();
  std::optional<uint64_t> OffsetAt(QPoint point) const;
  void PaintRange(QPainter& painter, const Placed& placed, uint64_t from, uint64_t to,
                  const QColor& colour) const;

  SessionStore& store_;
  SessionDisplay display_ = SessionDisplay::kText;
  StampKind stamps_ = StampKind::kTimeOfDay;
  bool showTx_ = true;
  DecodeOptions decode_;
  DirectionMarks marks_;
  bool gaps_ = false;
  SessionCounts counts_;
  uint64_t top_ = 0;
  int topRow_ = 0;          // rows of the top line above the screen
  int endSkip_ = 0;         // the same for the end's screen
  uint64_t topOffset_ = 0;  // of the top line, to keep the place on a re-split
  bool following_ = true;
  uint64_t endWhenPaused_ = 0;
  bool settingScroll_ = false;  // the scroll bar moves because of Sync, not the user
  std::vector<Placed> placed_;
  uint64_t selectFrom_ = 0, selectTo_ = 0;  // anchor and cursor offsets
  uint64_t matchFrom_ = 0, matchTo_ = 0;
  QLabel* banner_ = nullptr;
  QToolButton* indicator_ = nullptr;
  SessionColours colours_;
};

}  // namespace quorvel
