// The listeners of one line: whoever hears what it carries joins the list and
// leaves it, from any thread, at any time; the line's threads (the receive
// worker, the writers, a transfer) hand every run of bytes and every event to
// each listener in the list.
//
// The byte path takes no lock. The list is an immutable snapshot that a
// change replaces whole (copy on write); a reader announces itself on one of
// two counters, reads the snapshot and calls its listeners, and leaves. A
// change publishes the new snapshot, then waits until every reader that may
// still hold the old one has left (each counter drained once, with new
// readers sent to the other one meanwhile), so that once Remove returns no
// thread is inside a call to the listener that left and it may be destroyed.
// That wait lasts at most as long as the listener calls in progress, which
// must be short (core/line_listener.h). Remove must not be called from inside
// a listener call on the same line: it would wait for itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string_view>
#include <vector>

#include "core/line_listener.h"

namespace quorvel {

// How a listener hears the line.
struct Hearing {
  // Hears each run before the listeners without it: the plot, which also
  // reads the session history and must know which runs it will hear live.
  bool early = false;
  // Also hears what a file transfer carries while it has the line (the log
  // file does; a view of the terminal's own traffic does not).
  bool transfers = false;
};

class LineListeners {
 public:
  LineListeners();
  ~LineListeners();
  LineListeners(const LineListeners&) = delete;
  LineListeners& operator=(const LineListeners&) = delete;

  // Any thread: `listener` hears the line from the next run on, until
  // Remove; adding one already there changes only how it hears. Early
  // listeners hear in the order they were added, then the others.
  void Add(LineListener& listener, Hearing hearing = {});
  // Any thread but a listener call's: from now on `listener` hears nothing,
  // and no call to it is still running when this returns. Harmless for one
  // that is not in the list.
  void Remove(LineListener& listener);
  bool Contains(const LineListener& listener) const;

  // The line's threads: hand a run or an event to every listener.
  void Received(const uint8_t* bytes, int count) const;
  void Sent(const uint8_t* bytes, int count) const;
  void Noted(LineEvent event, std::string_view text) const;
  // What a file transfer carries: only the listeners that hear transfers.
  void TransferReceived(const uint8_t* bytes, int count) const;
  void TransferSent(const uint8_t* bytes, int count) const;

 private:
  struct Entry {
    LineListener* listener;
    Hearing hearing;
  };
  using Snapshot = std::vector<Entry>;

  // A reader's stay: announced on the counter of the current epoch.
  class Reading {
   public:
    explicit Reading(const LineListeners& list);
    ~Reading();
    const Snapshot& Listeners() const { return *snapshot_; }

   private:
    const LineListeners& list_;
    int side_;
    const Snapshot* snapshot_;
  };

  template <typename Call>
  void ForEach(bool transfersOnly, Call call) const;
  // Publishes `next` and frees the old snapshot once no reader holds it.
  void Replace(Snapshot* next);
  void WaitForReaders(int side) const;

  std::mutex changes_;  // one change at a time; never taken on the byte path
  std::atomic<const Snapshot*> current_;
  std::atomic<int> epoch_{0};
  mutable std::atomic<int> readers_[2] = {0, 0};
};

}  // namespace quorvel
