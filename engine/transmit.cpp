#include "engine/transmit.h"

#include <string>

#include "core/clock.h"

namespace quorvel {

void SendBytes(TerminalState& state, const uint8_t* bytes, int count) {
  // While a window send holds the wire, it writes this after its own bytes.
  if (!state.wire.TakeOrLeave(bytes, count)) return;
  {
    std::lock_guard guard(state.lock);
    state.lastSendTime = ReadCounter();
    ++state.sendCount;
  }
  std::optional<PortFailure> failed = state.port.Write(bytes, count);
  // Told once per send, before anything else of it shows; the bytes count
  // all the same.
  if (WindowServices* window = state.Window(); failed && window) {
    window->ShowMessage(StringId::kWriteFail);
  }
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

namespace {

SendOptions OptionsFrom(int32_t ending, bool escapes, int32_t checksum) {
  SendOptions options;
  if (ending >= 0 && ending <= static_cast<int32_t>(LineEnding::kCrLf)) {
    options.ending = static_cast<LineEnding>(ending);
  }
  options.escapes = escapes;
  if (checksum >= 0 && checksum <= static_cast<int32_t>(ChecksumKind::kModbusLrc)) {
    options.checksum = static_cast<ChecksumKind>(checksum);
  }
  return options;
}

}  // namespace

SendOptions SendOptionsOf(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return OptionsFrom(state.sendLineEnding, state.sendEscapes, state.sendChecksum);
}

void SetSendOptions(TerminalState& state, const SendOptions& options) {
  std::lock_guard guard(state.lock);
  state.sendLineEnding = static_cast<int32_t>(options.ending);
  state.sendEscapes = options.escapes;
  state.sendChecksum = static_cast<int32_t>(options.checksum);
}

TextEncoding SendEncodingOf(TerminalState& state) {
  std::lock_guard guard(state.lock);
  return state.sendEncoding == static_cast<int32_t>(TextEncoding::kUtf8) ? TextEncoding::kUtf8
                                                                         : TextEncoding::kLatin1;
}

void SetSendEncoding(TerminalState& state, TextEncoding encoding) {
  std::lock_guard guard(state.lock);
  state.sendEncoding = static_cast<int32_t>(encoding);
}

std::vector<uint8_t> ComposedBytes(TerminalState& state) {
  std::string text;
  bool asHex;
  SendOptions options;
  {
    std::lock_guard guard(state.lock);
    text = state.sendText;
    asHex = state.sendAsHex != 0;
    options = OptionsFrom(state.sendLineEnding, state.sendEscapes, state.sendChecksum);
  }
  return ComposeSend(text, asHex, options);
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
