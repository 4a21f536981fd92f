#include "ui/console_painter.h"

#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <vector>

#include "ui/session_colours.h"

namespace quorvel {
namespace {

// The ANSI colours (0-7 and their bright 8-15) as desktop terminals give them.
constexpr std::array<QRgb, 16> kAnsi = {
    0x2e3436, 0xcc0000, 0x4e9a06, 0xc4a000, 0x3465a4, 0x75507b, 0x06989a, 0xd3d7cf,
    0x555753, 0xef2929, 0x8ae234, 0xfce94f, 0x729fcf, 0xad7fa8, 0x34e2e2, 0xeeeeec,
};
constexpr double kAnsiContrast = 3.0;

QColor Indexed(int index) {
  if (index < 16) return QColor(kAnsi[static_cast<size_t>(index)]);
  if (index < 232) {
    static constexpr int kLevels[] = {0, 95, 135, 175, 215, 255};
    int i = index - 16;
    return QColor(kLevels[i / 36], kLevels[(i / 6) % 6], kLevels[i % 6]);
  }
  int grey = 8 + 10 * (index - 232);
  return QColor(grey, grey, grey);
}

// What one cell looks like, highlights and reverse applied.
struct Look {
  QColor fg;
  QColor bg;
  uint16_t attrs = 0;
};

Look LookOf(const Cell& cell, int column, const ConsoleColours& colours, bool reverseScreen,
            const RowHighlight* highlights, int highlightCount) {
  Look look;
  look.fg = colours.Resolve(cell.style.fg, true, reverseScreen);
  look.bg = colours.Resolve(cell.style.bg, false, reverseScreen);
  look.attrs = cell.style.attrs;
  if (look.attrs & kCellReverse) std::swap(look.fg, look.bg);
  for (int h = 0; h < highlightCount; ++h) {
    const RowHighlight& highlight = highlights[h];
    if (column >= highlight.from && column < highlight.to) {
      look.bg = highlight.background;
      if (highlight.text.isValid()) look.fg = highlight.text;
    }
  }
  return look;
}

bool Plain(char32_t c) {
  return c >= 0x20 && c < 0x7F;
}

}  // namespace

QColor ConsoleColours::Resolve(const CellColour& colour, bool foreground,
                               bool reverseScreen) const {
  switch (colour.kind) {
    case CellColour::kIndexed:
      if (colour.index < 16) {
        return foreground ? ansiText[colour.index] : ansi[colour.index];
      }
      return Indexed(colour.index);
    case CellColour::kRgb:
      return QColor(colour.index, colour.green, colour.blue);
    default:
      break;
  }
  return foreground != reverseScreen ? text : base;
}

ConsoleColours ConsoleColoursFor(const QPalette& palette) {
  ConsoleColours colours;
  colours.text = palette.color(QPalette::Text);
  colours.base = palette.color(QPalette::Base);
  for (size_t i = 0; i < 16; ++i) {
    colours.ansi[i] = QColor(kAnsi[i]);
    colours.ansiText[i] = Readable(colours.ansi[i], colours.base, kAnsiContrast);
  }
  colours.selection = palette.color(QPalette::Highlight);
  colours.selectionText = palette.color(QPalette::HighlightedText);
  colours.match = SessionColoursFor(palette).match;
  return colours;
}

void ConsolePainter::SetFont(const QFont& font) {
  for (size_t i = 0; i < faces_.size(); ++i) {
    Face& face = faces_[i];
    face.font = font;
    face.font.setBold(i & 1);
    face.font.setItalic(i & 2);
    face.raw = QRawFont::fromFont(face.font);
    face.glyphs.fill(0);
    if (!face.raw.isValid()) continue;
    for (char32_t c = 0x20; c < 0x7F; ++c) {
      char16_t unit = static_cast<char16_t>(c);
      QList<quint32> found = face.raw.glyphIndexesForString(QString(QChar(unit)));
      if (found.size() == 1) face.glyphs[static_cast<size_t>(c - 0x20)] = found[0];
    }
  }
  QFontMetricsF metrics(font);
  // Fractional: a fixed font's advance is rarely a whole pixel.
  cellWidth_ = std::max<qreal>(1, metrics.horizontalAdvance(QLatin1Char('0')));
  lineHeight_ = std::max(1, QFontMetrics(font).lineSpacing());
  ascent_ = QFontMetrics(font).ascent();
  underlineAt_ =
      std::min(lineHeight_ - 1, ascent_ + std::max(1, QFontMetrics(font).underlinePos()));
  strikeAt_ = ascent_ - std::max(1, QFontMetrics(font).strikeOutPos());
  lineWidth_ = std::max<qreal>(1, QFontMetrics(font).lineWidth());
}

const ConsolePainter::Face& ConsolePainter::FaceFor(uint16_t attrs) const {
  return faces_[(attrs & kCellBold ? 1 : 0) | (attrs & kCellItalic ? 2 : 0)];
}

void ConsolePainter::PaintRow(QPainter& painter, const ConsoleRow& row, int y,
                              const ConsoleColours& colours, bool reverseScreen,
                              const RowHighlight* highlights, int highlightCount) const {
  int columns = static_cast<int>(row.cells.size());
  thread_local std::vector<Look> looks;
  looks.resize(static_cast<size_t>(columns));
  for (int c = 0; c < columns; ++c) {
    const Cell& cell = row.cells[static_cast<size_t>(c)];
    // A tail looks as its head does.
    const Cell& shown =
        cell.ch == kWideTail && c > 0 ? row.cells[static_cast<size_t>(c - 1)] : cell;
    looks[static_cast<size_t>(c)] =
        LookOf(shown, c, colours, reverseScreen, highlights, highlightCount);
  }
  QColor cleared = colours.Resolve(CellColour{}, false, reverseScreen);
  // Backgrounds, a run of one colour at a time.
  for (int c = 0; c < columns;) {
    QColor bg = looks[static_cast<size_t>(c)].bg;
    int end = c + 1;
    while (end < columns && looks[static_cast<size_t>(end)].bg == bg) ++end;
    if (bg != cleared) {
      painter.fillRect(QRectF(c * cellWidth_, y, (end - c) * cellWidth_, lineHeight_), bg);
    }
    c = end;
  }
  // Text: runs of ASCII of one colour and face as one glyph run, each
  // glyph at its cell.
  thread_local QList<quint32> glyphs;
  thread_local QList<QPointF> positions;
  for (int c = 0; c < columns;) {
    const Cell& cell = row.cells[static_cast<size_t>(c)];
    const Look& look = looks[static_cast<size_t>(c)];
    if (cell.ch == 0 || cell.ch == U' ' || cell.ch == kWideTail) {
      ++c;
      continue;
    }
    const Face& face = FaceFor(look.attrs);
    painter.setPen(look.fg);
    if (Plain(cell.ch) && !cell.marked && face.GlyphOf(cell.ch) != 0) {
      glyphs.clear();
      positions.clear();
      int end = c;
      for (; end < columns; ++end) {
        const Cell& next = row.cells[static_cast<size_t>(end)];
        if (next.ch == 0 || next.ch == U' ') continue;
        const Look& nextLook = looks[static_cast<size_t>(end)];
        if (!Plain(next.ch) || next.marked || nextLook.fg != look.fg ||
            &FaceFor(nextLook.attrs) != &face || face.GlyphOf(next.ch) == 0) {
          break;
        }
        glyphs.append(face.GlyphOf(next.ch));
        positions.append(QPointF(end * cellWidth_, 0));
      }
      QGlyphRun run;
      run.setRawFont(face.raw);
      run.setGlyphIndexes(glyphs);
      run.setPositions(positions);
      painter.drawGlyphRun(QPointF(0, y + ascent_), run);
      c = end;
      continue;
    }
    std::u32string text(1, cell.ch);
    if (cell.marked) text += row.MarksAt(c);
    QString shown = QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size()));
    painter.setFont(face.font);
    painter.drawText(QPointF(c * cellWidth_, y + ascent_), shown);
    c += cell.width == 2 ? 2 : 1;
  }
  // Underlines and strikes, a run of one colour at a time.
  for (int c = 0; c < columns;) {
    const Look& look = looks[static_cast<size_t>(c)];
    int underline = (look.attrs & kCellUnderlineMask) >> kCellUnderlineShift;
    bool strike = look.attrs & kCellStrike;
    if (!underline && !strike) {
      ++c;
      continue;
    }
    int end = c + 1;
    while (end < columns && looks[static_cast<size_t>(end)].fg == look.fg &&
           looks[static_cast<size_t>(end)].attrs == look.attrs) {
      ++end;
    }
    painter.setPen(QPen(look.fg, lineWidth_));
    qreal left = c * cellWidth_, right = end * cellWidth_;
    if (underline) {
      painter.drawLine(QPointF(left, y + underlineAt_), QPointF(right, y + underlineAt_));
      if (underline >= 2) {
        qreal below = std::min<qreal>(y + lineHeight_ - 1, y + underlineAt_ + 2 * lineWidth_);
        painter.drawLine(QPointF(left, below), QPointF(right, below));
      }
    }
    if (strike) painter.drawLine(QPointF(left, y + strikeAt_), QPointF(right, y + strikeAt_));
    c = end;
  }
}

void ConsolePainter::PaintCursor(QPainter& painter, const ConsoleRow& row, int column, int y,
                                 const ConsoleColours& colours, bool reverseScreen,
                                 CursorShape shape, bool focused) const {
  int columns = static_cast<int>(row.cells.size());
  if (column < 0 || column >= columns) return;
  const Cell& cell = row.cells[static_cast<size_t>(column)];
  Look look = LookOf(cell, column, colours, reverseScreen, nullptr, 0);
  int width = cell.width == 2 && column + 1 < columns ? 2 : 1;
  QRectF box(column * cellWidth_, y, width * cellWidth_, lineHeight_);
  if (!focused) {
    painter.setPen(QPen(look.fg, 1));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(box.adjusted(0.5, 0.5, -0.5, -0.5));
    return;
  }
  switch (shape) {
    case CursorShape::kUnderline:
      painter.fillRect(QRectF(box.left(), box.bottom() - 2, box.width(), 2), look.fg);
      return;
    case CursorShape::kBar:
      painter.fillRect(QRectF(box.left(), box.top(), 2, box.height()), look.fg);
      return;
    case CursorShape::kBlock:
      break;
  }
  painter.fillRect(box, look.fg);
  if (cell.ch != 0 && cell.ch != U' ' && cell.ch != kWideTail) {
    std::u32string text(1, cell.ch);
    if (cell.marked) text += row.MarksAt(column);
    painter.setFont(FaceFor(look.attrs).font);
    painter.setPen(look.bg);
    painter.drawText(QPointF(box.left(), y + ascent_),
                     QString::fromUcs4(text.data(), static_cast<qsizetype>(text.size())));
  }
}

}  // namespace quorvel
