#include "engine/transmit.h"

#include <memory>
#include <string>

#include "core/clock.h"
#include "engine/hex.h"

namespace quorvel {

void SendBytes(TerminalState& state, const uint8_t* bytes, int count) {
  {
    std::lock_guard guard(state.lock);
    state.lastSendTime = ReadCounter();
    ++state.sendCount;
  }
  state.port.Write(bytes, count);
  uint32_t shown;
  {
    std::lock_guard guard(state.lock);
    state.txCount += static_cast<uint32_t>(count);
    shown = state.txCount;
  }
  if (WindowServices* window = state.Window()) window->ShowTxCount(shown);
}

void SendComposedText(TerminalState& state) {
  if (!state.port.IsOpen()) return;
  std::string text;
  bool asHex;
  {
    std::lock_guard guard(state.lock);
    text = state.sendText;
    asHex = state.sendAsHex != 0;
  }
  if (asHex) {
    auto buffer = std::make_unique<uint8_t[]>(text.size() + 1);
    int n = ParseHexText(buffer.get(), text);
    SendBytes(state, buffer.get(), n);
  } else {
    SendBytes(state, reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
  }
}

void ResetCounters(TerminalState& state) {
  std::lock_guard guard(state.lock);
  state.intervalSumMs = 0;
  state.averageMs = 0;
  state.rxCount = 0;
  state.txCount = 0;
  state.sendCount = 0;
}

}  // namespace quorvel
