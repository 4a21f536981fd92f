// Memory for the session history's indexes, which grow by a few hundred
// small blocks a second on a busy line. The pool hands out blocks of at most
// kSessionPoolBlockBytes (a deque's node) from slabs mapped and filled in one
// call, and takes them back for reuse; anything larger goes to the heap.
//
// Why not the heap: the receive worker's own heap grows a page at a time,
// each page one more protection change and one more page fault, and at a
// steady megabyte a second that was a third of what keeping the history cost
// the worker.
//
// A container and the ones moved from it share a pool, and a moved-from
// index may be let go of on another thread than the one appending to its
// successor: the pool takes its own (uncontended, brief) lock.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <mutex>
#include <new>
#include <vector>

namespace quorvel {

inline constexpr size_t kSessionPoolBlockBytes = 512;

// `bytes` of zeroed memory, its pages mapped and filled at once (not a fault
// per page later); throws std::bad_alloc. Give back with UnmapPages.
void* MapFilledPages(size_t bytes);

// A huge page: the unit MapFilledHugePages maps in.
inline constexpr size_t kHugePageBytes = size_t{2} << 20;

// The same for `bytes` (a multiple of kHugePageBytes), aligned to a huge page
// and backed by huge pages where the system lets a process ask for them (small
// pages otherwise). Where each new page of a process is costly (on a virtual
// machine, a trap into the host each), filling a megabyte of small pages costs
// milliseconds, and a flood writes a megabyte every few of them; a huge page
// is one mapping for 512 of them.
void* MapFilledHugePages(size_t bytes);
// `bytes` (a multiple of 4 KiB) of zeroed memory in small pages, none of them
// filled yet: for memory that may stay mostly unused, filled a part at a time
// with FillPages as it comes into use. Give back with UnmapPages.
void* MapPagesToFill(size_t bytes);
// Fills [pages, pages + bytes) of such a mapping in one call (its contents
// are kept); `pages` on a 4 KiB boundary.
void FillPages(void* pages, size_t bytes);
void UnmapPages(void* pages, size_t bytes);

class SessionPool {
 public:
  SessionPool() = default;
  SessionPool(const SessionPool&) = delete;
  SessionPool& operator=(const SessionPool&) = delete;
  ~SessionPool();

  void* Take();
  void Give(void* block);

 private:
  struct FreeBlock {
    FreeBlock* next;
  };
  struct Slab {
    void* pages;
    size_t bytes;
  };
  std::mutex mutex_;
  FreeBlock* free_ = nullptr;
  // Each slab twice the last, up to a huge page: a short history maps little,
  // a long one mostly huge pages.
  std::vector<Slab> slabs_;
  size_t slabUsed_ = 0;  // bytes handed out of the newest slab
};

template <class T>
class SessionPoolAllocator {
 public:
  using value_type = T;
  // A moved container keeps its pool; a copy gets a pool of its own, so two
  // containers never share one across threads.
  using propagate_on_container_copy_assignment = std::false_type;
  using propagate_on_container_move_assignment = std::true_type;
  using propagate_on_container_swap = std::true_type;

  SessionPoolAllocator() : pool_(std::make_shared<SessionPool>()) {}
  // Copied, never moved from: a container moved from still frees its last
  // node through its allocator.
  SessionPoolAllocator(const SessionPoolAllocator&) = default;
  SessionPoolAllocator& operator=(const SessionPoolAllocator&) = default;
  template <class U>
  SessionPoolAllocator(const SessionPoolAllocator<U>& other) : pool_(other.pool_) {}

  SessionPoolAllocator select_on_container_copy_construction() const {
    return SessionPoolAllocator();
  }

  T* allocate(size_t n) {
    if (n * sizeof(T) <= kSessionPoolBlockBytes) return static_cast<T*>(pool_->Take());
    return std::allocator<T>().allocate(n);
  }
  void deallocate(T* p, size_t n) {
    if (n * sizeof(T) <= kSessionPoolBlockBytes) {
      pool_->Give(p);
    } else {
      std::allocator<T>().deallocate(p, n);
    }
  }

  template <class U>
  bool operator==(const SessionPoolAllocator<U>& other) const {
    return pool_ == other.pool_;
  }

 private:
  template <class U>
  friend class SessionPoolAllocator;
  std::shared_ptr<SessionPool> pool_;
};

// A deque whose nodes come from a pool of its own.
template <class T>
using PooledDeque = std::deque<T, SessionPoolAllocator<T>>;

}  // namespace quorvel
