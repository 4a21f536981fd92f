#include "console/emulator.h"

#include <vterm.h>

#include <algorithm>

#include "console/flood_screen.h"
#include "console/sgr_cache.h"

namespace quorvel {
namespace {

constexpr size_t kMaxTitle = 256;

int ClampRows(int rows) {
  return std::clamp(rows, Emulator::kMinSize, Emulator::kMaxRows);
}
int ClampColumns(int columns) {
  return std::clamp(columns, Emulator::kMinSize, Emulator::kMaxColumns);
}

CellColour ColourOf(const VTermColor& colour) {
  if (VTERM_COLOR_IS_DEFAULT_FG(&colour) || VTERM_COLOR_IS_DEFAULT_BG(&colour)) return {};
  if (VTERM_COLOR_IS_INDEXED(&colour)) return CellColour::Indexed(colour.indexed.idx);
  return CellColour::Rgb(colour.rgb.red, colour.rgb.green, colour.rgb.blue);
}

uint16_t AttrsOf(bool bold, int underline, bool italic, bool blink, bool reverse, bool strike,
                 int font) {
  uint16_t attrs = 0;
  if (bold) attrs |= kCellBold;
  if (italic) attrs |= kCellItalic;
  if (blink) attrs |= kCellBlink;
  if (reverse) attrs |= kCellReverse;
  if (strike) attrs |= kCellStrike;
  attrs |= static_cast<uint16_t>((underline & 3) << kCellUnderlineShift);
  attrs |= static_cast<uint16_t>((font & 15) << kCellFontShift);
  return attrs;
}

void CellOf(const VTermScreenCell& in, int column, ConsoleRow& row) {
  Cell& cell = row.cells[static_cast<size_t>(column)];
  cell.ch = in.chars[0];
  cell.width = static_cast<uint8_t>(std::clamp<int>(in.width, 1, 2));
  cell.style.fg = ColourOf(in.fg);
  cell.style.bg = ColourOf(in.bg);
  cell.style.attrs = AttrsOf(in.attrs.bold, in.attrs.underline, in.attrs.italic, in.attrs.blink,
                             in.attrs.reverse, in.attrs.strike, in.attrs.font);
  cell.marked = in.chars[0] != 0 && in.chars[0] != kWideTail && in.chars[1] != 0;
  if (cell.marked) {
    std::u32string marks;
    for (int i = 1; i < VTERM_MAX_CHARS_PER_CELL && in.chars[i] != 0; ++i) marks += in.chars[i];
    row.marks.emplace_back(column, std::move(marks));
  }
}

CellStyle PenOf(const VTermState* state) {
  VTermValue v[VTERM_N_ATTRS];
  for (int a = VTERM_ATTR_BOLD; a < VTERM_N_ATTRS; ++a) {
    vterm_state_get_penattr(state, static_cast<VTermAttr>(a), &v[a]);
  }
  CellStyle pen;
  pen.fg = ColourOf(v[VTERM_ATTR_FOREGROUND].color);
  pen.bg = ColourOf(v[VTERM_ATTR_BACKGROUND].color);
  pen.attrs = AttrsOf(v[VTERM_ATTR_BOLD].boolean, v[VTERM_ATTR_UNDERLINE].number,
                      v[VTERM_ATTR_ITALIC].boolean, v[VTERM_ATTR_BLINK].boolean,
                      v[VTERM_ATTR_REVERSE].boolean, v[VTERM_ATTR_STRIKE].boolean,
                      v[VTERM_ATTR_FONT].number);
  return pen;
}

VTermKey VtermKeyOf(ConsoleKey key) {
  switch (key) {
    case ConsoleKey::kEnter:
      return VTERM_KEY_ENTER;
    case ConsoleKey::kTab:
      return VTERM_KEY_TAB;
    case ConsoleKey::kBackspace:
      return VTERM_KEY_BACKSPACE;
    case ConsoleKey::kEscape:
      return VTERM_KEY_ESCAPE;
    case ConsoleKey::kUp:
      return VTERM_KEY_UP;
    case ConsoleKey::kDown:
      return VTERM_KEY_DOWN;
    case ConsoleKey::kLeft:
      return VTERM_KEY_LEFT;
    case ConsoleKey::kRight:
      return VTERM_KEY_RIGHT;
    case ConsoleKey::kInsert:
      return VTERM_KEY_INS;
    case ConsoleKey::kDelete:
      return VTERM_KEY_DEL;
    case ConsoleKey::kHome:
      return VTERM_KEY_HOME;
    case ConsoleKey::kEnd:
      return VTERM_KEY_END;
    case ConsoleKey::kPageUp:
      return VTERM_KEY_PAGEUP;
    case ConsoleKey::kPageDown:
      return VTERM_KEY_PAGEDOWN;
    case ConsoleKey::kKeypadPlus:
      return VTERM_KEY_KP_PLUS;
    case ConsoleKey::kKeypadMinus:
      return VTERM_KEY_KP_MINUS;
    case ConsoleKey::kKeypadMultiply:
      return VTERM_KEY_KP_MULT;
    case ConsoleKey::kKeypadDivide:
      return VTERM_KEY_KP_DIVIDE;
    case ConsoleKey::kKeypadPeriod:
      return VTERM_KEY_KP_PERIOD;
    case ConsoleKey::kKeypadComma:
      return VTERM_KEY_KP_COMMA;
    case ConsoleKey::kKeypadEnter:
      return VTERM_KEY_KP_ENTER;
    case ConsoleKey::kKeypadEqual:
      return VTERM_KEY_KP_EQUAL;
    default:
      break;
  }
  auto n = static_cast<int>(key);
  if (n >= static_cast<int>(ConsoleKey::kF1) && n <= static_cast<int>(ConsoleKey::kF12)) {
    return static_cast<VTermKey>(VTERM_KEY_FUNCTION(n - static_cast<int>(ConsoleKey::kF1) + 1));
  }
  if (n >= static_cast<int>(ConsoleKey::kKeypad0) && n <= static_cast<int>(ConsoleKey::kKeypad9)) {
    return static_cast<VTermKey>(VTERM_KEY_KP_0 + n - static_cast<int>(ConsoleKey::kKeypad0));
  }
  return VTERM_KEY_NONE;
}

}  // namespace

struct EmulatorCallbacks {
  static int Damage(VTermRect rect, void* user) {
    auto* self = static_cast<Emulator*>(user);
    for (int r = std::max(0, rect.start_row); r < rect.end_row && r < self->rows_; ++r) {
      self->damage_[static_cast<size_t>(r)] = 1;
    }
    self->changed_ = true;
    return 1;
  }
  static int MoveCursor(VTermPos, VTermPos, int, void* user) {
    static_cast<Emulator*>(user)->changed_ = true;
    return 1;
  }
  static int SetTermProp(VTermProp prop, VTermValue* value, void* user) {
    auto* self = static_cast<Emulator*>(user);
    self->changed_ = true;
    switch (prop) {
      case VTERM_PROP_CURSORVISIBLE:
        self->cursorVisible_ = value->boolean != 0;
        break;
      case VTERM_PROP_CURSORBLINK:
        self->cursorBlink_ = value->boolean != 0;
        break;
      case VTERM_PROP_CURSORSHAPE:
        self->cursorShape_ =
            value->number == VTERM_PROP_CURSORSHAPE_UNDERLINE  ? CursorShape::kUnderline
            : value->number == VTERM_PROP_CURSORSHAPE_BAR_LEFT ? CursorShape::kBar
                                                               : CursorShape::kBlock;
        break;
      case VTERM_PROP_ALTSCREEN:
        self->altScreen_ = value->boolean != 0;
        break;
      case VTERM_PROP_REVERSE:
        self->reverse_ = value->boolean != 0;
        break;
      case VTERM_PROP_TITLE: {
        // The device's words: kept short, without control characters.
        self->title_.clear();
        for (const char* c = value->string; c && *c && self->title_.size() < kMaxTitle; ++c) {
          if (static_cast<unsigned char>(*c) >= 0x20 && *c != 0x7F) self->title_.push_back(*c);
        }
        break;
      }
      default:
        break;
    }
    return 1;
  }
  static int Bell(void* user) {
    auto* self = static_cast<Emulator*>(user);
    ++self->bells_;
    self->changed_ = true;
    return 1;
  }
  static int PushLine(int cols, const VTermScreenCell* cells, void* user) {
    auto* self = static_cast<Emulator*>(user);
    ConsoleRow row;
    row.cells.resize(static_cast<size_t>(std::max(0, cols)));
    for (int c = 0; c < cols; ++c) CellOf(cells[c], c, row);
    self->scrollback_.Push(row);
    self->changed_ = true;
    return 1;
  }
  static int PopLine(int cols, VTermScreenCell* cells, void* user) {
    auto* self = static_cast<Emulator*>(user);
    std::string packed;
    if (!self->scrollback_.PopNewest(packed)) return 0;
    ConsoleRow row;
    UnpackRow(packed, cols, row);
    VTermColor defaultFg, defaultBg;
    vterm_state_get_default_colors(self->state_, &defaultFg, &defaultBg);
    auto colour = [](const CellColour& in, const VTermColor& fallback) {
      VTermColor out = fallback;
      if (in.kind == CellColour::kIndexed) vterm_color_indexed(&out, in.index);
      if (in.kind == CellColour::kRgb) vterm_color_rgb(&out, in.index, in.green, in.blue);
      return out;
    };
    for (int c = 0; c < cols; ++c) {
      const Cell& cell = row.cells[static_cast<size_t>(c)];
      VTermScreenCell& out = cells[c];
      std::memset(&out, 0, sizeof out);
      out.chars[0] = cell.ch;
      std::u32string_view marks = cell.marked ? row.MarksAt(c) : U"";
      for (size_t m = 0; m < marks.size() && m + 1 < VTERM_MAX_CHARS_PER_CELL; ++m) {
        out.chars[m + 1] = marks[m];
      }
      out.width = static_cast<char>(cell.width);
      uint16_t a = cell.style.attrs;
      out.attrs.bold = (a & kCellBold) != 0;
      out.attrs.italic = (a & kCellItalic) != 0;
      out.attrs.blink = (a & kCellBlink) != 0;
      out.attrs.reverse = (a & kCellReverse) != 0;
      out.attrs.strike = (a & kCellStrike) != 0;
      out.attrs.underline = static_cast<unsigned>(cell.style.Underline());
      out.attrs.font = static_cast<unsigned>((a & kCellFontMask) >> kCellFontShift);
      out.fg = colour(cell.style.fg, defaultFg);
      out.bg = colour(cell.style.bg, defaultBg);
    }
    self->changed_ = true;
    return 1;
  }
  static void Output(const char* bytes, size_t count, void* user) {
    static_cast<Emulator*>(user)->output_.append(bytes, count);
  }
};

namespace {

const VTermScreenCallbacks kScreenCallbacks = {
    EmulatorCallbacks::Damage,     nullptr,
    EmulatorCallbacks::MoveCursor, EmulatorCallbacks::SetTermProp,
    EmulatorCallbacks::Bell,       nullptr,
    EmulatorCallbacks::PushLine,   EmulatorCallbacks::PopLine,
};

}  // namespace

Emulator::Emulator(int rows, int columns, size_t scrollbackRows)
    : rows_(ClampRows(rows)),
      columns_(ClampColumns(columns)),
      scrollback_(scrollbackRows),
      damage_(static_cast<size_t>(rows_), 1),
      sgrCache_(std::make_unique<SgrCache>()) {
  vt_ = vterm_new(rows_, columns_);
  vterm_set_utf8(vt_, 1);
  vterm_output_set_callback(vt_, EmulatorCallbacks::Output, this);
  screen_ = vterm_obtain_screen(vt_);
  state_ = vterm_obtain_state(vt_);
  vterm_screen_set_callbacks(screen_, &kScreenCallbacks, this);
  vterm_screen_set_damage_merge(screen_, VTERM_DAMAGE_SCROLL);
  vterm_screen_enable_altscreen(screen_, 1);
  vterm_screen_reset(screen_, 1);

  sgrVt_ = vterm_new(1, 2);
  vterm_set_utf8(sgrVt_, 1);
  vterm_state_reset(vterm_obtain_state(sgrVt_), 1);
}

Emulator::~Emulator() {
  vterm_free(sgrVt_);
  vterm_free(vt_);
}

void Emulator::Write(std::string_view bytes) {
  if (!bytes.empty()) vterm_input_write(vt_, bytes.data(), bytes.size());
}

void Emulator::Feed(std::string_view bytes) {
  for (size_t at = 0; at < bytes.size();) at += FeedSome(bytes.substr(at), bytes.size());
}

size_t Emulator::FeedSome(std::string_view bytes, size_t budget) {
  budget = std::max<size_t>(budget, 1);
  const char* data = bytes.data();
  size_t count = bytes.size();
  size_t at = 0;
  size_t spent = 0;  // bytes through libvterm, or a sixteenth of those through a flood
  // Where the last look ahead found the plain lines end: no flood can start
  // before it, since one would end there too, shorter.
  size_t plainEnd = 0;
  while (at < count && spent < budget) {
    size_t room = budget - spent;
    if (flood_) {
      size_t allowed = std::min(count - at, room > SIZE_MAX / 16 ? SIZE_MAX : room * 16);
      size_t took = flood_->Take(data + at, allowed);
      at += took;
      spent += (took + 15) / 16;
      if (!flood_->Stopped()) continue;
      EndFlood();
      continue;
    }
    if (floodEnabled_ && at >= plainEnd && filter_.AtLineStart() && CanFlood()) {
      // Starting and ending a flood cost a read and a repaint of the screen,
      // about what libvterm spends scrolling a few dozen lines.
      int enough = std::min(kFloodLines, 2 * rows_);
      auto sgr = [this](const CellStyle& before, std::string_view params, CellStyle& after) {
        return EvaluateSgr(before, params, after);
      };
      size_t end = 0;
      int lines =
          FloodScreen::PlainLinesAhead(data + at, count - at, columns_, Pen(), sgr, enough, &end);
      if (lines >= enough && StartFlood()) continue;
      plainEnd = at + end;
    }
    filtered_.clear();
    size_t took = filter_.FilterLine(data + at, std::min(count - at, room), filtered_);
    at += took;
    spent += took;
    Write(filtered_);
  }
  vterm_screen_flush_damage(screen_);
  return at;
}

std::string Emulator::TakeReplies() {
  return std::exchange(output_, {});
}

std::string Emulator::Output(size_t from) {
  std::string produced = output_.substr(std::min(from, output_.size()));
  output_.resize(std::min(from, output_.size()));
  return produced;
}

bool Emulator::CanFlood() const {
  if (altScreen_ || rows_ < 2 || columns_ < 2 || !filter_.Plain(rows_)) return false;
  VTermPos cursor;
  vterm_state_get_cursorpos(state_, &cursor);
  if (cursor.col != 0) return false;
  for (int r = 0; r < rows_; ++r) {
    const VTermLineInfo* info = vterm_state_get_lineinfo(state_, r);
    if (info && (info->doublewidth || info->doubleheight)) return false;
  }
  return true;
}

bool Emulator::Repaintable(const std::vector<ConsoleRow>& rows) {
  // A tail whose head was written over: no write makes one again, so a
  // flood's repaint could not give it back.
  for (const ConsoleRow& row : rows) {
    for (size_t c = 0; c < row.cells.size(); ++c) {
      if (row.cells[c].ch == kWideTail && (c == 0 || row.cells[c - 1].width != 2)) return false;
    }
  }
  return true;
}

CellStyle Emulator::Pen() const {
  return PenOf(state_);
}

bool Emulator::EvaluateSgr(const CellStyle& before, std::string_view params, CellStyle& after) {
  SgrCache::Entry* entry = sgrCache_->Slot(before, params);
  if (entry && entry->Holds(before, params)) {
    after = entry->after;
    return true;
  }
  VTermState* state = vterm_obtain_state(sgrVt_);
  std::string sequence = SgrFor(before);
  vterm_input_write(sgrVt_, sequence.data(), sequence.size());
  // The flood path's pens must be libvterm's exactly: one that does not
  // come back as it was set is not taken.
  if (!(PenOf(state) == before)) return false;
  sequence = "\x1b[";
  sequence.append(params);
  sequence.push_back('m');
  vterm_input_write(sgrVt_, sequence.data(), sequence.size());
  after = PenOf(state);
  if (entry) entry->Keep(before, params, after);
  return true;
}

bool Emulator::StartFlood() {
  std::vector<ConsoleRow> rows(static_cast<size_t>(rows_));
  for (int r = 0; r < rows_; ++r) ReadVtermRow(r, rows[static_cast<size_t>(r)]);
  if (!Repaintable(rows)) return false;
  VTermPos cursor;
  vterm_state_get_cursorpos(state_, &cursor);
  auto sgr = [this](const CellStyle& before, std::string_view params, CellStyle& after) {
    return EvaluateSgr(before, params, after);
  };
  flood_ = std::make_unique<FloodScreen>(std::move(rows), cursor.row, Pen(), scrollback_, sgr);
  ++floods_;
  return true;
}

void Emulator::EndFlood() {
  std::unique_ptr<FloodScreen> flood = std::move(flood_);
  flood->TakeDamage(damage_);
  Write(flood->Repaint());
  filter_.PassedPlain(flood->LineStart(), flood->LastGraphic());
  filtered_.clear();
  filter_.Filter(flood->Held(), filtered_);
  Write(filtered_);
  changed_ = true;
}

void Emulator::Resize(int rows, int columns) {
  rows = ClampRows(rows);
  columns = ClampColumns(columns);
  if (rows == rows_ && columns == columns_) return;
  if (flood_) EndFlood();
  rows_ = rows;
  columns_ = columns;
  damage_.assign(static_cast<size_t>(rows_), 1);
  vterm_set_size(vt_, rows_, columns_);
  // libvterm 0.1.4 keeps a scroll region that no longer fits (and later
  // writes past its rows), and takes as many rows off the top as the screen
  // lost, whatever lies below the cursor, which can leave the cursor above
  // the screen. As xterm does, a resize ends the scroll region and margins;
  // the cursor stays where it was, within the screen.
  VTermPos cursor;
  vterm_state_get_cursorpos(state_, &cursor);
  std::string reset = "\x1b[r";
  if (filter_.MarginsMode()) reset += "\x1b[s";
  reset += "\x1b[" + std::to_string(std::clamp(cursor.row, 0, rows_ - 1) + 1) + ";" +
           std::to_string(std::clamp(cursor.col, 0, columns_ - 1) + 1) + "H";
  filter_.Resized();
  Write(reset);
  vterm_screen_flush_damage(screen_);
  changed_ = true;
}

void Emulator::ReadVtermRow(int row, ConsoleRow& out) const {
  out.cells.assign(static_cast<size_t>(columns_), Cell{});
  out.marks.clear();
  VTermScreenCell cell;
  for (int c = 0; c < columns_; ++c) {
    vterm_screen_get_cell(screen_, VTermPos{row, c}, &cell);
    CellOf(cell, c, out);
  }
}

void Emulator::ReadRow(int row, ConsoleRow& out) const {
  if (row < 0 || row >= rows_) {
    out = {};
    return;
  }
  if (flood_) {
    out = flood_->Row(row);
    return;
  }
  ReadVtermRow(row, out);
}

std::string Emulator::ScreenText() const {
  std::string text;
  ConsoleRow row;
  for (int r = 0; r < rows_; ++r) {
    ReadRow(r, row);
    if (r > 0) text.push_back('\n');
    text += RowText(row);
  }
  return text;
}

ConsoleCursor Emulator::Cursor() const {
  ConsoleCursor cursor;
  if (flood_) {
    cursor.row = flood_->CursorRow();
    cursor.column = flood_->CursorColumn();
  } else {
    VTermPos pos;
    vterm_state_get_cursorpos(state_, &pos);
    cursor.row = pos.row;
    cursor.column = pos.col;
  }
  cursor.visible = cursorVisible_;
  cursor.blink = cursorBlink_;
  cursor.shape = cursorShape_;
  return cursor;
}

bool Emulator::TakeDamage(std::vector<uint8_t>& rows) {
  vterm_screen_flush_damage(screen_);
  if (flood_) flood_->TakeDamage(damage_);
  rows.assign(damage_.begin(), damage_.end());
  std::fill(damage_.begin(), damage_.end(), 0);
  return std::exchange(changed_, false) ||
         std::any_of(rows.begin(), rows.end(), [](uint8_t d) { return d != 0; });
}

std::string Emulator::KeyBytes(ConsoleKey key, int modifiers) {
  VTermKey vkey = VtermKeyOf(key);
  if (vkey == VTERM_KEY_NONE) return {};
  size_t from = output_.size();
  vterm_keyboard_key(vt_, vkey, static_cast<VTermModifier>(modifiers & VTERM_ALL_MODS_MASK));
  return Output(from);
}

std::string Emulator::CharBytes(char32_t c, int modifiers) {
  size_t from = output_.size();
  vterm_keyboard_unichar(vt_, c, static_cast<VTermModifier>(modifiers & VTERM_ALL_MODS_MASK));
  return Output(from);
}

bool Emulator::BracketedPaste() {
  return !PasteMarker(true).empty();
}

std::string Emulator::PasteMarker(bool start) {
  size_t from = output_.size();
  if (start) {
    vterm_keyboard_start_paste(vt_);
  } else {
    vterm_keyboard_end_paste(vt_);
  }
  return Output(from);
}

}  // namespace quorvel
