// The bytes a send puts on the wire, from its text and the send's options.
//
// In order: the content (the text parsed as hex, as the send box's "Send as
// Hex" has always parsed it, or the text's own bytes with escapes read when
// they are on), then the check over those bytes, then the line ending (text
// sends only: a hex send is exact bytes, so it never gets one). With every
// option off a send is exactly what it was before the options existed.
//
// Escapes, when on: \r \n \t \\ and \xHH (exactly two hex digits, either
// case). Anything else after a backslash, a \x without two hex digits after
// it ("\x4", "\xZZ") and a trailing backslash are kept as they were typed, so
// a bad escape never loses what the user wrote.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "sending/checksum.h"

namespace quorvel {

enum class LineEnding : int { kNone = 0, kCr, kLf, kCrLf };

struct LineEndingInfo {
  LineEnding ending;
  std::string_view key;    // as kept in the settings file: "crlf"
  std::string_view label;  // as shown to the user: "CR LF"
};

// Every ending, kNone first, in the order the user is offered them.
std::span<const LineEndingInfo> LineEndingTable();
const LineEndingInfo& InfoOf(LineEnding ending);
// The ending kept under `key`; nothing for an unknown key.
std::optional<LineEnding> LineEndingFromKey(std::string_view key);
// The bytes of an ending: "", "\r", "\n" or "\r\n".
std::string_view LineEndingBytes(LineEnding ending);

struct SendOptions {
  LineEnding ending = LineEnding::kNone;
  bool escapes = false;                         // \r \n \t \\ \xHH in text
  ChecksumKind checksum = ChecksumKind::kNone;  // sending/checksum.h
  bool operator==(const SendOptions&) const = default;
};

// `text` with its escapes read, as described above.
std::vector<uint8_t> ReadEscapes(std::string_view text);

// The content's own bytes: `text` hex-parsed when `asHex`, else the text's
// bytes with escapes read when `escapes`; no check and no line ending. What
// the limits on stored sends count.
std::vector<uint8_t> ContentBytes(std::string_view text, bool asHex, bool escapes);

// The bytes of a send of `text`: ContentBytes, then the check, then the line
// ending (text sends only).
std::vector<uint8_t> ComposeSend(std::string_view text, bool asHex, const SendOptions& options);

}  // namespace quorvel
