// The session store's insides, shared by its source files; not for callers.
#pragma once

#include <climits>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "history/session_chunks.h"
#include "history/session_index.h"
#include "history/session_pool.h"
#include "history/session_store.h"

namespace quorvel {

struct RunEntry {
  uint64_t offset : 48;
  uint64_t kind : 8;
  uint64_t event : 8;
  int64_t monoNs;
  int64_t wallMs;
};
static_assert(sizeof(RunEntry) == 24);

struct SessionStore::Snapshot {
  ChunkView view;
  std::vector<RunEntry> runs;
};

struct SessionStore::Impl {
  explicit Impl(uint64_t limitBytes);

  // All with `mutex` held.
  void Append(SessionKind kind, SessionEvent event, const uint8_t* bytes, size_t count,
              int64_t monoNs, int64_t wallMs);
  void Trim();
  void DropBefore(uint64_t newBase);
  void Reset();
  uint64_t IndexBytes() const;
  size_t RunAt(uint64_t offset) const;  // the run holding `offset`
  const LineIndex& Index(SessionDisplay display) const {
    return display == SessionDisplay::kText ? text : hex;
  }
  uint64_t LineAt(SessionDisplay display, uint64_t offset, bool withSent) const;
  bool SentAt(uint64_t offset) const;  // byte `offset` is a sent one
  // Since the last run of the other direction before run `runIndex`, when a
  // line starting at `lineStart` begins that run and changes direction; -1
  // otherwise.
  int64_t SinceOtherSide(size_t runIndex, uint64_t lineStart) const;

  mutable std::mutex mutex;
  std::mutex splitMutex;  // one re-split at a time; taken before `mutex`
  uint64_t limit;
  SessionSplit split;
  ChecksumKind check = ChecksumKind::kNone;
  ChunkList chunks;
  uint64_t base = 0;  // offset of the oldest byte kept
  uint64_t end = 0;   // one past the newest
  PooledDeque<RunEntry> runs;
  uint64_t runsDropped = 0;  // runs gone off the top, for a re-split's catch-up
  LineIndex text;
  LineIndex hex;
  struct Open {
    uint64_t offset;
    int64_t monoNs;
  };
  std::deque<Open> opens;  // the "link opened" events kept, oldest first
  int64_t firstMonoNs = 0;
  int64_t lastMonoNs = INT64_MIN;
  int64_t lastWallMs = INT64_MIN;
  uint64_t droppedBytes = 0;
  uint64_t generation = 0;
  uint64_t clears = 0;
};

}  // namespace quorvel
