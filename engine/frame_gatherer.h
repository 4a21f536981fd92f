// The frame that echo and auto-reply answer: the bytes received since the
// last answered frame, at most kChunkCapacity of them. The receive worker
// owns one; it is judged only when the line is quiet.
#pragma once

#include <cstdint>

namespace quorvel {

inline constexpr int kChunkCapacity = 2000;  // bytes of one burst, and of one frame

class FrameGatherer {
 public:
  // Adds bytes just read; what does not fit is not kept. A full frame that
  // can no longer end (no `endByte` among its last two bytes) is dropped
  // first and gathering starts afresh from these bytes: kept, it would take
  // nothing more and silence echo and auto-reply for good.
  void Add(const uint8_t* bytes, int count, uint8_t endByte);

  // A frame is complete when its last byte, or the one before it (a checksum
  // may follow the end), is `endByte`. An empty frame never is.
  bool Complete(uint8_t endByte) const;

  const uint8_t* Bytes() const { return bytes_; }
  int Length() const { return length_; }
  bool Empty() const { return length_ == 0; }
  void Clear() { length_ = 0; }

 private:
  uint8_t bytes_[kChunkCapacity];
  int length_ = 0;
};

}  // namespace quorvel
