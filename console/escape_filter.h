// What the console's emulator is given of the device's output: the bytes as
// they came, less what libvterm 0.1.4 cannot survive, and the watch over the
// modes that the flood path (flood_screen.h) needs to know.
//
// libvterm 0.1.4 writes past its argument array on a control sequence of
// more than 16 parameters, and loops for ever on REP (CSI Pn b) before
// anything was printed or after a wide character. A device's garbage (line
// noise at the wrong baud rate) can send either, so the filter cuts a
// sequence's parameters after the 16th and makes REP the repeated character
// itself (at most kMaxRepeat times; nothing when no character went just
// before it).
//
// The watch follows the stream as libvterm 0.1.4 parses it (only OSC and DCS
// are strings; an ESC inside one ends it; SO and SI act inside one too) and
// keeps what the flood path cannot model: autowrap off, insert mode, newline
// mode, a scroll region or left/right margins, a G set other than ASCII
// shifted in, protected cells. Where libvterm leaves a mode as it was
// (DECSTR, DECRC) so does the watch; RIS makes all plain again.
//
// The input is UTF-8 (the console turns Latin-1 into it before). One thread
// at a time: the emulator's.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

class EscapeFilter {
 public:
  static constexpr int kMaxParameters = 16;
  static constexpr int kMaxRepeat = 4096;

  // Filters `bytes` into `out` (appended), stopping just after the first
  // CR LF it passes in the ground state (so a caller can look at each line
  // start), or at the end; returns how many bytes it took.
  size_t FilterLine(const char* bytes, size_t count, std::string& out);
  void Filter(std::string_view bytes, std::string& out);

  // The last bytes passed were CR LF, outside any sequence.
  bool AtLineStart() const { return lineStart_; }
  // No mode is in force that the flood path cannot model, for a screen of
  // `rows` rows.
  bool Plain(int rows) const;

  // The flood path passed plain text on the filter's behalf (printable
  // ASCII, CR, LF, SGR, EL): `lineStart` says whether it ended with CR LF,
  // `lastGraphic` is its last printable character (0 for none since its
  // last control).
  void PassedPlain(bool lineStart, char lastGraphic);

  // The screen was resized and its scroll region and margins ended.
  void Resized() { regionTop_ = regionBottom_ = 0; }
  bool MarginsMode() const { return marginsMode_; }

 private:
  enum class State : uint8_t { kGround, kEscape, kCsi, kString, kStringEscape };

  void Reset();
  void Ground(uint8_t byte, std::string& out);
  void Escape(uint8_t byte, std::string& out);
  void Csi(uint8_t byte, std::string& out);
  void String(uint8_t byte, std::string& out);
  void Control(uint8_t byte);
  void EndEscape(uint8_t final);
  void EndCsi(uint8_t final, std::string& out);
  // Parameter `i` of the sequence gathered, `missing` when it has none.
  int Param(int i, int missing) const;
  void SetModes(bool set);

  State state_ = State::kGround;
  std::string sequence_;  // the escape or control sequence gathered, ESC first
  char leader_ = 0;
  char intermediate_ = 0;
  int intermediates_ = 0;
  int params_ = 0;  // parameters begun
  std::array<int64_t, kMaxParameters> values_{};
  std::array<bool, kMaxParameters> given_{};
  bool cut_ = false;  // parameters past the 16th came: left out

  // The character just passed (for REP), and whether nothing came since.
  std::string lastGraphic_;
  bool graphicLast_ = false;
  bool afterCr_ = false;
  bool lineStart_ = false;

  // The modes watched.
  bool noWrap_ = false;
  bool insert_ = false;
  bool newline_ = false;
  bool marginsMode_ = false;  // DECLRMM
  bool protected_ = false;
  bool singleShift_ = false;
  int regionTop_ = 0, regionBottom_ = 0;  // as set: 0 for missing
  std::array<bool, 4> asciiSet_{true, true, true, true};
  int shifted_ = 0;       // the G set in GL
  bool unknown_ = false;  // a sequence whose effect the watch does not follow
};

}  // namespace quorvel
