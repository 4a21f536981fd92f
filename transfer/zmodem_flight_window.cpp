#include "transfer/zmodem_flight_window.h"

#include <algorithm>

namespace quorvel::zmodem {

void FlightWindow::Restart(uint64_t position, int64_t nowMs) {
  acked_ = position;
  sampleFrom_ = position;
  sampleAtMs_ = nowMs;
}

void FlightWindow::Acked(uint64_t acked, int64_t nowMs) {
  if (acked <= acked_) return;
  const uint64_t answered = acked - acked_;
  acked_ = acked;
  Sample(acked, nowMs);
  const bool calm = calm_ >= kCalmBytes;
  calm_ = std::min(kCalmBytes, calm_ + answered);
  if (calm) bytes_ = std::min(ceiling_, bytes_ + answered);
}

void FlightWindow::Sample(uint64_t acked, int64_t nowMs) {
  const int64_t elapsed = nowMs - sampleAtMs_;
  if (elapsed < kSampleMs) return;
  const uint64_t perSecond = (acked - sampleFrom_) * 1000 / static_cast<uint64_t>(elapsed);
  sampleFrom_ = acked;
  sampleAtMs_ = nowMs;
  ceiling_ = std::clamp<uint64_t>(perSecond * kAheadMs / 1000, kLeast, kMost);
  bytes_ = std::min(bytes_, ceiling_);
}

void FlightWindow::Lost() {
  bytes_ = kLeast;
  calm_ = 0;
}

}  // namespace quorvel::zmodem
