// The console's screen as cells: one per column, each with its character,
// its colours as the device asked for them (the palette resolves them when
// drawing, so a light and a dark window both read well) and its attributes.
// A wide (CJK) character fills two cells: the first holds it with width 2,
// the second is a tail that holds kWideTail. A cell nothing was written to
// holds 0; text reads it as a space.
//
// Rows that scroll off the top are kept packed (PackedRowView): runs of one style
// with their characters in UTF-8, trailing blanks of the default style left
// out, so a scrollback of 100,000 short lines costs a few megabytes. Pure
// values and functions; any thread.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

inline constexpr char32_t kWideTail = 0xFFFFFFFF;

struct CellColour {
  enum Kind : uint8_t { kDefault = 0, kIndexed, kRgb };
  uint8_t kind = kDefault;
  uint8_t index = 0;  // kIndexed: 0-255; kRgb: red
  uint8_t green = 0;
  uint8_t blue = 0;

  static CellColour Indexed(uint8_t index) { return {kIndexed, index, 0, 0}; }
  static CellColour Rgb(uint8_t red, uint8_t green, uint8_t blue) {
    return {kRgb, red, green, blue};
  }
  bool operator==(const CellColour&) const = default;
};

enum CellAttr : uint16_t {
  kCellBold = 1 << 0,
  kCellItalic = 1 << 1,
  kCellBlink = 1 << 2,
  kCellReverse = 1 << 3,
  kCellStrike = 1 << 4,
  kCellUnderlineShift = 5,  // two bits: 0 none, 1 single, 2 double, 3 curly
  kCellUnderlineMask = 3 << kCellUnderlineShift,
  kCellFontShift = 7,  // four bits: the alternative font 0-9 (SGR 10-19)
  kCellFontMask = 15 << kCellFontShift,
};

struct CellStyle {
  CellColour fg;
  CellColour bg;
  uint16_t attrs = 0;

  int Underline() const { return (attrs & kCellUnderlineMask) >> kCellUnderlineShift; }
  bool operator==(const CellStyle& other) const {
    // Ten bytes without padding: compared whole, as the packing of every
    // row that scrolls off does per cell.
    return std::memcmp(this, &other, sizeof *this) == 0;
  }
};
static_assert(sizeof(CellStyle) == 10);

struct Cell {
  char32_t ch = 0;
  CellStyle style;
  uint8_t width = 1;
  bool marked = false;  // has combining marks, in its row's `marks`

  bool operator==(const Cell&) const = default;
};

struct ConsoleRow {
  std::vector<Cell> cells;
  // The combining marks of the cells that have them, by column, in order.
  std::vector<std::pair<int, std::u32string>> marks;

  bool operator==(const ConsoleRow&) const = default;
  // The marks of the cell at `column` (empty when it has none).
  std::u32string_view MarksAt(int column) const;
};

// The row's text in UTF-8, a wide character once, its marks after it;
// blank cells as spaces, trailing blanks dropped.
std::string RowText(const ConsoleRow& row);
// The same as code points, one entry per character (marks included), and
// for each entry the column it starts at.
void RowCodePoints(const ConsoleRow& row, std::u32string& text, std::vector<int>& columns);

// A row in the scrollback's packed form, and back: UnpackRow gives exactly
// `columns` cells (cut, or padded with blanks of the default style).
// The packed row is valid until the next call on this thread: the
// scrollback copies it into its own blocks.
std::string_view PackedRowView(const ConsoleRow& row);
void UnpackRow(std::string_view packed, int columns, ConsoleRow& row);
// The packed row's text, as RowText gives it, without unpacking its cells.
std::string PackedRowText(std::string_view packed);

// Appends `c` in UTF-8 (U+FFFD for a value that is no character).
void AppendUtf8(std::string& out, char32_t c);

}  // namespace quorvel
