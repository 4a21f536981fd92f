// Everything that puts bytes on the line. Called on the UI thread (Send
// button, send timer) and on the receive worker (echo, auto-reply). None of
// these may be called with state.lock held.
#pragma once

#include <cstdint>

#include "core/terminal_state.h"

namespace quorvel {

// Stamps the transmission time, counts one transmission, writes the bytes and
// counts them in txCount (even when the write fails), then shows the new TX
// count. Does not look at whether the port is open.
void SendBytes(TerminalState& state, const uint8_t* bytes, int count);

// Sends the send text as it stands, parsed as hex when sendAsHex is set. With
// the port closed nothing happens at all. An empty text, or hex without
// digits, still makes one transmission of 0 bytes.
void SendComposedText(TerminalState& state);

// Zeroes the counters and statistics; lastIntervalMs is kept.
void ResetCounters(TerminalState& state);

}  // namespace quorvel
