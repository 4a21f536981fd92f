// One timeline for the two ports of a linked pair (a monitored link or a
// bridge): every run either side reads goes into one session history and,
// while logging, into one log file, in one order, each stamped on the
// reading worker with the moment it handed its read over (right after the
// read returned). Side A's runs are the history's received runs and B's its
// sent ones, so the history splits lines at every change of direction and
// the view labels them "A→" and "B→".
//
// The order is the order of reading on this machine, as far as the two
// workers can tell it: each stamps its read, then takes the timeline's one
// short lock to keep it. Two reads that reach the lock in the other order
// than they were stamped (within the few microseconds a keep takes) are kept
// in the order they arrived, the later one at the earlier one's moment, so
// stamps never go back. It is never the wire's order: a USB adapter hands
// bytes over in its own packets, the kernel in its own reads.
//
// Threads: Read from either side's receive worker, Event and Note from any
// thread; each takes the one lock and returns. The history's readers (the
// view, find, save) read the store as they always do.
#pragma once

#include <cstdint>
#include <mutex>
#include <string_view>

#include "core/line_listener.h"
#include "core/news_flag.h"
#include "history/session_store.h"
#include "logging/line_logger.h"

namespace quorvel {

enum class PairSide : uint8_t { kA = 0, kB = 1 };

inline PairSide OtherSide(PairSide side) {
  return side == PairSide::kA ? PairSide::kB : PairSide::kA;
}
// "A" or "B".
const char* SideName(PairSide side);
// The view's and the files' names for what each side read.
inline constexpr LogLabels kPairLabels{"A\u2192", "B\u2192"};

class PairTimeline {
 public:
  // `store` outlives the timeline.
  explicit PairTimeline(SessionStore& store) : store_(store) {}
  PairTimeline(const PairTimeline&) = delete;
  PairTimeline& operator=(const PairTimeline&) = delete;

  // A side's worker: the bytes it has just read.
  void Read(PairSide side, const uint8_t* bytes, int count);
  // An event of one side's link ("A: /dev/ttyUSB0 115200,8,N,1").
  void Event(PairSide side, LineEvent event, std::string_view text);
  // A note of the pair itself (started, stopped, bytes not forwarded).
  void Note(std::string_view text);

  // The log file of the pair, which hears both sides in the timeline's
  // order and stamps (A as received, B as sent). Start and Stop it on the UI
  // thread; log both directions (LogRequest::includeSent), named kPairLabels.
  LineLogger& Log() { return log_; }
  const LineLogger& Log() const { return log_; }

  // Readable after anything was kept, until TakeNews: one signal until the
  // news is taken, so a flood costs the view one wake-up per look.
  int NewsDescriptor() const { return news_.Descriptor(); }
  bool TakeNews() { return news_.Take(); }

  SessionStore& Store() { return store_; }

 private:
  void Keep(SessionKind kind, SessionEvent event, const uint8_t* bytes, size_t count);

  SessionStore& store_;
  std::mutex mutex_;  // one keep at a time: the store's and the log's order are one
  int64_t lastMonoNs_ = INT64_MIN;
  int64_t lastWallMs_ = INT64_MIN;
  LineLogger log_;
  NewsFlag news_;
};

// Hears one side's link and hands what it reads and its events to the
// timeline. What is written to that side (a bridge's forwarding) is the
// other side's read, kept there already.
class PairTap : public LineListener {
 public:
  PairTap(PairTimeline& timeline, PairSide side) : timeline_(timeline), side_(side) {}
  void Received(const uint8_t* bytes, int count) override { timeline_.Read(side_, bytes, count); }
  void Sent(const uint8_t*, int) override {}
  void Noted(LineEvent event, std::string_view text) override {
    timeline_.Event(side_, event, text);
  }

 private:
  PairTimeline& timeline_;
  PairSide side_;
};

}  // namespace quorvel
