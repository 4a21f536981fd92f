// How the session view turns a line's bytes into what it shows, and what the
// user typed into what the history is searched for. Pure functions, any
// thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "history/session_store.h"

namespace quorvel {

enum class SessionEncoding : uint8_t { kLatin1 = 0, kUtf8 = 1 };

struct DecodeOptions {
  SessionEncoding encoding = SessionEncoding::kLatin1;
  bool controlSymbols = false;  // C0 controls and DEL as U+2400..U+2421
  bool hideAnsi = false;        // ESC sequences (CSI, OSC, two-byte) not shown
  bool dropLineEnd = true;      // the line's final CR, LF or CR LF not shown
};

// A line's text as shown, with where each character came from: byteOf[i] is
// the offset in the line of the first byte of text[i], and byteOf has one
// more entry (the end), so text[i] stands for bytes [byteOf[i], byteOf[i+1]).
// Bytes hidden (ANSI, the line end) belong to no character.
struct DecodedLine {
  std::u32string text;
  std::vector<uint32_t> byteOf;
};

// UTF-8: each invalid sequence (its longest invalid part, as the Unicode
// standard's "maximal subpart") shows as U+FFFD; the bytes stay in the store.
// Latin-1: each byte is its own character. Never fails.
DecodedLine DecodeLine(std::span<const uint8_t> bytes, const DecodeOptions& options);

// The characters as UTF-8, for the clipboard.
std::string ToUtf8(std::u32string_view text);

// Bytes as "41 42 0D 0A": upper-case pairs, one space between them.
std::string BytesAsHex(std::span<const uint8_t> bytes);

// A frame in rows of hex pairs for a line `widthChars` wide whose first row
// starts after a prefix (the stamp and the mark) `indentChars` wide: each row
// holds as many pairs as fit after the indent (at least one), and the rows
// after the first start with `indentChars` spaces so they line up under it.
// The first row has no indent of its own: the view draws the prefix there.
struct HexRows {
  size_t bytesPerRow = 1;
  std::vector<std::string> rows;
};
HexRows WrapHex(std::span<const uint8_t> bytes, int widthChars, int indentChars);

// The stamp a line starts with, as the user chose it.
enum class StampStyle : uint8_t {
  kNone = 0,
  kTimeOfDay,     // "14:15:28.123", local time
  kSinceOpen,     // "12.345": seconds since the link opened
  kSincePrevious  // "+3.250": milliseconds since the previous line
};
std::string StampText(StampStyle style, const SessionLine& line);

// What the user typed, as the bytes to find. Text: its UTF-8 as the display
// encodes it (Latin-1: nothing when a character has no Latin-1 byte). Hex:
// pairs of hex digits, spaces between pairs optional ("0d0a", "0D 0A");
// nothing when a character is no digit or a pair is incomplete. Nothing for
// an empty or too long pattern.
std::optional<std::vector<uint8_t>> FindPattern(std::string_view typed, SessionDisplay display,
                                                SessionEncoding encoding);

}  // namespace quorvel
