#include "sim/line_editor.h"

#include <algorithm>

namespace quorvel {
namespace {

constexpr uint8_t kCtrlA = 0x01;
constexpr uint8_t kCtrlC = 0x03;
constexpr uint8_t kCtrlE = 0x05;
constexpr uint8_t kBell = 0x07;
constexpr uint8_t kBackspace = 0x08;
constexpr uint8_t kTab = 0x09;
constexpr uint8_t kCtrlU = 0x15;
constexpr uint8_t kEscape = 0x1b;
constexpr uint8_t kDelete = 0x7f;
// Longer parameters than any key sends: the sequence is dropped.
constexpr size_t kLongestParameters = 8;

std::string CursorLeft(size_t columns) {
  if (columns == 0) return {};
  return "\x1b[" + std::to_string(columns) + "D";
}

}  // namespace

LineEditor::Event LineEditor::Key(uint8_t byte, std::string& out) {
  bool lfOfCrLf = byte == '\n' && afterCr_;
  afterCr_ = byte == '\r';
  if (lfOfCrLf) return Event::kNone;
  if (escape_ != Escape::kNone && EscapeKey(byte, out)) return Event::kNone;
  return PlainKey(byte, out);
}

LineEditor::Event LineEditor::PlainKey(uint8_t byte, std::string& out) {
  switch (byte) {
    case '\r':
    case '\n':
      return Event::kEnter;
    case kCtrlC:
      return Event::kInterrupt;
    case kTab:
      return Event::kComplete;
    case kEscape:
      escape_ = Escape::kEsc;
      return Event::kNone;
    case kDelete:
    case kBackspace:
      EraseBack(out);
      return Event::kNone;
    case kCtrlU:
      SetLine({}, out);
      return Event::kNone;
    case kCtrlA:
      Move(0, out);
      return Event::kNone;
    case kCtrlE:
      Move(line_.size(), out);
      return Event::kNone;
    default:
      if (byte >= 0x20 && byte < 0x7f) Insert(static_cast<char>(byte), out);
      return Event::kNone;
  }
}

bool LineEditor::EscapeKey(uint8_t byte, std::string& out) {
  // A control byte ends what was begun and is a key of its own: Escape
  // pressed alone, then Enter, is still an Enter.
  if (byte < 0x20) {
    escape_ = Escape::kNone;
    return false;
  }
  if (escape_ == Escape::kEsc) {
    escape_ = byte == '[' ? Escape::kCsi : byte == 'O' ? Escape::kSs3 : Escape::kNone;
    parameters_.clear();
    return true;
  }
  // A CSI's parameters and intermediates, then its final byte (0x40-0x7e).
  if (escape_ == Escape::kCsi && byte < 0x40) {
    parameters_ += static_cast<char>(byte);
    if (parameters_.size() > kLongestParameters) escape_ = Escape::kNone;
    return true;
  }
  escape_ = Escape::kNone;
  if (byte < 0x7f) SequenceDone(static_cast<char>(byte), out);
  return true;
}

void LineEditor::SequenceDone(char final, std::string& out) {
  // Modifiers ("1;5") move as the plain key does.
  std::string_view number = std::string_view(parameters_).substr(0, parameters_.find(';'));
  if (final == '~')
    final = number == "1" || number == "7"   ? 'H'
            : number == "4" || number == "8" ? 'F'
            : number == "3"                  ? 'X'
                                             : '\0';
  switch (final) {
    case 'A':
      return WalkHistory(-1, out);
    case 'B':
      return WalkHistory(1, out);
    case 'C':
      return Move(std::min(cursor_ + 1, line_.size()), out);
    case 'D':
      return Move(cursor_ == 0 ? 0 : cursor_ - 1, out);
    case 'H':
      return Move(0, out);
    case 'F':
      return Move(line_.size(), out);
    case 'X':
      return EraseHere(out);
    default:
      return;  // a key the line has no use for (F1, Page Up...)
  }
}

void LineEditor::Insert(char c, std::string& out) {
  if (line_.size() >= kLongestLine) {
    out += static_cast<char>(kBell);
    return;
  }
  line_.insert(cursor_, 1, c);
  ++cursor_;
  if (cursor_ == line_.size()) {
    out += c;
  } else {
    // The rest of the line moves right by one: print it, and come back.
    out += line_.substr(cursor_ - 1) + CursorLeft(line_.size() - cursor_);
  }
}

void LineEditor::EraseBack(std::string& out) {
  if (cursor_ == 0) return;
  --cursor_;
  out += '\b';
  EraseHere(out);
}

void LineEditor::EraseHere(std::string& out) {
  if (cursor_ == line_.size()) return;
  line_.erase(cursor_, 1);
  out += line_.substr(cursor_) + "\x1b[K" + CursorLeft(line_.size() - cursor_);
}

void LineEditor::Move(size_t to, std::string& out) {
  if (to < cursor_) out += CursorLeft(cursor_ - to);
  if (to > cursor_) out += "\x1b[" + std::to_string(to - cursor_) + "C";
  cursor_ = to;
}

void LineEditor::WalkHistory(int step, std::string& out) {
  if (step < 0 && historyAt_ == 0) return;
  if (step > 0 && historyAt_ == history_.size()) return;
  if (historyAt_ == history_.size()) draft_ = line_;
  historyAt_ = step < 0 ? historyAt_ - 1 : historyAt_ + 1;
  SetLine(historyAt_ == history_.size() ? draft_ : history_[historyAt_], out);
}

void LineEditor::SetLine(std::string_view line, std::string& out) {
  line_ = line.substr(0, kLongestLine);
  cursor_ = line_.size();
  out += Redraw();
}

std::string LineEditor::Redraw() const {
  return "\r" + prompt_ + line_ + "\x1b[K" + CursorLeft(line_.size() - cursor_);
}

std::string LineEditor::TakeLine() {
  std::string line = std::exchange(line_, {});
  cursor_ = 0;
  if (!line.empty() && (history_.empty() || history_.back() != line)) {
    history_.push_back(line);
    if (history_.size() > kHistoryLines) history_.erase(history_.begin());
  }
  historyAt_ = history_.size();
  draft_.clear();
  return line;
}

void LineEditor::DropLine() {
  line_.clear();
  cursor_ = 0;
  historyAt_ = history_.size();
  draft_.clear();
}

}  // namespace quorvel
