// The line starts of one display of the session history, kept up to date run
// by run. A pure state machine over offsets and bytes: the store feeds it
// every run in order, under its lock, and a re-split feeds a fresh one the
// whole history without it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

#include "history/line_number_runs.h"
#include "history/session_pool.h"
#include "history/session_store.h"

namespace quorvel {

struct LineStart {
  uint64_t offset : 48;
  uint64_t continued : 1;  // cut at kSessionMaxLineBytes
  uint64_t kind : 2;       // a SessionKind
  uint64_t unused : 13;
};
static_assert(sizeof(LineStart) == 8);

class LineIndex {
 public:
  LineIndex(SessionDisplay display, const SessionSplit& split);

  // The run of `count` bytes at `offset` (right after the previous run's),
  // stamped `monoNs`.
  void Add(SessionKind kind, uint64_t offset, const uint8_t* bytes, size_t count, int64_t monoNs);

  // Forgets the lines before `base` (a line that holds `base` starts there
  // now), the history ending at `end`. Returns how many lines went.
  uint64_t DropBefore(uint64_t base, uint64_t end);

  const PooledDeque<LineStart>& Starts() const { return starts_; }
  uint64_t Dropped() const { return dropped_; }
  // The numbers of the lines that are not sent bytes, for the view with sent
  // bytes hidden; and how many such lines were dropped.
  const LineNumberRuns& Unsent() const { return unsent_; }
  uint64_t UnsentDropped() const { return unsentDropped_; }
  void AddDropped(uint64_t lines, uint64_t unsentLines) {
    dropped_ += lines;
    unsentDropped_ += unsentLines;
  }
  // The last line has seen its end (a line end, a frame end, an event).
  bool LastEnded() const { return pending_; }

 private:
  void Start(uint64_t offset);
  void ScanText(uint64_t offset, const uint8_t* bytes, size_t count);
  void ScanHex(uint64_t offset, const uint8_t* bytes, size_t count);
  // Bytes the current line may still take before it is cut.
  size_t Room(uint64_t offset) const;

  SessionDisplay display_;
  int64_t silenceNs_;
  int frameEndByte_;
  PooledDeque<LineStart> starts_;
  uint64_t dropped_ = 0;
  LineNumberRuns unsent_;
  uint64_t unsentDropped_ = 0;
  bool pending_ = true;  // the next byte starts a line
  bool lastWasCr_ = false;
  bool any_ = false;
  SessionKind lastKind_ = SessionKind::kReceived;
  int64_t lastMonoNs_ = 0;
};

}  // namespace quorvel
