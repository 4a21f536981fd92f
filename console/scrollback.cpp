#include "console/scrollback.h"

#include <algorithm>

namespace quorvel {

Scrollback::Scrollback(size_t capacity) : rows_(std::max<size_t>(1, capacity)) {}

void Scrollback::SetCapacity(size_t capacity) {
  capacity = std::max<size_t>(1, capacity);
  if (capacity == rows_.size()) return;
  size_t keep = std::min(count_, capacity);
  std::vector<std::string> rows(capacity);
  for (uint64_t line = end_ - keep; line < end_; ++line) {
    rows[static_cast<size_t>(line % capacity)] = std::move(rows_[Slot(line)]);
  }
  rows_ = std::move(rows);
  count_ = keep;
}

void Scrollback::Push(std::string packed) {
  rows_[Slot(end_)] = std::move(packed);
  ++end_;
  count_ = std::min(count_ + 1, rows_.size());
}

bool Scrollback::PopNewest(std::string& packed) {
  if (count_ == 0) return false;
  --end_;
  --count_;
  packed = std::move(rows_[Slot(end_)]);
  rows_[Slot(end_)].clear();
  return true;
}

void Scrollback::Clear() {
  for (std::string& row : rows_) std::string().swap(row);
  count_ = 0;
}

std::string_view Scrollback::Packed(uint64_t line) const {
  if (line < FirstLine() || line >= end_) return {};
  return rows_[Slot(line)];
}

size_t Scrollback::Bytes() const {
  size_t bytes = rows_.size() * sizeof(std::string);
  for (const std::string& row : rows_) {
    if (row.capacity() > 15) bytes += row.capacity() + 1;
  }
  return bytes;
}

}  // namespace quorvel
