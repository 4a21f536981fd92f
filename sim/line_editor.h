// The demo shell's line editor: keys in, one byte at a time as a terminal
// sends them, the echo that redraws the line out. It knows the keys of a
// console in either cursor mode (ESC [ A and ESC O A for Up), Backspace as
// DEL or BS, Home/End (ESC [ H, ESC [ 1 ~, Ctrl+A; ESC [ F, ESC [ 4 ~,
// Ctrl+E), Delete (ESC [ 3 ~), Ctrl+U to clear the line, and a history of
// the lines entered, walked with Up and Down.
//
// Enter (CR or LF; the LF of a CR LF is one Enter), Ctrl+C and Tab are left
// to the caller as events. The line holds printable ASCII only and stays
// within one 80-column row with its prompt, so that a redraw from CR always
// lands on it; a key that does not fit rings the bell. No line, no thread:
// one caller at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace quorvel {

class LineEditor {
 public:
  static constexpr size_t kLongestLine = 72;
  static constexpr size_t kHistoryLines = 100;

  enum class Event : uint8_t {
    kNone,       // the key edited the line, or was ignored
    kEnter,      // the line is done: TakeLine()
    kInterrupt,  // Ctrl+C
    kComplete,   // Tab
  };

  // `prompt` is what each line starts with on the screen: a short one (at
  // most 8 columns of text, escape sequences aside).
  explicit LineEditor(std::string prompt) : prompt_(std::move(prompt)) {}

  // One byte from the terminal; the echo goes on the end of `out`.
  Event Key(uint8_t byte, std::string& out);

  // The line as entered, now in the history; the editor starts a new one
  // (nothing is drawn: the caller prints the prompt when it is ready).
  std::string TakeLine();
  // Forgets the line being edited (after Ctrl+C), the history stays.
  void DropLine();

  const std::string& Line() const { return line_; }
  size_t CursorAt() const { return cursor_; }
  // Replaces the line with the cursor at its end and redraws it (Tab's
  // completion); cut to kLongestLine.
  void SetLine(std::string_view line, std::string& out);
  // The prompt and the line from the start of a fresh row, the cursor where
  // it was: for a new prompt, or after something printed under the line.
  std::string Redraw() const;

 private:
  enum class Escape : uint8_t { kNone, kEsc, kCsi, kSs3 };

  Event PlainKey(uint8_t byte, std::string& out);
  bool EscapeKey(uint8_t byte, std::string& out);  // false: a key of its own
  void SequenceDone(char final, std::string& out);
  void Insert(char c, std::string& out);
  void EraseBack(std::string& out);
  void EraseHere(std::string& out);
  void Move(size_t to, std::string& out);
  void WalkHistory(int step, std::string& out);

  std::string prompt_;
  std::string line_;
  size_t cursor_ = 0;
  std::vector<std::string> history_;
  size_t historyAt_ = 0;  // == history_.size(): the line being written
  std::string draft_;     // that line, kept while the history is walked
  Escape escape_ = Escape::kNone;
  std::string parameters_;  // of the escape sequence coming in
  bool afterCr_ = false;
};

}  // namespace quorvel
