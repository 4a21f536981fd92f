#include "transfer/zmodem_flight_window.h"

#include <algorithm>

namespace quorvel::zmodem {

void FlightWindow::Restart(uint64_t position, int64_t nowMs) {
  sampleFrom_ = position;
  sampleAtMs_ = nowMs;
}

void FlightWindow::Acked(uint64_t acked, int64_t nowMs) {
  const int64_t elapsed = nowMs - sampleAtMs_;
  if (elapsed < kSampleMs || acked <= sampleFrom_) return;
  const uint64_t perSecond = (acked - sampleFrom_) * 1000 / static_cast<uint64_t>(elapsed);
  const uint64_t wanted = std::clamp<uint64_t>(perSecond * kAheadMs / 1000, kLeast, kMost);
  bytes_ = std::min(wanted, bytes_ * 2);
  Restart(acked, nowMs);
}

void FlightWindow::Lost(uint64_t position, int64_t nowMs) {
  bytes_ = kLeast;
  Restart(position, nowMs);
}

}  // namespace quorvel::zmodem
