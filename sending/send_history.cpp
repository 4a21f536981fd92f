#include "sending/send_history.h"

#include <algorithm>

#include "sending/send_composer.h"

namespace quorvel {

bool SendHistory::Add(const HistoryEntry& entry) {
  cursor_ = -1;
  if (entry.text.empty() || entry.text.size() > kMaxHistoryTextLength ||
      ContentBytes(entry.text, entry.hex, true).size() > kMaxHistoryBytes) {
    return false;
  }
  auto found = std::find(entries_.begin(), entries_.end(), entry);
  if (found != entries_.end()) {
    std::rotate(entries_.begin(), found, found + 1);
    return true;
  }
  entries_.insert(entries_.begin(), entry);
  if (entries_.size() > kMaxHistoryEntries) entries_.resize(kMaxHistoryEntries);
  return true;
}

void SendHistory::Assign(const std::vector<HistoryEntry>& entries) {
  Clear();
  // Oldest first, so each newer one lands above it.
  for (auto it = entries.rbegin(); it != entries.rend(); ++it) Add(*it);
}

void SendHistory::Clear() {
  entries_.clear();
  cursor_ = -1;
}

std::optional<HistoryEntry> SendHistory::Older() {
  if (entries_.empty()) return std::nullopt;
  cursor_ = std::min(cursor_ + 1, static_cast<int>(entries_.size()) - 1);
  return entries_[static_cast<std::size_t>(cursor_)];
}

std::optional<HistoryEntry> SendHistory::Newer() {
  if (cursor_ <= 0) {
    cursor_ = -1;
    return std::nullopt;
  }
  --cursor_;
  return entries_[static_cast<std::size_t>(cursor_)];
}

}  // namespace quorvel
