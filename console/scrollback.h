// The rows that scrolled off the top of the console's screen, oldest first,
// packed (console_cells.h), in a ring of a fixed number of rows: once it is
// full the oldest row goes as each new one comes.
//
// Rows are numbered for good from the first ever kept, so a place in the
// scrollback (a selection, a find's match) stays on its row while rows come
// and go: FirstLine() grows as old rows go, EndLine() (one past the newest)
// grows with each push and shrinks with each pop (a screen that grows takes
// its rows back). Not thread-safe: its owner locks.
//
// Memory. A flood scrolls tens of thousands of rows a second off the
// screen, so rows are not allocated one by one: they are written one after
// another into large blocks (huge pages where the system gives them: a
// block costs a few page faults, not hundreds), and a block goes once every
// row in it is gone. The ring of row places grows with the rows, so an
// empty scrollback costs next to nothing whatever its capacity.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "console/console_cells.h"

namespace quorvel {

class Scrollback {
 public:
  explicit Scrollback(size_t capacity);  // at least 1 row
  ~Scrollback();
  Scrollback(const Scrollback&) = delete;
  Scrollback& operator=(const Scrollback&) = delete;

  size_t Capacity() const { return capacity_; }
  // Keeps the newest `capacity` rows.
  void SetCapacity(size_t capacity);

  uint64_t FirstLine() const { return end_ - count_; }
  uint64_t EndLine() const { return end_; }
  size_t Size() const { return count_; }

  void Push(std::string_view packed);
  void Push(const ConsoleRow& row) { Push(PackedRowView(row)); }
  // Takes the newest row back; false when there is none.
  bool PopNewest(std::string& packed);
  void Clear();

  // Row `line` (FirstLine() <= line < EndLine()), packed; empty otherwise.
  std::string_view Packed(uint64_t line) const;
  // The bytes the rows take, for the tests and the benchmarks.
  size_t Bytes() const;

 private:
  struct Block {
    char* data = nullptr;
    size_t size = 0;
    size_t used = 0;
    uint64_t endLine = 0;  // one past the newest row written into it
  };

  size_t Slot(uint64_t line) const { return static_cast<size_t>(line % capacity_); }
  char* Room(size_t bytes);
  void DropEmptiedBlocks();

  size_t capacity_;
  std::vector<std::string_view> rows_;  // by Slot(); grows up to capacity_
  std::deque<Block> blocks_;            // oldest first
  uint64_t end_ = 0;
  size_t count_ = 0;
};

}  // namespace quorvel
