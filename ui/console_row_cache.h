// The console view's rows kept as images while they stay the same: a full
// repaint (an expose, the screen scrolled by whole lines, the scrollback
// moved) draws each row it has seen as one image instead of its few
// hundred glyphs, and paints only the rows that are new.
//
// A row is kept with everything that decides its pixels: its cells and
// marks, its highlights, the reverse screen; a new font or palette drops
// them all (Clear). Each image is its row's strip, so what a glyph would
// draw outside its row is clipped, as the view's repaints of single rows
// already clip it. The cursor is drawn over it, never kept. UI thread.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "ui/console_painter.h"

namespace quorvel {

class ConsoleRowCache {
 public:
  void Clear() { entries_.clear(); }
  // How many rows to keep: twice the grid's, so a screen and the one
  // before it both fit.
  void SetCapacity(size_t rows) { capacity_ = rows; }
  // Call before each paint: the rows kept longest without use go first.
  void BeginPaint() { ++paint_; }
  // Draws `row` with its top at `y`, `width` pixels wide, from its kept
  // image, painting the image first when it is not kept yet.
  void PaintRow(QPainter& painter, const ConsolePainter& cells, const ConsoleRow& row, int y,
                int width, const ConsoleColours& colours, bool reverseScreen,
                const RowHighlight* highlights, int highlightCount);

 private:
  struct Entry {
    size_t hash = 0;
    ConsoleRow row;
    std::vector<RowHighlight> highlights;
    bool reverseScreen = false;
    QImage image;
    uint64_t lastPaint = 0;
  };
  Entry* Find(size_t hash, const ConsoleRow& row, bool reverseScreen,
              const RowHighlight* highlights, int highlightCount);
  Entry* Reusable();

  std::vector<Entry> entries_;
  size_t capacity_ = 0;
  uint64_t paint_ = 0;
};

}  // namespace quorvel
