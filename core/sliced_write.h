// The one loop that writes a run of bytes to the line piece by piece: each
// write waits for room at most one slice, so whoever writes looks at its
// deadline and at whether it should stop (a cancel, an abort, a link going
// away) at least that often, however long the line stalls. Every piece the
// device took is reported as it is taken, so counts and listeners follow the
// line, not the send. Called on the writing thread; the port serialises the
// pieces with every other writer's.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "core/clock.h"
#include "core/port.h"

namespace quorvel {

// The longest one write waits for room before its writer looks around.
inline constexpr int kWriteSliceMs = 50;

// How long a wait may take now: what is left until `deadlineMs`, at most a slice.
inline int SliceUntil(int64_t deadlineMs) {
  return static_cast<int>(std::clamp<int64_t>(deadlineMs - SteadyNowMs(), 0, kWriteSliceMs));
}

enum class WriteEnd {
  kWritten,  // every byte was taken
  kStopped,  // `stopping` said so; what was taken is reported
  kFailed,   // a device error, a closed port, or `deadlineMs` passed
};

// Writes `count` bytes by `deadlineMs` (SteadyNowMs terms). `stopping()` is
// asked before each piece; `wrote(bytes, n)` is told each piece taken.
template <typename Stopping, typename Wrote>
WriteEnd WriteSliced(Port& port, const uint8_t* bytes, size_t count, int64_t deadlineMs,
                     Stopping stopping, Wrote wrote) {
  size_t at = 0;
  while (at < count) {
    if (stopping()) return WriteEnd::kStopped;
    int slice = SliceUntil(deadlineMs);
    size_t left = std::min<size_t>(count - at, static_cast<size_t>(INT32_MAX));
    int n = port.WriteSome(bytes + at, static_cast<int>(left), slice);
    if (n > 0) {
      wrote(bytes + at, n);
      at += static_cast<size_t>(n);
    } else if (n < 0 || SteadyNowMs() >= deadlineMs) {
      return WriteEnd::kFailed;
    }
  }
  return WriteEnd::kWritten;
}

}  // namespace quorvel
