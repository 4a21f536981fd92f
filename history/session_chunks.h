// The session history's bytes: fixed-size chunks that are only ever appended
// to, shared so that a reader can go on scanning chunks the store has
// dropped meanwhile. Byte `offset` of the history lives in chunk
// offset / kSessionChunkBytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

#include "history/session_pool.h"

namespace quorvel {

// A huge page each (see MapFilledHugePages).
inline constexpr size_t kSessionChunkBytes = kHugePageBytes;

using SessionChunk = std::shared_ptr<uint8_t[]>;

// The kept bytes [base, end) as they were when the view was taken: bytes
// below `end` never change, so the view is read without the store's lock.
struct ChunkView {
  std::vector<SessionChunk> chunks;
  uint64_t firstChunk = 0;  // number of chunks[0]
  uint64_t base = 0;
  uint64_t end = 0;

  const uint8_t* At(uint64_t offset) const {
    return chunks[offset / kSessionChunkBytes - firstChunk].get() + offset % kSessionChunkBytes;
  }
  // Bytes from `offset` to the end of its chunk or of the view.
  size_t Contiguous(uint64_t offset) const;
  // Copies [offset, offset + count), which must lie within [base, end).
  void Copy(uint64_t offset, size_t count, uint8_t* out) const;
};

// The chunks themselves, owned by the store under its lock.
class ChunkList {
 public:
  // Writes `count` bytes at `end` (the history's end before them).
  void Append(uint64_t end, const uint8_t* bytes, size_t count);
  // Lets go of the chunks wholly below `base`.
  void DropBelow(uint64_t base);
  void Clear();
  ChunkView View(uint64_t base, uint64_t end) const;
  // Copies [offset, offset + count) of the bytes written.
  void Copy(uint64_t offset, size_t count, uint8_t* out) const;
  uint64_t FirstChunk() const { return firstChunk_; }
  const std::deque<SessionChunk>& Chunks() const { return chunks_; }

 private:
  std::deque<SessionChunk> chunks_;
  uint64_t firstChunk_ = 0;
  // Bytes of the newest chunk whose pages are filled. A history's first chunk
  // is filled a part at a time, each part twice the last: a line that says
  // little, or a port just opened with the view on, then holds a few pages
  // rather than a huge page of them; a flood passes through it in a few
  // fills and gets whole huge pages after it.
  size_t filled_ = 0;
};

}  // namespace quorvel
