// What the core asks of the window that owns the terminal state. The receive
// worker and the transmit paths call these from their own threads; every call
// is synchronous: it returns once the window has done what was asked.
// With no window attached (TerminalState::window is null) nothing is called.
#pragma once

#include <cstdint>

#include "core/strings.h"

namespace quorvel {

enum class RefreshPhase : int {
  kPublish = 0,  // fields to controls: show the new receive text and counters
  kCapture = 1,  // controls to fields: take in what the user typed first
};

class WindowServices {
 public:
  virtual ~WindowServices() = default;

  // Render the receive log and run the form exchange in the phase's direction.
  virtual void Refresh(RefreshPhase phase) = 0;

  // Show txCount in the TX box at once, outside any form exchange.
  virtual void ShowTxCount(uint32_t txCount) = 0;

  // A modal message box with only OK; returns when the user dismissed it.
  virtual void ShowMessage(StringId text) = 0;
};

}  // namespace quorvel
