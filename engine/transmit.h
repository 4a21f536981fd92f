// The terminal state's send text as bytes, the send box's options, and the
// auto-reply that sends it. None of these may be called with state.lock held.
#pragma once

#include <cstdint>
#include <vector>

#include "core/terminal_state.h"
#include "engine/send_writer.h"
#include "sending/send_composer.h"
#include "sending/text_encoding.h"

namespace quorvel {

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

// The auto-reply: the send text as it stands, composed as ComposedBytes does,
// as a reply through `door` (engine/send_writer.h). With `line` closed
// nothing happens at all. An empty text, or hex without digits, still makes
// one transmission of 0 bytes.
void SendComposedText(TerminalState& state, Port& line, SendWriter& door);

}  // namespace quorvel
