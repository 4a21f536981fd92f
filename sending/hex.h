// Hex digits to byte values, as the send box and the frame-end box use them.
#pragma once

#include <cstdint>
#include <string_view>

namespace quorvel {

// The value of `length` characters read as hex digits, most significant
// first. Never fails and never validates: a character that is no digit adds
// what the digit arithmetic makes of it ('g' 16, ' ' -16), computed on signed
// 8-bit characters, so 0x80 adds 80 and 0xFF adds -49. Callers keep the low
// 8 bits. Overflow wraps.
int32_t HexValue(const char* text, int length);

// Writes one byte per run of hex digits in `text` (up to its end or its first
// zero byte), the low 8 bits of that run's HexValue; every other character
// separates runs. `out` must hold text.size() bytes. Returns the count written.
int ParseHexText(uint8_t* out, std::string_view text);

// The frame-end byte for a frame-end text.
inline uint8_t FrameEndByteOf(std::string_view text) {
  return static_cast<uint8_t>(HexValue(text.data(), static_cast<int>(text.size())));
}

}  // namespace quorvel
