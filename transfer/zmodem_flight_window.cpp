#include "transfer/zmodem_flight_window.h"

#include <algorithm>

namespace quorvel::zmodem {

namespace {

// Ten bits carry a byte: eight of data, a start and a stop bit.
constexpr uint64_t kBitsPerByte = 10;

}  // namespace

FlightWindow::FlightWindow(uint32_t lineBaud)
    : most_(std::clamp<uint64_t>(lineBaud / 2, kLeast, kMost)),
      bytes_(std::clamp<uint64_t>(lineBaud / kBitsPerByte * kAheadMs / 1000, kLeast, most_)) {}

void FlightWindow::Restart(uint64_t position, int64_t nowMs) {
  sampleFrom_ = position;
  sampleAtMs_ = nowMs;
}

void FlightWindow::Acked(uint64_t acked, int64_t nowMs) {
  const int64_t elapsed = nowMs - sampleAtMs_;
  if (elapsed < kSampleMs || acked <= sampleFrom_) return;
  const uint64_t perSecond = (acked - sampleFrom_) * 1000 / static_cast<uint64_t>(elapsed);
  Restart(acked, nowMs);
  const uint64_t wanted = std::clamp<uint64_t>(perSecond * kAheadMs / 1000, kLeast, most_);
  bytes_ = std::min(wanted, bytes_ * 2);
}

}  // namespace quorvel::zmodem
