#include "history/line_number_runs.h"

#include <algorithm>

namespace quorvel {

void LineNumberRuns::PushBack(uint64_t number) {
  if (runs_.empty() || number != runs_.back().first + (pushed_ - runs_.back().before)) {
    runs_.push_back({number, pushed_});
  }
  ++pushed_;
}

void LineNumberRuns::PopFront() {
  ++popped_;
  if (EndOf(0) <= popped_) runs_.pop_front();
}

uint64_t LineNumberRuns::At(size_t index) const {
  uint64_t position = popped_ + index;
  auto after = std::upper_bound(runs_.begin(), runs_.end(), position,
                                [](uint64_t p, const Run& run) { return p < run.before; });
  const Run& run = *(after - 1);
  return run.first + (position - run.before);
}

size_t LineNumberRuns::LowerBound(uint64_t number) const {
  auto after = std::upper_bound(runs_.begin(), runs_.end(), number,
                                [](uint64_t n, const Run& run) { return n < run.first; });
  if (after == runs_.begin()) return 0;
  size_t i = static_cast<size_t>(after - runs_.begin()) - 1;
  const Run& run = runs_[i];
  uint64_t end = EndOf(i);
  // Within the run, or the first number of the next one.
  uint64_t position = std::min(run.before + (number - run.first), end);
  return static_cast<size_t>(std::max(position, popped_) - popped_);
}

}  // namespace quorvel
