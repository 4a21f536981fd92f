#include "engine/transmit.h"

#include <string>

#include "core/clock.h"
#include "engine/hex.h"

namespace quorvel {

void SendBytes(TerminalState& state, const uint8_t* bytes, int count) {
  // While a window send holds the wire, it writes this after its own bytes.
  if (!state.wire.TakeOrLeave(bytes, count)) return;
  {
    std::lock_guard guard(state.lock);
    state.lastSendTime = ReadCounter();
    ++state.sendCount;
  }
  state.port.Write(bytes, count);
  state.TapSent(bytes, count);
  state.wire.ReleaseReply();
  uint32_t shown;
  {
    std::lock_guard guard(state.lock);
    state.txCount += static_cast<uint32_t>(count);
    shown = state.txCount;
  }
  if (WindowServices* window = state.Window()) window->ShowTxCount(shown);
}

std::vector<uint8_t> ComposedBytes(TerminalState& state) {
  std::string text;
  bool asHex;
  {
    std::lock_guard guard(state.lock);
    text = state.sendText;
    asHex = state.sendAsHex != 0;
  }
  if (!asHex) return {text.begin(), text.end()};
  std::vector<uint8_t> bytes(text.size() + 1);
  bytes.resize(static_cast<size_t>(ParseHexText(bytes.data(), text)));
  return bytes;
}

void SendComposedText(TerminalState& state) {
  if (!state.port.IsOpen()) return;
  std::vector<uint8_t> bytes = ComposedBytes(state);
  SendBytes(state, bytes.data(), static_cast<int>(bytes.size()));
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
