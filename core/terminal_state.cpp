#include "core/terminal_state.h"

#include <cstring>

namespace quorvel {

void TerminalState::AppendReceived(const uint8_t* bytes, int n) {
  if (n <= 0) return;
  if (n > kLogCapacity - 1) n = kLogCapacity - 1;  // never more than the log can hold
  if (rxLength + n >= kLogCapacity) rxLength = 0;
  std::memcpy(rxBuffer.data() + rxLength, bytes, static_cast<size_t>(n));
  rxLength += n;
  rxBuffer[rxLength] = 0;
}

void TerminalState::ClearReceived() {
  receiveText.clear();
  rxBuffer[0] = 0;
  rxLength = 0;
}

}  // namespace quorvel
