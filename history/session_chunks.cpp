#include "history/session_chunks.h"

#include <algorithm>
#include <cstring>

#include "history/session_pool.h"

namespace quorvel {
namespace {

constexpr size_t kFirstFillBytes = size_t{64} << 10;

// A chunk's pages are filled in one call as it is made (or, for a history's
// first chunk, in a few as it fills), not one page fault per 4 KiB as the
// line writes into it.
SessionChunk NewChunk(bool whole) {
  void* pages = whole ? MapFilledHugePages(kSessionChunkBytes) : MapPagesToFill(kSessionChunkBytes);
  return SessionChunk(static_cast<uint8_t*>(pages),
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
      bool whole = !chunks_.empty();
      chunks_.push_back(NewChunk(whole));
      filled_ = whole ? kSessionChunkBytes : 0;
    }
    size_t at = end % kSessionChunkBytes;
    size_t part = std::min(count, kSessionChunkBytes - at);
    if (at + part > filled_) {
      size_t want = std::max({at + part, 2 * filled_, kFirstFillBytes});
      want = std::min((want + 4095) / 4096 * 4096, kSessionChunkBytes);
      FillPages(chunks_.back().get() + filled_, want - filled_);
      filled_ = want;
    }
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
