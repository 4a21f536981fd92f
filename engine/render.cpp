#include "engine/render.h"

namespace quorvel {

void AppendReceiveText(std::string& out, const uint8_t* bytes, int length, bool hex) {
  if (length <= 0) return;
  if (hex) {
    static constexpr char kDigits[] = "0123456789abcdef";
    size_t at = out.size();
    out.resize(at + 3 * static_cast<size_t>(length));
    for (int i = 0; i < length; ++i) {
      out[at++] = kDigits[bytes[i] >> 4];
      out[at++] = kDigits[bytes[i] & 0x0f];
      out[at++] = ' ';
    }
    return;
  }
  out.reserve(out.size() + static_cast<size_t>(length));
  for (int i = 0; i < length; ++i) {
    if (bytes[i] != 0) out.push_back(static_cast<char>(bytes[i]));
  }
}

std::string RenderReceiveText(const uint8_t* bytes, int length, bool hex) {
  std::string text;
  AppendReceiveText(text, bytes, length, hex);
  return text;
}

}  // namespace quorvel
