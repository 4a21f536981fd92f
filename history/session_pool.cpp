#include "history/session_pool.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>

namespace quorvel {
namespace {

// A page: every index's deque takes two blocks as it is made, and a session
// store made for a view that stays off holds a handful of them.
constexpr size_t kFirstSlabBytes = size_t{4} << 10;

}  // namespace

void* MapFilledPages(size_t bytes) {
  int flags = MAP_PRIVATE | MAP_ANONYMOUS;
#ifdef MAP_POPULATE
  flags |= MAP_POPULATE;
#endif
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, flags, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
  return pages;
}

void* MapPagesToFill(size_t bytes) {
  void* pages = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) throw std::bad_alloc();
#ifdef MADV_NOHUGEPAGE
  // Where huge pages are the system's default, the first write would bring
  // in all of them at once, the very memory this mapping exists to spare.
  madvise(pages, bytes, MADV_NOHUGEPAGE);
#endif
  return pages;
}

void FillPages(void* pages, size_t bytes) {
  bool filled = false;
#ifdef MADV_POPULATE_WRITE
  filled = madvise(pages, bytes, MADV_POPULATE_WRITE) == 0;
#endif
  if (!filled) {
    auto* page = static_cast<volatile char*>(pages);
    for (size_t at = 0; at < bytes; at += 4096) page[at] = page[at];
  }
}

void* MapFilledHugePages(size_t bytes) {
  // Mapped a huge page larger than asked, then cut to the aligned part inside.
  size_t span = bytes + kHugePageBytes;
  void* raw = mmap(nullptr, span, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (start + kHugePageBytes - 1) & ~uintptr_t{kHugePageBytes - 1};
  size_t head = aligned - start;
  if (head > 0) munmap(raw, head);
  if (span - head > bytes) munmap(reinterpret_cast<void*>(aligned + bytes), span - head - bytes);
  auto* pages = reinterpret_cast<char*>(aligned);
  // Both only advise: without them the pages are small, or filled as touched.
  madvise(pages, bytes, MADV_HUGEPAGE);
  FillPages(pages, bytes);
  return pages;
}

void UnmapPages(void* pages, size_t bytes) {
  munmap(pages, bytes);
}

SessionPool::~SessionPool() {
  for (const Slab& slab : slabs_) UnmapPages(slab.pages, slab.bytes);
}

void* SessionPool::Take() {
  std::lock_guard guard(mutex_);
  if (free_) {
    FreeBlock* block = free_;
    free_ = block->next;
    return block;
  }
  if (slabs_.empty() || slabUsed_ == slabs_.back().bytes) {
    slabs_.reserve(slabs_.size() + 1);  // a throw here leaves no slab unrecorded
    size_t bytes =
        slabs_.empty() ? kFirstSlabBytes : std::min(2 * slabs_.back().bytes, kHugePageBytes);
    void* pages = bytes == kHugePageBytes ? MapFilledHugePages(bytes) : MapFilledPages(bytes);
    slabs_.push_back({pages, bytes});
    slabUsed_ = 0;
  }
  void* block = static_cast<char*>(slabs_.back().pages) + slabUsed_;
  slabUsed_ += kSessionPoolBlockBytes;
  return block;
}

void SessionPool::Give(void* block) {
  std::lock_guard guard(mutex_);
  free_ = new (block) FreeBlock{free_};
}

}  // namespace quorvel
