#include "core/terminal_state.h"

#include <cstring>

#include "core/clock.h"

namespace quorvel {

TerminalState::TerminalState(Port& linePort)
    : port(linePort), counterFrequency(CounterFrequency()) {
  lastSendTime = ReadCounter();
}

void TerminalState::AttachWindow(WindowServices* window) {
  window_.store(window);
}

void TerminalState::TapReceived(const uint8_t* bytes, int count) const {
  if (LineTap* start = startTap.load()) start->Received(bytes, count);
  if (LineTap* plot = plotTap.load()) plot->Received(bytes, count);
  if (LineTap* logTap = tap.load()) logTap->Received(bytes, count);
  if (LineTap* storeTap = sessionTap.load()) storeTap->Received(bytes, count);
}

void TerminalState::TapSent(const uint8_t* bytes, int count) const {
  if (LineTap* logTap = tap.load()) logTap->Sent(bytes, count);
  if (LineTap* storeTap = sessionTap.load()) storeTap->Sent(bytes, count);
}

void TerminalState::TapEvent(LineEvent event, std::string_view text) const {
  if (LineTap* plot = plotTap.load()) plot->Noted(event, text);
  if (LineTap* logTap = tap.load()) logTap->Noted(event, text);
  if (LineTap* storeTap = sessionTap.load()) storeTap->Noted(event, text);
}

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
