#include "support/state_access.h"

#include "support/recording_window.h"

namespace quorvel::testing {

std::vector<uint8_t> LogOf(TerminalState& state) {
  return Locked(state, [&] {
    return std::vector<uint8_t>(state.rxBuffer.begin(), state.rxBuffer.begin() + state.rxLength);
  });
}

bool WaitForRx(const LinkCounters& counters, uint32_t count) {
  return RecordingWindow::WaitFor([&] { return counters.Read().rxCount >= count; });
}

}  // namespace quorvel::testing
