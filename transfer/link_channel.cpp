#include "transfer/link_channel.h"

#include <algorithm>
#include <thread>

#include "core/clock.h"

namespace quorvel {
namespace {

// How often a wait looks at the port itself: a link that closed before its
// worker could say so still ends the wait.
constexpr int kLookMs = 100;

}  // namespace

void LinkChannel::Reset() {
  cancelled_.store(false);
  abandoned_.store(false);
  dropped_.store(0);
}

bool LinkChannel::Attach() {
  if (!door_.HoldWire(cancelled_)) return false;
  wireHeld_ = true;
  if (!hub_.port.IsOpen()) {
    Detach();
    return false;
  }
  readerEnded_.store(false);
  if (!hub_.TakeReceived(*this, LinkHub::TakerReads::kItself)) {
    Detach();
    return false;
  }
  attached_ = true;
  // What the worker read before it saw us is the terminal's, and has gone
  // to its listeners by the time this returns; the worker may sit in its
  // wait for the line: it stands aside now, not at the device's next byte.
  hub_.AwaitWorkerRead();
  hub_.port.WakeReader();
  return true;
}

void LinkChannel::Detach() {
  if (attached_) {
    hub_.GiveBackReceived(*this);
    attached_ = false;
    // A worker that never stood aside may still sit in its wait for the
    // line, which has no deadline: it goes back to its own reading (its
    // frames, quiet notices and delayed answers) now.
    hub_.port.WakeReader();
  }
  if (!wireHeld_) return;
  wireHeld_ = false;
  door_.ReleaseWire(abandoned_.load());
}

int LinkChannel::Read(uint8_t* buffer, int capacity, int timeoutMs) {
  int64_t deadline = SteadyNowMs() + timeoutMs;
  for (;;) {
    if (cancelled_.load()) return kCancelled;
    OnPort onPort(*this);
    if (!onPort) return kLinkLost;
    int got = hub_.port.Read(buffer, capacity);
    if (got > 0) {
      hub_.listeners.TransferReceived(buffer, got);
      hub_.counters.CountReceived(got);
      return got;
    }
    // An abandon is a cancel too (Abandon sets that first).
    if (abandoned_.load()) return kCancelled;
    if (!hub_.port.IsOpen()) return kLinkLost;
    int left = RemainingMs(deadline);
    if (left == 0) return kTimedOut;
    hub_.port.WaitReadable(std::min(left, kLookMs));
  }
}

bool LinkChannel::Write(const uint8_t* bytes, int count) {
  return door_.WriteHeld(bytes, count, abandoned_) == WriteEnd::kWritten;
}

void LinkChannel::DiscardInput() {
  // What was received is still the line's: it is read and thrown away, and
  // still counted and heard, as every byte the transfer carried.
  OnPort onPort(*this);
  if (!onPort) return;
  uint8_t spare[4096];
  size_t thrown = 0;
  while (thrown < kMostDiscarded) {
    int got = hub_.port.Read(spare, sizeof spare);
    if (got <= 0) break;
    hub_.listeners.TransferReceived(spare, got);
    hub_.counters.CountReceived(got);
    thrown += static_cast<size_t>(got);
  }
}

void LinkChannel::Divert(const uint8_t* /*bytes*/, int count) {
  dropped_ += static_cast<uint64_t>(count);
}

void LinkChannel::ReaderEnded() {
  readerEnded_.store(true);
  hub_.port.WakeReader();
  // Whoever ended the worker may close the port next: by then this channel
  // has left it (its wait ends at the wake, or at once when waits are
  // cancelled), and it does not go back.
  while (onPort_.load()) std::this_thread::yield();
}

void LinkChannel::Cancel() {
  cancelled_.store(true);
  hub_.port.WakeReader();
}

void LinkChannel::Abandon() {
  cancelled_.store(true);
  abandoned_.store(true);
  hub_.port.WakeReader();
}

}  // namespace quorvel
