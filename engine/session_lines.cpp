#include "engine/session_lines.h"

namespace quorvel {

DecodedLine DecodeLine(std::span<const uint8_t>, const DecodeOptions&) {
  return {{}, {0}};
}
std::string ToUtf8(std::u32string_view) {
  return {};
}
std::string BytesAsHex(std::span<const uint8_t>) {
  return {};
}
HexRows WrapHex(std::span<const uint8_t>, int, int) {
  return {};
}
std::optional<std::vector<uint8_t>> FindPattern(std::string_view, SessionDisplay, SessionEncoding) {
  return std::nullopt;
}

}  // namespace quorvel
