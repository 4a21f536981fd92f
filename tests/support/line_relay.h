// A relay between two pseudo-terminals, as a real line between two machines
// would be: what one side writes reaches the other a little later (each
// chunk is held for `delay`), and a noisy line drops or flips about one byte
// in `oneIn` in each direction, from a seeded generator so that a failing
// run can be played again. Its own thread; stopped when the object goes.
//
// Why a delay at all: lrzsz's receivers (rx, rb) throw away their input right
// after writing each ACK. On a pseudo-terminal the sender's next block can
// arrive before that, and is lost; on a real line it takes milliseconds.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>

#include "core/event_fd.h"

namespace quorvel::testing {

struct RelayNoise {
  unsigned oneIn = 0;  // 0: a clean line; N: about one byte in N is damaged
  bool drop = true;    // a damaged byte may be lost
  bool flip = true;    // or arrive with one bit flipped
};

struct RelayOptions {
  std::chrono::microseconds delay{1000};
  RelayNoise towardPeer;  // from our side (a) to the peer (b)
  RelayNoise towardUs;    // from the peer (b) to our side (a)
  unsigned seed = 1;
  // A line that stalls: after this many bytes (0: never) a direction is no
  // longer read until Release(), so that a test can act on a transfer that
  // cannot have ended however fast both sides are.
  uint64_t holdTowardPeerAfter = 0;
  uint64_t holdTowardUsAfter = 0;
};

class LineRelay {
 public:
  // `a` and `b` are pseudo-terminal masters (non-blocking), owned elsewhere
  // and open for the relay's whole life.
  LineRelay(int a, int b, RelayOptions options);
  ~LineRelay();
  LineRelay(const LineRelay&) = delete;
  LineRelay& operator=(const LineRelay&) = delete;

  struct Counts {
    uint64_t bytes = 0;    // read from the source
    uint64_t dropped = 0;  // of them, lost on the way
    uint64_t flipped = 0;  // of them, damaged on the way
  };
  Counts TowardPeer() const { return Load(toPeer_); }
  Counts TowardUs() const { return Load(toUs_); }
  // Ends the stall of RelayOptions' hold: both directions flow from now on.
  void Release() { released_ = true; }

 private:
  struct AtomicCounts {
    std::atomic<uint64_t> bytes{0}, dropped{0}, flipped{0};
  };
  static Counts Load(const AtomicCounts& counts) {
    return {counts.bytes.load(), counts.dropped.load(), counts.flipped.load()};
  }
  void Run(int a, int b);

  RelayOptions options_;
  AtomicCounts toPeer_;
  AtomicCounts toUs_;
  std::atomic<bool> released_{false};
  EventFd stop_;
  std::thread thread_;
};

}  // namespace quorvel::testing
