#include "support/state_access.h"

#include "support/recording_window.h"

namespace quorvel::testing {

std::vector<uint8_t> LogOf(TerminalState& state) {
  return Locked(state, [&] {
    return std::vector<uint8_t>(state.rxBuffer.begin(), state.rxBuffer.begin() + state.rxLength);
  });
}

bool WaitForRx(TerminalState& state, uint32_t count) {
  return RecordingWindow::WaitFor(
      [&] { return Locked(state, [&] { return state.rxCount >= count; }); });
}

}  // namespace quorvel::testing
