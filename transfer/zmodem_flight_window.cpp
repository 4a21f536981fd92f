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
  const uint64_t taken = acked - sampleFrom_;
  Restart(acked, nowMs);
  if (calm_ < kCalmBytes) {
    calm_ = std::min(kCalmBytes, calm_ + taken);
    return;
  }
  const uint64_t perSecond = taken * 1000 / static_cast<uint64_t>(elapsed);
  const uint64_t wanted = std::clamp<uint64_t>(perSecond * kAheadMs / 1000, kLeast, kMost);
  bytes_ = std::min(wanted, bytes_ * 2);
}

void FlightWindow::Lost() {
  bytes_ = kLeast;
  calm_ = 0;
}

}  // namespace quorvel::zmodem
