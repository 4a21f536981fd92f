#include "history/session_pool.h"

#include <sys/mman.h>

namespace quorvel {
namespace {

constexpr size_t kSlabBytes = size_t{64} << 10;

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

void UnmapPages(void* pages, size_t bytes) {
  munmap(pages, bytes);
}

SessionPool::~SessionPool() {
  for (void* slab : slabs_) UnmapPages(slab, kSlabBytes);
}

void* SessionPool::Take() {
  std::lock_guard guard(mutex_);
  if (free_) {
    FreeBlock* block = free_;
    free_ = block->next;
    return block;
  }
  if (slabs_.empty() || slabUsed_ == kSlabBytes) {
    slabs_.reserve(slabs_.size() + 1);  // a throw here leaves no slab unrecorded
    slabs_.push_back(MapFilledPages(kSlabBytes));
    slabUsed_ = 0;
  }
  void* block = static_cast<char*>(slabs_.back()) + slabUsed_;
  slabUsed_ += kSessionPoolBlockBytes;
  return block;
}

void SessionPool::Give(void* block) {
  std::lock_guard guard(mutex_);
  free_ = new (block) FreeBlock{free_};
}

}  // namespace quorvel
