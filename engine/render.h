// The text of the receive box for the whole receive log.
#pragma once

#include <cstdint>
#include <string>

namespace quorvel {

// Hex: every byte as two lowercase digits and a space ("01 ab 00 ").
// Text: every byte but zero, unchanged and in order; zero bytes are left out.
std::string RenderReceiveText(const uint8_t* bytes, int length, bool hex);

// Appends the rendering of `bytes` to `out`; rendering a log piece by piece
// gives the same text as rendering it whole.
void AppendReceiveText(std::string& out, const uint8_t* bytes, int length, bool hex);

}  // namespace quorvel
