#include "sending/hex.h"

namespace quorvel {
namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

}  // namespace

int32_t HexValue(const char* text, int length) {
  uint32_t value = 0;  // unsigned so that long runs wrap instead of overflowing
  for (int i = 0; i < length; ++i) {
    auto c = static_cast<int8_t>(text[i]);
    int8_t digit;
    if (c >= 'a') {
      digit = static_cast<int8_t>(c - 87);
    } else if (c >= 'A') {
      digit = static_cast<int8_t>(c - 55);
    } else {
      digit = static_cast<int8_t>(c - 48);
    }
    value = value * 16 + static_cast<uint32_t>(static_cast<int32_t>(digit));
  }
  return static_cast<int32_t>(value);
}

int ParseHexText(uint8_t* out, std::string_view text) {
  if (auto end = text.find('\0'); end != std::string_view::npos) text = text.substr(0, end);
  int count = 0;
  size_t i = 0;
  while (i < text.size()) {
    if (!IsHexDigit(text[i])) {
      ++i;
      continue;
    }
    size_t run = i;
    while (run < text.size() && IsHexDigit(text[run])) ++run;
    out[count++] = static_cast<uint8_t>(HexValue(text.data() + i, static_cast<int>(run - i)));
    i = run;
  }
  return count;
}

}  // namespace quorvel
