// An increasing list of line numbers kept as runs of consecutive numbers:
// the lines of a display that are not sent bytes, for the view with sent
// bytes hidden. A flood that sends nothing is one run however many lines it
// makes, so keeping the list costs the receive worker next to nothing per
// line. Not thread-safe: the store's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "history/session_pool.h"

namespace quorvel {

class LineNumberRuns {
 public:
  // `number` is greater than every number held.
  void PushBack(uint64_t number);
  // Forgets the first number (there is one).
  void PopFront();

  size_t Size() const { return static_cast<size_t>(pushed_ - popped_); }
  bool Empty() const { return pushed_ == popped_; }
  // The `index`-th number held (index < Size()).
  uint64_t At(size_t index) const;
  // The index of the first number not below `number`; Size() when none.
  size_t LowerBound(uint64_t number) const;
  // What the runs take, for the history limit.
  size_t Bytes() const { return runs_.size() * sizeof(Run); }

 private:
  struct Run {
    uint64_t first;   // its first number
    uint64_t before;  // numbers pushed before it, counting those popped since
  };
  // Numbers pushed up to the end of run `i`.
  uint64_t EndOf(size_t i) const { return i + 1 < runs_.size() ? runs_[i + 1].before : pushed_; }

  PooledDeque<Run> runs_;
  uint64_t pushed_ = 0;
  uint64_t popped_ = 0;
};

}  // namespace quorvel
