#include "console/scrollback.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace quorvel {
namespace {

// A huge page's size: a block is one huge page where the system has them.
constexpr size_t kBlockBytes = size_t{2} << 20;
constexpr size_t kFirstRows = 1024;

char* MapBlock(size_t size) {
  // Mapped with room to spare and trimmed to a boundary of its own size, so
  // that the kernel can back it with huge pages.
  size_t spare = size == kBlockBytes ? kBlockBytes : 0;
  void* mapped =
      mmap(nullptr, size + spare, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  auto start = reinterpret_cast<uintptr_t>(mapped);
  auto aligned = spare ? (start + spare - 1) & ~(uintptr_t{spare} - 1) : start;
  if (aligned > start) munmap(mapped, aligned - start);
  if (start + spare > aligned)
    munmap(reinterpret_cast<void*>(aligned + size), start + spare - aligned);
#ifdef MADV_HUGEPAGE
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
#endif
  return reinterpret_cast<char*>(aligned);
}

}  // namespace

Scrollback::Scrollback(size_t capacity) : capacity_(std::max<size_t>(1, capacity)) {}

Scrollback::~Scrollback() {
  for (Block& block : blocks_) munmap(block.data, block.size);
}

void Scrollback::SetCapacity(size_t capacity) {
  capacity = std::max<size_t>(1, capacity);
  if (capacity == capacity_) return;
  size_t keep = std::min(count_, capacity);
  std::vector<std::string_view> rows(keep > 0 ? capacity : 0);
  for (uint64_t line = end_ - keep; line < end_; ++line) {
    rows[static_cast<size_t>(line % capacity)] = rows_[Slot(line)];
  }
  rows_ = std::move(rows);
  capacity_ = capacity;
  count_ = keep;
  DropEmptiedBlocks();
}

char* Scrollback::Room(size_t bytes) {
  if (blocks_.empty() || blocks_.back().size - blocks_.back().used < bytes) {
    Block block;
    block.size = std::max(kBlockBytes, bytes);
    block.data = MapBlock(block.size);
    block.endLine = end_;
    blocks_.push_back(block);
  }
  Block& block = blocks_.back();
  char* room = block.data + block.used;
  block.used += bytes;
  block.endLine = end_ + 1;
  return room;
}

void Scrollback::Push(std::string_view packed) {
  size_t slot = Slot(end_);
  if (slot >= rows_.size()) {
    rows_.resize(std::min(capacity_, std::max({slot + 1, rows_.size() * 2, kFirstRows})));
  }
  char* room = Room(packed.size());
  if (!packed.empty()) std::memcpy(room, packed.data(), packed.size());
  rows_[slot] = std::string_view(room, packed.size());
  ++end_;
  count_ = std::min(count_ + 1, capacity_);
  DropEmptiedBlocks();
}

bool Scrollback::PopNewest(std::string& packed) {
  if (count_ == 0) return false;
  --end_;
  --count_;
  std::string_view& row = rows_[Slot(end_)];
  packed.assign(row);
  // The newest row is the last one written into the newest block.
  Block& block = blocks_.back();
  block.used -= row.size();
  block.endLine = end_;
  row = {};
  if (block.used == 0 && blocks_.size() > 1) {
    munmap(block.data, block.size);
    blocks_.pop_back();
  }
  return true;
}

void Scrollback::Clear() {
  for (Block& block : blocks_) munmap(block.data, block.size);
  blocks_.clear();
  std::vector<std::string_view>().swap(rows_);
  count_ = 0;
}

void Scrollback::DropEmptiedBlocks() {
  // The newest block stays for the rows to come.
  while (blocks_.size() > 1 && blocks_.front().endLine <= FirstLine()) {
    munmap(blocks_.front().data, blocks_.front().size);
    blocks_.pop_front();
  }
}

std::string_view Scrollback::Packed(uint64_t line) const {
  if (line < FirstLine() || line >= end_) return {};
  return rows_[Slot(line)];
}

size_t Scrollback::Bytes() const {
  size_t bytes = rows_.capacity() * sizeof(std::string_view);
  for (const Block& block : blocks_) bytes += block.size;
  return bytes;
}

}  // namespace quorvel
