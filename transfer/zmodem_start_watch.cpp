#include "transfer/zmodem_start_watch.h"

#include <cstddef>
#include <span>

namespace quorvel {

void ZmodemStartWatch::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  if (!detector_.Feed(std::span(bytes, static_cast<size_t>(count)))) return;
  started_.Raise();
}

}  // namespace quorvel
