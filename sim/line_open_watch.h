// Tells when a host opens the slave side of a pseudo-terminal whose master the
// simulator holds, without looking at the line periodically.
//
// While no process has the slave open, Linux reports a hang-up (POLLHUP) on
// the master, and an open clears it. The kernel wakes no one when it clears,
// though (a poll on the master sees the hang-up at once and the open never),
// so the watch waits on inotify for opens of the slave's device node and then
// confirms that the hang-up is gone: an open that was closed again, or by a
// program that only looked, counts for nothing. Where inotify has no instance
// left, it looks every kFallbackLookEvery instead.
//
// The simulator must hold no descriptor of the slave itself while it waits,
// or the line never reads as hung up. One thread; the master stays the
// caller's.
#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "core/unique_fd.h"

namespace quorvel {

class LineOpenWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kFallbackLookEvery{50};

  // Watches `slavePath`, the slave of `master`. Make it before the path is
  // shown to anyone, so that a host opening at once is not missed.
  LineOpenWatch(int master, const std::string& slavePath);

  // Whether a host has the line open now.
  bool HostPresent() const;

  // Returns once a host has the line open (0), or when `until` (never when
  // unset) passes with none there (0 too: ask HostPresent), or -1 when
  // `signals` turned readable first.
  int WaitForOpen(int signals, std::optional<Clock::time_point> until);

  // False when opens are seen by looking every kFallbackLookEvery.
  bool Watching() const { return watch_.Valid(); }

 private:
  void Drain();

  int master_;
  UniqueFd watch_;  // inotify, for opens of the slave's node
};

}  // namespace quorvel
