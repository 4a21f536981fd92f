#include "engine/transmit.h"

#include <string>

namespace quorvel {

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

void SendComposedText(TerminalState& state, Port& line, SendWriter& door) {
  if (!line.IsOpen()) return;
  std::vector<uint8_t> bytes = ComposedBytes(state);
  door.Reply(bytes.data(), static_cast<int>(bytes.size()));
}

}  // namespace quorvel
