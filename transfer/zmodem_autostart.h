// Notices a device starting a ZMODEM send to us (a user running sz on the
// device's shell): the start of the ZRQINIT hex header, "**" ZDLE "B00", in
// what the line brings. Fed every received burst, in order, it says where in
// the burst the pattern completed, so the caller can start a receive there.
// It keeps nothing back: every byte may be shown as it came; a caller that
// wants the pattern kept off the screen may hold back the PartialMatch()
// bytes at a burst's end, which are none unless the burst ends inside the
// pattern.
//
// Our own sends carry the same header: while a transfer of ours runs, a
// device that echoes would set it off, so the caller feeds it only while no
// transfer runs. One detector per line, on the thread that receives; no
// locks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace quorvel {

class ZmodemStartDetector {
 public:
  // Where in `bytes` the pattern completed (the offset just past it), or
  // nothing. A pattern split over bursts completes in the burst that ends it.
  std::optional<size_t> Feed(std::span<const uint8_t> bytes);

  // How many bytes at the end of what was fed so far (perhaps over more
  // than one burst) are the pattern's beginning.
  size_t PartialMatch() const { return matched_; }

  void Reset() { matched_ = 0; }

 private:
  size_t matched_ = 0;  // of the pattern, at the end of what was fed
};

}  // namespace quorvel
