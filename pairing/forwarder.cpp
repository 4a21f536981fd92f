#include "pairing/forwarder.h"

#include <string>
#include <utility>

namespace quorvel {

Forwarder::Forwarder(LinkSession& to, PairTimeline& timeline, PairSide from, size_t bound)
    : to_(to), timeline_(timeline), from_(from), bound_(bound) {}

Forwarder::~Forwarder() {
  // A send's completion names this object: the last one must have run.
  std::unique_lock lock(mutex_);
  idle_.wait(lock, [this] { return writing_ == 0; });
}

void Forwarder::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  auto length = static_cast<size_t>(count);
  std::lock_guard guard(mutex_);
  if (!accepting_) {
    Drop(length, Why::kStopped);
    return;
  }
  // A side away or closed takes nothing: its door would fail each send, and
  // what waited for it would reach it late, after it came back.
  if (!to_.Port().IsOpen()) {
    Drop(length + gathered_.size(), Why::kAway);
    gathered_.clear();
    counts_.waiting = writing_;
    return;
  }
  // Once behind, it takes bytes again only when half the bound is free, so
  // a flood into a slow side is told of in a few notes, not one per write.
  size_t room = dropping_ && dropWhy_ == Why::kBehind ? bound_ / 2 : bound_;
  if (writing_ + gathered_.size() + length > room) {
    Drop(length, Why::kBehind);
    return;
  }
  gathered_.insert(gathered_.end(), bytes, bytes + count);
  if (dropping_) Resumed();
  Launch();
  counts_.waiting = writing_ + gathered_.size();
}

void Forwarder::Launch() {
  if (writing_ != 0 || gathered_.empty()) return;
  std::vector<uint8_t> bytes;
  bytes.swap(gathered_);
  size_t length = bytes.size();
  writing_ = length;
  // Queued under the lock, so sends reach the door in the order read; the
  // door tells a send's end without its own lock, never from inside Queue.
  to_.Door().Queue(std::move(bytes),
                   [this, length](const SendResult& result) { Finished(result, length); });
}

void Forwarder::Finished(const SendResult& result, size_t length) {
  std::lock_guard guard(mutex_);
  counts_.forwarded += result.written;
  writing_ = 0;
  if (result.written < length) Drop(length - result.written, Why::kNotTaken);
  if (!gathered_.empty() && accepting_) {
    if (!to_.Port().IsOpen()) {
      Drop(gathered_.size(), Why::kAway);
      gathered_.clear();
    } else if (result.complete) {
      Launch();
    }
    // A send cut short on a line still open (a close is under way, or a
    // write failed): the next read sends what waits, or the stop counts it.
  }
  counts_.waiting = writing_ + gathered_.size();
  idle_.notify_all();
}

uint64_t Forwarder::Drain(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  accepting_ = false;
  if (to_.Port().IsOpen()) Launch();
  idle_.wait_for(lock, limit, [this] { return writing_ == 0 && gathered_.empty(); });
  uint64_t left = writing_ + gathered_.size();
  if (!gathered_.empty()) Drop(gathered_.size(), Why::kStopped);
  gathered_.clear();
  counts_.waiting = writing_;
  // A send still being written is the door's: the close that follows ends
  // it, and its completion counts what it did not write.
  return left;
}

ForwardCounts Forwarder::Counts() const {
  std::lock_guard guard(mutex_);
  return counts_;
}

void Forwarder::Drop(uint64_t count, Why why) {
  if (count == 0) return;
  counts_.dropped += count;
  droppedSince_ += count;
  if (dropping_ && dropWhy_ == why) return;
  dropping_ = true;
  dropWhy_ = why;
  std::string other = SideName(OtherSide(from_));
  std::string reason;
  switch (why) {
    case Why::kAway:
      reason = other + " is not open";
      break;
    case Why::kBehind:
      reason = other + " takes bytes more slowly than they come";
      break;
    case Why::kStopped:
      reason = "the bridge stopped";
      break;
    case Why::kNotTaken:
      reason = other + "'s line did not take them";
      break;
  }
  timeline_.Note(std::string(SideName(from_)) + "\u2192 not forwarded: " + reason);
}

void Forwarder::Resumed() {
  dropping_ = false;
  timeline_.Note(std::string(SideName(from_)) + "\u2192 forwarded again; " +
                 std::to_string(droppedSince_) + " bytes were not forwarded");
  droppedSince_ = 0;
}

}  // namespace quorvel
