#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "console/console_cells.h"
#include "console/flood_screen.h"

namespace quorvel {

// What the flood path asks libvterm about pens, remembered: a flood of
// `ls --color` output changes pen a few times a line among a handful of
// sequences. Direct-mapped; a miss costs one small write to the scratch
// terminal.
class SgrCache {
 public:
  struct Entry {
    bool used = false;
    uint8_t length = 0;
    CellStyle before;
    CellStyle after;
    std::array<char, FloodScreen::kMaxSequence> params;

    bool Holds(const CellStyle& style, std::string_view sequence) const {
      return used && length == sequence.size() && before == style &&
             std::memcmp(params.data(), sequence.data(), length) == 0;
    }
    void Keep(const CellStyle& style, std::string_view sequence, const CellStyle& pen) {
      used = true;
      length = static_cast<uint8_t>(sequence.size());
      before = style;
      after = pen;
      std::memcpy(params.data(), sequence.data(), length);
    }
  };
  // A flood asks this for every SGR it meets: the pen and the parameters
  // are hashed a word at a time.
  Entry* Slot(const CellStyle& before, std::string_view params) {
    if (params.size() > FloodScreen::kMaxSequence) return nullptr;
    uint64_t word = 0;
    std::memcpy(&word, &before, 8);
    uint16_t tail = 0;
    std::memcpy(&tail, reinterpret_cast<const char*>(&before) + 8, 2);
    uint64_t hash = (word ^ (uint64_t{tail} << 48) ^ params.size()) * 0x9E3779B97F4A7C15ull;
    for (size_t at = 0; at < params.size(); at += 8) {
      uint64_t chunk = 0;
      std::memcpy(&chunk, params.data() + at, std::min<size_t>(8, params.size() - at));
      hash = (hash ^ chunk) * 0xC2B2AE3D27D4EB4Full;
    }
    return &entries_[(hash >> 40) % entries_.size()];
  }

 private:
  std::array<Entry, 512> entries_;
};

}  // namespace quorvel
