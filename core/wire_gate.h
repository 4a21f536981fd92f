// Keeps every send whole on the wire. A window send may take hours on a
// stalled line and goes out piece by piece; an echo or auto-reply from the
// receive worker must neither wait that long on the worker's thread nor land
// between two of its pieces. So a window send holds the gate for its whole
// length, and a reply that finds the gate held is left with it: the holder
// writes the replies left meanwhile right after its own send, in the order
// they came, before it lets the gate go. A reply that finds the gate free is
// written at once by the worker itself, at full speed.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

namespace quorvel {

class WireGate {
 public:
  using Bytes = std::vector<uint8_t>;

  // Reply side: true when the gate was free and is now the caller's (call
  // ReleaseReply after writing); false when a send holds it and keeps a copy
  // of the reply to write after its own bytes.
  bool TakeOrLeave(const uint8_t* bytes, int count);
  void ReleaseReply();

  // Send side: waits until the gate is free and takes it; false, without it,
  // once `abandon` is set.
  bool Take(const std::atomic<bool>& abandon);
  // Send side: hands over the replies left meanwhile and keeps the gate, or,
  // when none was left, lets the gate go and returns nothing.
  std::deque<Bytes> CollectOrRelease();

 private:
  std::mutex mutex_;
  std::condition_variable freed_;
  bool held_ = false;
  std::deque<Bytes> left_;
};

}  // namespace quorvel
