// How the console view draws its cells: the colours a device asks for
// resolved against the window's palette, and a row painted run by run.
//
// The 16 ANSI colours are the desktop's usual ones; as text on the default
// background each is made as light or dark as it takes to stand 3:1 against
// it (ui/session_colours.h), so yellow stays readable on white and blue on
// black, whichever palette the window has. As backgrounds, and the 256
// colours and 24-bit ones everywhere, they are what the device asked for.
// The default colours are the palette's text and base; a reverse screen
// (DECSCNM) swaps them.
//
// A row is painted as runs of one style: one fill for each background that
// is not the default (the view clears to it), one glyph run for each run of
// ASCII, every glyph placed at its own cell (so neither a fractional
// advance nor a bold face of another width can drift it off the grid), and
// each other character drawn as text at its own cell, so a character from a
// fallback font of another width cannot shift the ones after it. The ASCII
// glyphs of each face are looked up once per font, not shaped per paint.
// UI thread.
#pragma once

#include <QColor>
#include <QFont>
#include <QPalette>
#include <QRawFont>
#include <array>

#include "console/console_cells.h"
#include "console/emulator.h"

class QPainter;

namespace quorvel {

struct ConsoleColours {
  QColor text;
  QColor base;
  std::array<QColor, 16> ansiText;  // readable on `base`
  std::array<QColor, 16> ansi;
  QColor selection;
  QColor selectionText;
  QColor match;

  QColor Resolve(const CellColour& colour, bool foreground, bool reverseScreen) const;
};

ConsoleColours ConsoleColoursFor(const QPalette& palette);

// Columns [from, to) of a row drawn on a highlight (a selection, a match).
struct RowHighlight {
  int from = 0;
  int to = 0;
  QColor background;
  QColor text;  // invalid: the cells' own
};

class ConsolePainter {
 public:
  // Takes the font's metrics; call again when the font changes.
  void SetFont(const QFont& font);
  qreal CellWidth() const { return cellWidth_; }
  int LineHeight() const { return lineHeight_; }

  // Row `row` with its top at `y`.
  void PaintRow(QPainter& painter, const ConsoleRow& row, int y, const ConsoleColours& colours,
                bool reverseScreen, const RowHighlight* highlights, int highlightCount) const;
  // The cursor over the cell at `column` of `row` (its character drawn in
  // the cell's background colour inside a block); hollow without focus.
  void PaintCursor(QPainter& painter, const ConsoleRow& row, int column, int y,
                   const ConsoleColours& colours, bool reverseScreen, CursorShape shape,
                   bool focused) const;

 private:
  // One style's font, and its glyphs for the printable ASCII characters (0:
  // the font lacks it, so the cell is drawn as text through a fallback).
  struct Face {
    QFont font;
    QRawFont raw;
    std::array<quint32, 0x7F - 0x20> glyphs{};
    quint32 GlyphOf(char32_t c) const { return glyphs[static_cast<size_t>(c - 0x20)]; }
  };
  const Face& FaceFor(uint16_t attrs) const;

  std::array<Face, 4> faces_;  // regular, bold, italic, bold italic
  qreal cellWidth_ = 8;
  int lineHeight_ = 16;
  int ascent_ = 12;
  int underlineAt_ = 14;  // from the row's top
  int strikeAt_ = 8;
  qreal lineWidth_ = 1;
};

}  // namespace quorvel
