#include "transfer/zmodem_start_tap.h"

#include <cstddef>
#include <span>

namespace quorvel {

void ZmodemStartTap::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  if (!detector_.Feed(std::span(bytes, static_cast<size_t>(count)))) return;
  started_.store(true, std::memory_order_release);
  wake_.Signal();
}

bool ZmodemStartTap::TakeStart() {
  wake_.Drain();
  return started_.exchange(false, std::memory_order_acq_rel);
}

}  // namespace quorvel
