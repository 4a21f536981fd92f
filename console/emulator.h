// The console's terminal emulator: libvterm's screen fed with the device's
// output, read back as cells (console_cells.h), with the rows that scroll
// off kept in a scrollback of our own (scrollback.h), the damage since the
// last look as a flag per row, and the modes that keys and pastes follow
// (application cursor and keypad, bracketed paste) asked of libvterm itself.
//
// What it is fed goes through escape_filter.h first (libvterm 0.1.4 must be
// kept from a few sequences), and a flood of plain lines goes through
// flood_screen.h, which is many times faster than libvterm and leaves the
// same screen and scrollback.
//
// Answers the emulator owes the device (a cursor position report, the
// device attributes) collect for TakeReplies(). Not thread-safe: one thread
// at a time (console.h locks around it). A resize, a feed or a key never
// fails; bytes that make no sense are shown or dropped as libvterm does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_cells.h"
#include "console/console_keys.h"
#include "console/escape_filter.h"
#include "console/scrollback.h"

struct VTerm;
struct VTermScreen;
struct VTermState;

namespace quorvel {

class FloodScreen;
class SgrCache;

enum class CursorShape : uint8_t { kBlock, kUnderline, kBar };

struct ConsoleCursor {
  int row = 0;
  int column = 0;
  bool visible = true;
  bool blink = true;
  CursorShape shape = CursorShape::kBlock;
  bool operator==(const ConsoleCursor&) const = default;
};

class Emulator {
 public:
  static constexpr int kMinSize = 1;
  static constexpr int kMaxRows = 1000;
  static constexpr int kMaxColumns = 2000;
  // Plain lines at hand that start a flood (or two screens, when fewer).
  static constexpr int kFloodLines = 32;

  // Sizes are clamped to [1, kMaxRows] x [1, kMaxColumns].
  Emulator(int rows, int columns, size_t scrollbackRows);
  ~Emulator();
  Emulator(const Emulator&) = delete;
  Emulator& operator=(const Emulator&) = delete;

  // UTF-8 from the device (the console turned Latin-1 into it).
  void Feed(std::string_view bytes);
  // Feeds a slice of `bytes`: about `budget` bytes' worth of libvterm's work
  // (a flood's bytes cost a sixteenth), and returns how many it took, at
  // least one. What follows is fed by the next call.
  size_t FeedSome(std::string_view bytes, size_t budget);
  std::string TakeReplies();

  int Rows() const { return rows_; }
  int Columns() const { return columns_; }
  // Rows that no longer fit go to the scrollback; rows gained come back
  // from it. Clamped as the constructor's.
  void Resize(int rows, int columns);

  // Screen row `row` (0 at the top) as it shows.
  void ReadRow(int row, ConsoleRow& out) const;
  std::string ScreenText() const;  // every row's RowText, joined with LF
  ConsoleCursor Cursor() const;
  bool AltScreen() const { return altScreen_; }
  bool ReverseVideo() const { return reverse_; }
  const std::string& Title() const { return title_; }
  uint64_t Bells() const { return bells_; }

  // Whether anything changed since the last call (rows, cursor, modes,
  // size, scrollback); `rows` gets a flag per screen row that changed.
  bool TakeDamage(std::vector<uint8_t>& rows);

  Scrollback& History() { return scrollback_; }
  const Scrollback& History() const { return scrollback_; }

  // A key as libvterm encodes it in the current modes (application cursor
  // and keypad keys, modifiers as xterm sends them).
  std::string KeyBytes(ConsoleKey key, int modifiers);
  std::string CharBytes(char32_t c, int modifiers);
  // The device asked for bracketed paste (DECSET 2004), and the markers.
  bool BracketedPaste();
  std::string PasteMarker(bool start);

  // For the tests and the benchmark: the flood path on or off, and whether
  // one runs.
  void SetFloodPath(bool enabled) { floodEnabled_ = enabled; }
  bool Flooding() const { return flood_ != nullptr; }
  uint64_t FloodsStarted() const { return floods_; }

 private:
  friend struct EmulatorCallbacks;

  void Write(std::string_view bytes);
  std::string Output(size_t from);
  bool CanFlood() const;
  static bool Repaintable(const std::vector<ConsoleRow>& rows);
  bool StartFlood();
  void EndFlood();
  CellStyle Pen() const;
  void ReadVtermRow(int row, ConsoleRow& out) const;
  bool EvaluateSgr(const CellStyle& before, std::string_view params, CellStyle& after);

  VTerm* vt_ = nullptr;
  VTermScreen* screen_ = nullptr;
  VTermState* state_ = nullptr;
  VTerm* sgrVt_ = nullptr;  // a scratch terminal that works out pens
  int rows_;
  int columns_;
  Scrollback scrollback_;
  EscapeFilter filter_;
  std::string filtered_;
  std::string output_;
  std::vector<uint8_t> damage_;
  bool changed_ = true;
  bool altScreen_ = false;
  bool reverse_ = false;
  bool cursorVisible_ = true;
  bool cursorBlink_ = true;
  CursorShape cursorShape_ = CursorShape::kBlock;
  std::string title_;
  uint64_t bells_ = 0;
  bool floodEnabled_ = true;
  uint64_t floods_ = 0;
  std::unique_ptr<FloodScreen> flood_;
  std::unique_ptr<SgrCache> sgrCache_;
};

}  // namespace quorvel
