#include "transfer/zmodem_autostart.h"

#include <cstring>

namespace quorvel {
namespace {

constexpr uint8_t kPattern[] = {'*', '*', 0x18, 'B', '0', '0'};
constexpr size_t kLength = sizeof kPattern;

// How much of the pattern is matched after `matched` of it and then `byte`.
// The pattern's only overlap with itself is "*" in "**": a third '*' leaves
// two matched.
size_t Step(size_t matched, uint8_t byte) {
  if (byte == kPattern[matched]) return matched + 1;
  if (byte == '*') return matched == 2 ? 2 : 1;
  return 0;
}

}  // namespace

std::optional<size_t> ZmodemStartDetector::Feed(std::span<const uint8_t> bytes) {
  size_t at = 0;
  while (at < bytes.size()) {
    if (matched_ == 0) {
      // The common case: no '*' at all, found at memchr's speed.
      const void* star = std::memchr(bytes.data() + at, '*', bytes.size() - at);
      if (star == nullptr) return std::nullopt;
      at = static_cast<size_t>(static_cast<const uint8_t*>(star) - bytes.data());
    }
    matched_ = Step(matched_, bytes[at++]);
    if (matched_ == kLength) {
      matched_ = 0;
      return at;
    }
  }
  return std::nullopt;
}

}  // namespace quorvel
