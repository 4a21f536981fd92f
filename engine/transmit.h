// The receive worker's way onto the line (echo, auto-reply), and the send
// text as bytes. The window's own sends go through the send writer. None of
// these may be called with state.lock held.
#pragma once

#include <cstdint>
#include <vector>

#include "core/terminal_state.h"
#include "sending/send_composer.h"
#include "sending/text_encoding.h"

namespace quorvel {

// Stamps the transmission time, counts one transmission, writes the bytes and
// counts them in txCount (even when the write fails, which the window shows
// as "Write com fail!" first), then shows the new TX count. Does not look at whether the port is
// open. While a window send holds the wire (state.wire), the bytes are left to it and nothing else
// happens here: it writes and counts them right after its own.
void SendBytes(TerminalState& state, const uint8_t* bytes, int count);

// The send box's options as they stand, and a change of them (any thread;
// lock not held). A number out of range reads as the option off.
SendOptions SendOptionsOf(TerminalState& state);
void SetSendOptions(TerminalState& state, const SendOptions& options);
// The same for the encoding of typed text; out of range reads as Latin-1.
TextEncoding SendEncodingOf(TerminalState& state);
void SetSendEncoding(TerminalState& state, TextEncoding encoding);

// The send text as it stands, composed with the send box's options
// (sending/send_composer.h): parsed as hex when sendAsHex is set.
std::vector<uint8_t> ComposedBytes(TerminalState& state);

// Sends the send text as it stands, composed as ComposedBytes does. With
// the port closed nothing happens at all. An empty text, or hex without
// digits, still makes one transmission of 0 bytes.
void SendComposedText(TerminalState& state);

// Zeroes the counters and statistics; lastIntervalMs is kept.
void ResetCounters(TerminalState& state);

}  // namespace quorvel
