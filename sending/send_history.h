// The sends made from the send box, newest first, for recalling them: the
// last kMaxHistoryEntries distinct sends, each with the hex choice it went
// out with. A send made again moves to the top instead of repeating. Sends of
// more than kMaxHistoryBytes (a hex send's bytes once parsed, a text send's
// with its escapes read, as the entry does not say whether they were on), or
// typed in more than kMaxHistoryTextLength characters, are not kept, so the
// history stays a small part of the settings file however much is pasted.
//
// Recalling walks the list with a cursor: Older() and Newer() move it and give
// the entry it lands on; Newer() past the newest leaves the list and gives
// nothing (the box gets back what was there before the walk). Add() ends a
// walk. One thread (the UI thread).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace quorvel {

inline constexpr std::size_t kMaxHistoryEntries = 100;
inline constexpr std::size_t kMaxHistoryBytes = 1024;
inline constexpr std::size_t kMaxHistoryTextLength = 4 * kMaxHistoryBytes;

struct HistoryEntry {
  std::string text;  // the send box's text as sent (hex digits for a hex send)
  bool hex = false;
  bool operator==(const HistoryEntry&) const = default;
};

class SendHistory {
 public:
  // Puts `entry` on top (moving it there when it is already kept) and drops
  // the oldest beyond the limit. An empty or too long send changes nothing;
  // returns whether the entry is kept.
  bool Add(const HistoryEntry& entry);
  // Replaces the entries with `entries` (newest first), as Add would keep
  // them: duplicates and those beyond the limit are dropped.
  void Assign(const std::vector<HistoryEntry>& entries);
  const std::vector<HistoryEntry>& Entries() const { return entries_; }
  void Clear();

  // The walk. Older() at the oldest stays there; both give nothing for an
  // empty history.
  std::optional<HistoryEntry> Older();
  std::optional<HistoryEntry> Newer();
  bool Walking() const { return cursor_ >= 0; }
  void EndWalk() { cursor_ = -1; }

 private:
  std::vector<HistoryEntry> entries_;
  int cursor_ = -1;  // the entry shown; -1 while not walking
};

}  // namespace quorvel
