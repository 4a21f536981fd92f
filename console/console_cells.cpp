#include "console/console_cells.h"

#include <algorithm>

namespace quorvel {
namespace {

// The packed form: runs, each a flag byte (kStyled: the style's 10 bytes
// follow; otherwise the default style), a two-byte LEB128 count of entries, then the
// entries. An entry is a character in UTF-8 (0 for a blank), after an
// optional marker: kWide (the character fills two cells), kMarked (a count
// byte and that many marks in UTF-8 follow it) or kLoneTail (a tail cell
// whose head was cut off). UTF-8 never uses these bytes.
constexpr uint8_t kStyled = 1;
constexpr uint8_t kLoneTail = 0xFC;
constexpr uint8_t kWide = 0xFE;
constexpr uint8_t kMarked = 0xFF;

// Reads the packed form written above; every read is bounds-checked, so a
// damaged row ends early instead of reading past its end.
class Reader {
 public:
  explicit Reader(std::string_view packed) : data_(packed) {}
  bool AtEnd() const { return at_ >= data_.size(); }
  uint8_t Peek() const { return AtEnd() ? 0 : static_cast<uint8_t>(data_[at_]); }
  uint8_t Byte() { return AtEnd() ? 0 : static_cast<uint8_t>(data_[at_++]); }
  size_t Count() {
    size_t value = 0;
    for (int shift = 0; shift < 64 && !AtEnd(); shift += 7) {
      uint8_t byte = Byte();
      value |= static_cast<size_t>(byte & 0x7F) << shift;
      if (!(byte & 0x80)) break;
    }
    return value;
  }
  CellColour Colour() {
    CellColour colour;
    colour.kind = Byte();
    colour.index = Byte();
    colour.green = Byte();
    colour.blue = Byte();
    return colour;
  }
  char32_t Utf8() {
    uint8_t lead = Byte();
    int more = lead < 0x80 ? 0 : lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
    if (more < 0) return U'\uFFFD';
    char32_t c = more == 0 ? lead : lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) c = (c << 6) | (Byte() & 0x3F);
    return c;
  }

 private:
  std::string_view data_;
  size_t at_ = 0;
};

// Walks a packed row: calls `entry(style, ch, width, marks)` for each
// character, a tail as kWideTail with width 1.
template <typename Entry>
void ReadPacked(std::string_view packed, Entry entry) {
  Reader in(packed);
  std::u32string marks;
  while (!in.AtEnd()) {
    CellStyle style;
    if (in.Byte() & kStyled) {
      style.fg = in.Colour();
      style.bg = in.Colour();
      style.attrs = static_cast<uint16_t>(in.Byte() | (in.Byte() << 8));
    }
    size_t count = in.Count();
    for (size_t i = 0; i < count && !in.AtEnd(); ++i) {
      uint8_t marker = in.Peek();
      int width = 1;
      marks.clear();
      if (marker == kLoneTail) {
        in.Byte();
        if (!entry(style, kWideTail, 1, marks)) return;
        continue;
      }
      if (marker == kWide || marker == kMarked) in.Byte();
      if (marker == kWide) {
        width = 2;
        if (in.Peek() == kMarked) {
          in.Byte();
          marker = kMarked;
        }
      }
      char32_t ch = in.Utf8();
      if (marker == kMarked) {
        for (int m = in.Byte(); m > 0 && !in.AtEnd(); --m) marks.push_back(in.Utf8());
      }
      if (!entry(style, ch, width, marks)) return;
    }
  }
}

}  // namespace

std::u32string_view ConsoleRow::MarksAt(int column) const {
  for (const auto& [at, text] : marks) {
    if (at == column) return text;
  }
  return {};
}

void AppendUtf8(std::string& out, char32_t c) {
  if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
  if (c < 0x80) {
    out.push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (c >> 6)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (c >> 12)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (c >> 18)));
    out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void RowCodePoints(const ConsoleRow& row, std::u32string& text, std::vector<int>& columns) {
  text.clear();
  columns.clear();
  size_t kept = 0;  // entries up to the last that is not a blank
  for (size_t c = 0; c < row.cells.size(); ++c) {
    const Cell& cell = row.cells[c];
    if (cell.ch == kWideTail) continue;
    int column = static_cast<int>(c);
    text.push_back(cell.ch == 0 ? U' ' : cell.ch);
    columns.push_back(column);
    if (cell.marked) {
      for (char32_t mark : row.MarksAt(column)) {
        text.push_back(mark);
        columns.push_back(column);
      }
    }
    if (cell.ch != 0 && cell.ch != U' ') kept = text.size();
  }
  text.resize(kept);
  columns.resize(kept);
}

std::string RowText(const ConsoleRow& row) {
  std::u32string text;
  std::vector<int> columns;
  RowCodePoints(row, text, columns);
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) AppendUtf8(out, c);
  return out;
}

std::string_view PackedRowView(const ConsoleRow& row) {
  static const CellStyle kPlain;
  size_t end = row.cells.size();
  while (end > 0) {
    const Cell& last = row.cells[end - 1];
    if (last.ch != 0 || last.marked || !(last.style == kPlain)) break;
    --end;
  }
  // Written through a pointer into room for the worst case (a run for each
  // cell, each character four bytes after two markers), which the scrollback
  // copies at its size: rows scroll off at flood rates, so this is the
  // scrollback's hot path.
  size_t marks = 0;
  for (const auto& entry : row.marks) marks += 1 + entry.second.size() * 4;
  thread_local std::string room;
  room.resize(std::max(room.size(), end * 19 + marks));
  char* o = room.data();
  auto utf8 = [&o](char32_t c) {
    if (c < 0x80) {
      *o++ = static_cast<char>(c);
    } else {
      std::string bytes;
      AppendUtf8(bytes, c);
      for (char b : bytes) *o++ = b;
    }
  };
  size_t c = 0;
  while (c < end) {
    const CellStyle& style = row.cells[c].style;
    if (style == kPlain) {
      *o++ = 0;
    } else {
      *o++ = static_cast<char>(kStyled);
      for (const CellColour* colour : {&style.fg, &style.bg}) {
        *o++ = static_cast<char>(colour->kind);
        *o++ = static_cast<char>(colour->index);
        *o++ = static_cast<char>(colour->green);
        *o++ = static_cast<char>(colour->blue);
      }
      *o++ = static_cast<char>(style.attrs & 0xFF);
      *o++ = static_cast<char>(style.attrs >> 8);
    }
    // The count, filled in once known: two bytes of LEB128 hold a row's
    // width (at most 2000 cells) whatever it is.
    char* count = o;
    o += 2;
    size_t entries = 0;
    // A tail goes with its head whatever its own style says.
    for (; c < end && row.cells[c].style == style; ++entries) {
      const Cell& cell = row.cells[c];
      if (cell.ch < 0x80 && !cell.marked && cell.width == 1) {
        *o++ = static_cast<char>(cell.ch);
        ++c;
        continue;
      }
      if (cell.ch == kWideTail) {
        *o++ = static_cast<char>(kLoneTail);
        ++c;
        continue;
      }
      bool wide = cell.width == 2 && c + 1 < row.cells.size() && row.cells[c + 1].ch == kWideTail;
      std::u32string_view marksAt = cell.marked ? row.MarksAt(static_cast<int>(c)) : U"";
      if (wide) *o++ = static_cast<char>(kWide);
      if (!marksAt.empty()) *o++ = static_cast<char>(kMarked);
      utf8(cell.ch);
      if (!marksAt.empty()) {
        size_t kept = std::min<size_t>(marksAt.size(), 255);
        *o++ = static_cast<char>(kept);
        for (size_t m = 0; m < kept; ++m) utf8(marksAt[m]);
      }
      c += wide ? 2 : 1;
    }
    count[0] = static_cast<char>(0x80 | (entries & 0x7F));
    count[1] = static_cast<char>((entries >> 7) & 0x7F);
  }
  return std::string_view(room.data(), static_cast<size_t>(o - room.data()));
}

void UnpackRow(std::string_view packed, int columns, ConsoleRow& row) {
  row.cells.assign(static_cast<size_t>(std::max(0, columns)), Cell{});
  row.marks.clear();
  int at = 0;
  ReadPacked(packed,
             [&](const CellStyle& style, char32_t ch, int width, const std::u32string& marks) {
               if (at + width > columns) return false;
               Cell& cell = row.cells[static_cast<size_t>(at)];
               cell.ch = ch;
               cell.style = style;
               cell.width = static_cast<uint8_t>(width);
               if (!marks.empty()) {
                 cell.marked = true;
                 row.marks.emplace_back(at, marks);
               }
               if (width == 2) {
                 Cell& tail = row.cells[static_cast<size_t>(at + 1)];
                 tail.ch = kWideTail;
                 tail.style = style;
               }
               at += width;
               return true;
             });
}

std::string PackedRowText(std::string_view packed) {
  std::string out;
  size_t kept = 0;
  ReadPacked(packed, [&](const CellStyle&, char32_t ch, int, const std::u32string& marks) {
    if (ch == kWideTail) return true;
    AppendUtf8(out, ch == 0 ? U' ' : ch);
    for (char32_t mark : marks) AppendUtf8(out, mark);
    if (ch != 0 && ch != U' ') kept = out.size();
    return true;
  });
  out.resize(kept);
  return out;
}

}  // namespace quorvel
