#include "history/session_chunks.h"

#include <algorithm>
#include <cstring>

#include "history/session_pool.h"

namespace quorvel {
namespace {

// A chunk's pages are filled in one call as it is made, not one page fault
// per 4 KiB as the line writes into it.
SessionChunk NewChunk() {
  return SessionChunk(static_cast<uint8_t*>(MapFilledHugePages(kSessionChunkBytes)),
                      [](uint8_t* chunk) { UnmapPages(chunk, kSessionChunkBytes); });
}

}  // namespace

size_t ChunkView::Contiguous(uint64_t offset) const {
  uint64_t chunkEnd = (offset / kSessionChunkBytes + 1) * kSessionChunkBytes;
  return static_cast<size_t>(std::min(chunkEnd, end) - offset);
}

void ChunkView::Copy(uint64_t offset, size_t count, uint8_t* out) const {
  while (count > 0) {
    size_t part = std::min(count, Contiguous(offset));
    std::memcpy(out, At(offset), part);
    out += part;
    offset += part;
    count -= part;
  }
}

void ChunkList::Append(uint64_t end, const uint8_t* bytes, size_t count) {
  while (count > 0) {
    uint64_t number = end / kSessionChunkBytes;
    if (chunks_.empty()) firstChunk_ = number;
    if (number - firstChunk_ == chunks_.size()) {
      chunks_.push_back(NewChunk());
    }
    size_t at = end % kSessionChunkBytes;
    size_t part = std::min(count, kSessionChunkBytes - at);
    std::memcpy(chunks_[number - firstChunk_].get() + at, bytes, part);
    bytes += part;
    end += part;
    count -= part;
  }
}

void ChunkList::DropBelow(uint64_t base) {
  while (!chunks_.empty() && (firstChunk_ + 1) * kSessionChunkBytes <= base) {
    chunks_.pop_front();
    ++firstChunk_;
  }
}

void ChunkList::Clear() {
  chunks_.clear();
  firstChunk_ = 0;
}

void ChunkList::Copy(uint64_t offset, size_t count, uint8_t* out) const {
  while (count > 0) {
    size_t at = offset % kSessionChunkBytes;
    size_t part = std::min(count, kSessionChunkBytes - at);
    std::memcpy(out, chunks_[offset / kSessionChunkBytes - firstChunk_].get() + at, part);
    out += part;
    offset += part;
    count -= part;
  }
}

ChunkView ChunkList::View(uint64_t base, uint64_t end) const {
  ChunkView view;
  view.chunks.assign(chunks_.begin(), chunks_.end());
  view.firstChunk = firstChunk_;
  view.base = base;
  view.end = end;
  return view;
}

}  // namespace quorvel
