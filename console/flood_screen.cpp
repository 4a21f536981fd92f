#include "console/flood_screen.h"

#include <algorithm>

namespace quorvel {
namespace {

constexpr int kMaxParameters = 16;  // as escape_filter.h lets through

bool Printable(char c) {
  return c >= 0x20 && c < 0x7F;
}

// Whether a CSI's parameter bytes (digits and ';' only) are ones this
// screen takes: at most 16 parameters.
bool PlainParams(std::string_view params) {
  return std::count(params.begin(), params.end(), ';') < kMaxParameters;
}

// EL with no parameter or 0: erase from the cursor to the end of the line.
bool EraseToEnd(std::string_view params) {
  return params.find_first_not_of('0') == std::string_view::npos;
}

void AppendNumber(std::string& out, int value) {
  out += std::to_string(value);
}

void AppendColour(std::string& out, const CellColour& colour, int base, int bright) {
  switch (colour.kind) {
    case CellColour::kDefault:
      return;
    case CellColour::kIndexed:
      out.push_back(';');
      if (colour.index < 8) {
        AppendNumber(out, base + colour.index);
      } else if (colour.index < 16) {
        AppendNumber(out, bright + colour.index - 8);
      } else {
        AppendNumber(out, base + 8);
        out += ";5;";
        AppendNumber(out, colour.index);
      }
      return;
    case CellColour::kRgb:
      out.push_back(';');
      AppendNumber(out, base + 8);
      out += ";2;";
      AppendNumber(out, colour.index);
      out.push_back(';');
      AppendNumber(out, colour.green);
      out.push_back(';');
      AppendNumber(out, colour.blue);
      return;
  }
}

void AppendCup(std::string& out, int row, int column) {
  out += "\x1b[";
  AppendNumber(out, row + 1);
  out.push_back(';');
  AppendNumber(out, column + 1);
  out.push_back('H');
}

void AppendCell(std::string& out, const ConsoleRow& row, int column) {
  const Cell& cell = row.cells[static_cast<size_t>(column)];
  AppendUtf8(out, cell.ch);
  if (cell.marked) {
    for (char32_t mark : row.MarksAt(column)) AppendUtf8(out, mark);
  }
}

void DropMarks(ConsoleRow& row, int from) {
  std::erase_if(row.marks, [from](const auto& entry) { return entry.first >= from; });
}

}  // namespace

std::string SgrFor(const CellStyle& style) {
  // Attributes and colours go in two sequences, so neither has more than
  // the 16 parameters libvterm 0.1.4 survives.
  std::string out = "\x1b[0";
  uint16_t a = style.attrs;
  if (a & kCellBold) out += ";1";
  if (a & kCellItalic) out += ";3";
  switch (style.Underline()) {
    case 1:
      out += ";4";
      break;
    case 2:
      out += ";21";
      break;
    case 3:
      out += ";4:3";
      break;
    default:
      break;
  }
  if (a & kCellBlink) out += ";5";
  if (a & kCellReverse) out += ";7";
  if (a & kCellStrike) out += ";9";
  int font = (a & kCellFontMask) >> kCellFontShift;
  if (font != 0) {
    out.push_back(';');
    AppendNumber(out, 10 + font);
  }
  out.push_back('m');
  std::string colours;
  AppendColour(colours, style.fg, 30, 90);
  AppendColour(colours, style.bg, 40, 100);
  if (!colours.empty()) {
    out += "\x1b[";
    out.append(colours, 1);  // without the first ';'
    out.push_back('m');
  }
  return out;
}

int FloodScreen::PlainLinesAhead(const char* bytes, size_t count, int columns, CellStyle pen,
                                 const SgrEvaluator& sgr, int enough, size_t* end) {
  int lines = 0, column = 0;
  bool phantom = false;
  size_t i = 0;
  struct Stop {
    size_t& at;
    size_t* end;
    ~Stop() { *end = at; }
  } stop{i, end};
  while (i < count && lines < enough) {
    char c = bytes[i];
    if (Printable(c)) {
      if (phantom) column = 0, phantom = false;
      if (column == columns - 1) {
        phantom = true;
      } else {
        ++column;
      }
    } else if (c == '\r') {
      column = 0;
      phantom = false;
    } else if (c == '\n') {
      if (phantom) return lines;
      ++lines;
    } else if (c == 0x1B) {
      size_t length = WholeSequence(bytes + i, count - i);
      if (length == 0) return lines;
      size_t final = i + length - 1;
      std::string_view params(bytes + i + 2, length - 3);
      if (!PlainParams(params)) return lines;
      if (bytes[final] == 'm') {
        CellStyle after;
        if (!sgr(pen, params, after)) return lines;
        pen = after;
      } else if (bytes[final] != 'K' || !EraseToEnd(params) || phantom) {
        return lines;
      }
      i = final;
    } else {
      return lines;
    }
    ++i;
  }
  return lines;
}

FloodScreen::FloodScreen(std::vector<ConsoleRow> rows, int cursorRow, const CellStyle& pen,
                         Scrollback& scrollback, SgrEvaluator sgr)
    : rows_(std::move(rows)),
      columns_(rows_.empty() ? 0 : static_cast<int>(rows_.front().cells.size())),
      cursorRow_(cursorRow),
      pen_(pen),
      scrollback_(scrollback),
      sgr_(std::move(sgr)),
      damage_(rows_.size(), 0) {}

const ConsoleRow& FloodScreen::Row(int row) const {
  return rows_[static_cast<size_t>((top_ + row) % Rows())];
}

void FloodScreen::LineFeed() {
  if (cursorRow_ < Rows() - 1) {
    ++cursorRow_;
    return;
  }
  ConsoleRow& leaving = At(0);
  scrollback_.Push(leaving);
  top_ = (top_ + 1) % Rows();
  // The new bottom row is erased with the pen, as libvterm erases it.
  ConsoleRow& fresh = At(Rows() - 1);
  Cell blank;
  blank.style = pen_;
  fresh.cells.assign(static_cast<size_t>(columns_), blank);
  fresh.marks.clear();
  allDamaged_ = true;
}

void FloodScreen::PutText(const char* text, size_t count) {
  while (count > 0) {
    if (phantom_) {
      LineFeed();
      column_ = 0;
      phantom_ = false;
    }
    ConsoleRow& row = At(cursorRow_);
    size_t take = std::min(count, static_cast<size_t>(columns_ - column_));
    if (!row.marks.empty()) {
      int end = column_ + static_cast<int>(take);
      std::erase_if(row.marks, [this, end](const auto& entry) {
        return entry.first >= column_ && entry.first < end;
      });
    }
    Cell written;
    written.style = pen_;
    Cell* cell = row.cells.data() + column_;
    for (size_t i = 0; i < take; ++i) {
      written.ch = static_cast<unsigned char>(text[i]);
      cell[i] = written;
    }
    damage_[static_cast<size_t>(cursorRow_)] = 1;
    column_ += static_cast<int>(take);
    if (column_ == columns_) {
      column_ = columns_ - 1;
      phantom_ = true;
    }
    text += take;
    count -= take;
  }
}

bool FloodScreen::Sequence(std::string_view params, char final) {
  if (!PlainParams(params)) return false;
  if (final == 'm') {
    CellStyle after;
    if (!sgr_(pen_, params, after)) return false;
    pen_ = after;
    return true;
  }
  if (final != 'K' || !EraseToEnd(params) || phantom_) return false;
  ConsoleRow& row = At(cursorRow_);
  Cell blank;
  blank.style = pen_;
  std::fill(row.cells.begin() + column_, row.cells.end(), blank);
  DropMarks(row, column_);
  damage_[static_cast<size_t>(cursorRow_)] = 1;
  return true;
}

// The length of the CSI sequence at `bytes` (ESC first) when it is whole
// in `count` bytes and of the shape this screen takes: digits and ';', at
// most kMaxSequence bytes before the final one, as Take gathers them.
size_t FloodScreen::WholeSequence(const char* bytes, size_t count) {
  if (count < 3 || bytes[1] != '[') return 0;
  size_t end = std::min(count, static_cast<size_t>(kMaxSequence) + 1);
  for (size_t i = 2; i < end; ++i) {
    char c = bytes[i];
    if ((c < '0' || c > '9') && c != ';') return i + 1;
  }
  return 0;
}

size_t FloodScreen::Take(const char* bytes, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    char c = bytes[i];
    if (!held_.empty()) {
      if (held_.size() == 1) {
        if (c != '[') return Stop(), i;
        held_.push_back(c);
      } else if ((c >= '0' && c <= '9') || c == ';') {
        if (static_cast<int>(held_.size()) >= kMaxSequence) return Stop(), i;
        held_.push_back(c);
      } else {
        if (!Sequence(std::string_view(held_).substr(2), c)) return Stop(), i;
        held_.clear();
        lastGraphic_ = 0;
      }
      continue;
    }
    if (Printable(c)) {
      // A run of text at once: most of a flood's bytes.
      size_t end = i + 1;
      while (end < count && Printable(bytes[end])) ++end;
      PutText(bytes + i, end - i);
      lineStart_ = afterCr_ = false;
      lastGraphic_ = bytes[end - 1];
      i = end - 1;
    } else if (c == '\r') {
      column_ = 0;
      phantom_ = false;
      afterCr_ = true;
      lineStart_ = false;
      lastGraphic_ = 0;
    } else if (c == '\n') {
      if (phantom_) return Stop(), i;  // libvterm's LF there depends on the row
      LineFeed();
      lineStart_ = afterCr_;
      afterCr_ = false;
      lastGraphic_ = 0;
    } else if (c == 0x1B) {
      lineStart_ = afterCr_ = false;
      // A sequence whole at hand is taken from where it lies; one cut by
      // the end of the bytes, or one this screen does not take, is
      // gathered a byte at a time.
      size_t length = WholeSequence(bytes + i, count - i);
      if (length > 0 &&
          Sequence(std::string_view(bytes + i + 2, length - 3), bytes[i + length - 1])) {
        lastGraphic_ = 0;
        i += length - 1;
        continue;
      }
      held_.assign(1, c);  // the last character stays: a REP may follow
    } else {
      return Stop(), i;
    }
  }
  return count;
}

void FloodScreen::TakeDamage(std::vector<uint8_t>& rows) {
  rows.resize(rows_.size(), 0);
  for (size_t r = 0; r < rows_.size(); ++r) {
    if (allDamaged_ || damage_[r]) rows[r] = 1;
    damage_[r] = 0;
  }
  allDamaged_ = false;
}

std::string FloodScreen::Repaint() const {
  std::string out;
  out.reserve(static_cast<size_t>(Rows() * (columns_ + 16)));
  for (int r = 0; r < Rows(); ++r) {
    const ConsoleRow& row = Row(r);
    AppendCup(out, r, 0);
    bool styled = false;
    CellStyle current;
    int c = 0;
    while (c < columns_) {
      const Cell& cell = row.cells[static_cast<size_t>(c)];
      if (!styled || !(cell.style == current)) {
        out += SgrFor(cell.style);
        current = cell.style;
        styled = true;
      }
      // A blank, or a tail whose head is gone (which no write can make
      // again): erased, a run at a time.
      if (cell.ch == 0 || cell.ch == kWideTail) {
        int n = 1;
        while (c + n < columns_) {
          const Cell& next = row.cells[static_cast<size_t>(c + n)];
          if ((next.ch != 0 && next.ch != kWideTail) || next.marked || !(next.style == current)) {
            break;
          }
          ++n;
        }
        out += "\x1b[";
        AppendNumber(out, n);
        out.push_back('X');
        c += n;
        if (c < columns_) {
          out += "\x1b[";
          AppendNumber(out, n);
          out.push_back('C');
        }
        continue;
      }
      AppendCell(out, row, c);
      bool wide = cell.width == 2 && c + 1 < columns_ &&
                  row.cells[static_cast<size_t>(c + 1)].ch == kWideTail;
      c += wide ? 2 : 1;
    }
  }
  int last = phantom_ ? columns_ - 1 : column_ - 1;
  const ConsoleRow& row = Row(cursorRow_);
  if (last >= 0 && row.cells[static_cast<size_t>(last)].ch != 0 &&
      row.cells[static_cast<size_t>(last)].ch != kWideTail &&
      row.cells[static_cast<size_t>(last)].width == 1) {
    AppendCup(out, cursorRow_, last);
    out += SgrFor(row.cells[static_cast<size_t>(last)].style);
    AppendCell(out, row, last);
  } else {
    AppendCup(out, cursorRow_, column_);
  }
  out += SgrFor(pen_);
  return out;
}

}  // namespace quorvel
