// The console's flood path: a screen of its own that takes plain lines
// (printable ASCII, CR, LF, SGR and EL, what `ls --color`, a compiler or a
// log prints) far faster than libvterm does. libvterm 0.1.4 moves its whole
// screen for every line that scrolls (a 200 x 60 screen: 430 KB a line), so
// a flood of short lines reaches about 5 MB/s through it; this screen keeps
// its rows in a ring and packs each row that scrolls off straight into the
// scrollback.
//
// The emulator (emulator.h) starts a flood only at a line start, on the
// primary screen, with no mode in force that this screen does not model
// (escape_filter.h), and only when the bytes at hand hold enough plain
// lines (PlainLinesAhead) to pay for taking the screen over. While a flood
// runs this screen is the console's screen; when a byte comes that it does
// not take, Repaint() gives libvterm the bytes that make its screen, cursor
// and pen the same again, and libvterm goes on from there.
//
// A pen change is worked out by libvterm itself (the SgrEvaluator), so the
// colours and attributes of every cell are exactly what libvterm would have
// made. One thread at a time: the emulator's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_cells.h"
#include "console/scrollback.h"

namespace quorvel {

// The pen after the SGR parameters `params` (the bytes between CSI and m),
// from the pen `before`; false when it cannot be told.
using SgrEvaluator =
    std::function<bool(const CellStyle& before, std::string_view params, CellStyle& after)>;

// An SGR sequence that sets exactly `style`, from any pen.
std::string SgrFor(const CellStyle& style);

class FloodScreen {
 public:
  static constexpr int kMaxSequence = 64;  // bytes of a sequence it takes

  // How many lines (LFs) a flood starting at `bytes` would take, from the
  // start of a line with `pen`, on a screen `columns` wide, counting up to
  // `enough`; `*end` is where it stopped looking.
  static int PlainLinesAhead(const char* bytes, size_t count, int columns, CellStyle pen,
                             const SgrEvaluator& sgr, int enough, size_t* end);

  // Takes over `rows` (the screen as libvterm has it, at least 2 x 2) with
  // the cursor at the start of `cursorRow`.
  FloodScreen(std::vector<ConsoleRow> rows, int cursorRow, const CellStyle& pen,
              Scrollback& scrollback, SgrEvaluator sgr);

  // Takes bytes while they are plain; returns how many. Stopped() once a
  // byte came that it does not take: that byte and those after it are not
  // taken, and Held() are bytes taken that libvterm must still be given
  // (the start of a sequence that turned out not to be plain).
  size_t Take(const char* bytes, size_t count);
  bool Stopped() const { return stopped_; }
  const std::string& Held() const { return held_; }

  int Rows() const { return static_cast<int>(rows_.size()); }
  int Columns() const { return columns_; }
  const ConsoleRow& Row(int row) const;
  int CursorRow() const { return cursorRow_; }
  int CursorColumn() const { return column_; }
  const CellStyle& Pen() const { return pen_; }
  // The flood's text ended with CR LF; the last printable character it
  // took since its last control (0 for none).
  bool LineStart() const { return lineStart_; }
  char LastGraphic() const { return lastGraphic_; }

  // Sets the rows changed since the last call in `rows` (one flag a row).
  void TakeDamage(std::vector<uint8_t>& rows);

  // The bytes that make libvterm's screen, cursor and pen this screen's:
  // each row addressed and written run by run (erased runs by ECH), the
  // cell before the cursor written last so a pending wrap and a combining
  // mark that follows land as they would have.
  std::string Repaint() const;

 private:
  ConsoleRow& At(int row) { return rows_[static_cast<size_t>((top_ + row) % Rows())]; }
  void LineFeed();
  // Printable ASCII, wrapping at the last column as libvterm does.
  void PutText(const char* text, size_t count);
  static size_t WholeSequence(const char* bytes, size_t count);
  bool Sequence(std::string_view params, char final);
  void Stop() { stopped_ = true; }

  std::vector<ConsoleRow> rows_;
  int top_ = 0;  // the ring's slot of screen row 0
  int columns_;
  int cursorRow_;
  int column_ = 0;
  bool phantom_ = false;  // a pending wrap: the last column was just written
  CellStyle pen_;
  Scrollback& scrollback_;
  SgrEvaluator sgr_;
  std::vector<uint8_t> damage_;
  bool allDamaged_ = false;
  std::string held_;  // the sequence being gathered, ESC first
  bool stopped_ = false;
  bool lineStart_ = true;
  bool afterCr_ = false;
  char lastGraphic_ = 0;
};

}  // namespace quorvel
