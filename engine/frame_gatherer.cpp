#include "engine/frame_gatherer.h"

#include <algorithm>
#include <cstring>

namespace quorvel {

void FrameGatherer::Add(const uint8_t* bytes, int count, uint8_t endByte) {
  if (count <= 0) return;
  if (length_ == kChunkCapacity && !Complete(endByte)) length_ = 0;
  int copied = std::min(count, kChunkCapacity - length_);
  std::memcpy(bytes_ + length_, bytes, static_cast<size_t>(copied));
  length_ += copied;
}

bool FrameGatherer::Complete(uint8_t endByte) const {
  if (length_ == 0) return false;
  return bytes_[length_ - 1] == endByte || (length_ >= 2 && bytes_[length_ - 2] == endByte);
}

}  // namespace quorvel
