#include "ui/console_row_cache.h"

#include <QPainter>

namespace quorvel {
namespace {

size_t Mix(size_t hash, uint64_t value) {
  return (hash ^ value) * 0x100000001b3ULL;
}

size_t HashOf(const ConsoleRow& row) {
  size_t hash = 0xcbf29ce484222325ULL;
  for (const Cell& cell : row.cells) {
    const CellStyle& style = cell.style;
    uint64_t colours = uint64_t{style.fg.kind} | uint64_t{style.fg.index} << 8 |
                       uint64_t{style.fg.green} << 16 | uint64_t{style.fg.blue} << 24 |
                       uint64_t{style.bg.kind} << 32 | uint64_t{style.bg.index} << 40 |
                       uint64_t{style.bg.green} << 48 | uint64_t{style.bg.blue} << 56;
    hash = Mix(hash, uint64_t{cell.ch} | uint64_t{style.attrs} << 32 | uint64_t{cell.width} << 48 |
                         uint64_t{cell.marked} << 56);
    hash = Mix(hash, colours);
  }
  return hash;
}

bool SameHighlight(const RowHighlight& a, const RowHighlight& b) {
  return a.from == b.from && a.to == b.to && a.background == b.background && a.text == b.text;
}

}  // namespace

ConsoleRowCache::Entry* ConsoleRowCache::Find(size_t hash, const ConsoleRow& row,
                                              bool reverseScreen, const RowHighlight* highlights,
                                              int highlightCount) {
  for (Entry& entry : entries_) {
    if (entry.hash != hash || entry.reverseScreen != reverseScreen ||
        entry.highlights.size() != static_cast<size_t>(highlightCount) || entry.row != row) {
      continue;
    }
    bool same = true;
    for (int h = 0; h < highlightCount && same; ++h) {
      same = SameHighlight(entry.highlights[static_cast<size_t>(h)], highlights[h]);
    }
    if (same) return &entry;
  }
  return nullptr;
}

// A new entry while there is room, else the one unused longest, if that was
// not in this paint.
ConsoleRowCache::Entry* ConsoleRowCache::Reusable() {
  if (entries_.size() < capacity_) return &entries_.emplace_back();
  Entry* oldest = nullptr;
  for (Entry& entry : entries_) {
    if (!oldest || entry.lastPaint < oldest->lastPaint) oldest = &entry;
  }
  return oldest && oldest->lastPaint != paint_ ? oldest : nullptr;
}

void ConsoleRowCache::PaintRow(QPainter& painter, const ConsolePainter& cells,
                               const ConsoleRow& row, int y, int width,
                               const ConsoleColours& colours, bool reverseScreen,
                               const RowHighlight* highlights, int highlightCount) {
  size_t hash = HashOf(row);
  Entry* entry = Find(hash, row, reverseScreen, highlights, highlightCount);
  qreal ratio = painter.device()->devicePixelRatioF();
  QSize size(static_cast<int>(width * ratio + 0.5),
             static_cast<int>(cells.LineHeight() * ratio + 0.5));
  if (entry && entry->image.size() != size) entry = nullptr;
  if (!entry) {
    entry = Reusable();
    if (!entry) {  // every kept row is on screen: paint this one directly
      cells.PaintRow(painter, row, y, colours, reverseScreen, highlights, highlightCount);
      return;
    }
    entry->hash = hash;
    entry->row = row;
    entry->highlights.assign(highlights, highlights + highlightCount);
    entry->reverseScreen = reverseScreen;
    if (entry->image.size() != size) entry->image = QImage(size, QImage::Format_RGB32);
    entry->image.setDevicePixelRatio(ratio);
    entry->image.fill(colours.Resolve(CellColour{}, false, reverseScreen));
    QPainter strip(&entry->image);
    cells.PaintRow(strip, row, 0, colours, reverseScreen, highlights, highlightCount);
  }
  entry->lastPaint = paint_;
  painter.drawImage(QPointF(0, y), entry->image);
}

}  // namespace quorvel
