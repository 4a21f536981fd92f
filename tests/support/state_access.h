// Reading the terminal state from a test thread, with its lock held, as the
// window would.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "core/link_counters.h"
#include "core/terminal_state.h"

namespace quorvel::testing {

// Runs `read` with state.lock held and returns what it returns.
template <typename F>
auto Locked(TerminalState& state, F read) {
  std::lock_guard guard(state.lock);
  return read();
}

// The receive log as it stands.
std::vector<uint8_t> LogOf(TerminalState& state);

// Waits until the RX count reaches `count`; false on timeout.
bool WaitForRx(const LinkCounters& counters, uint32_t count);

}  // namespace quorvel::testing
