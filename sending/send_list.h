// The send list: named sends kept for the day's work, each with its own
// line ending, escapes, check and a pause after it. The list is bounded
// (entries, name and content lengths, delay) so that it stays a small part of
// the settings file and a shared file cannot make it huge.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sending/send_composer.h"

namespace quorvel {

inline constexpr std::size_t kMaxSendListEntries = 100;
inline constexpr std::size_t kMaxEntryNameLength = 64;
// The content's bytes once parsed (ContentBytes), and its text as typed: four
// characters a byte leave room for "01, " and "\x41".
inline constexpr std::size_t kMaxEntryContentLength = 1024;
inline constexpr std::size_t kMaxEntryTextLength = 4 * kMaxEntryContentLength;
inline constexpr int kMaxEntryDelayMs = 60'000;

struct SendListEntry {
  std::string name;
  std::string content;  // text, or hex digits when `hex`
  bool hex = false;
  SendOptions options;
  int delayMs = 0;  // the pause after it when the list is sent in order
  bool operator==(const SendListEntry&) const = default;
};

// Whether `text` is hex bytes as a stored hex send takes them: runs of one
// or two hex digits between spaces, tabs, commas and line ends. An empty
// text passes: it is no bytes.
bool IsHexBytes(std::string_view text);

// Why `entry` cannot be kept, in a sentence for the user; "" when it can:
// a name that is empty, too long or holds a control character, content text
// longer than kMaxEntryTextLength, hex content with anything but pairs of hex
// digits between spaces, tabs and commas (a stray letter or "0x" would
// otherwise send quietly different bytes), content of more than
// kMaxEntryContentLength bytes once parsed, a delay outside 0 to
// kMaxEntryDelayMs.
std::string EntryProblem(const SendListEntry& entry);

// The bytes `entry` puts on the wire.
std::vector<uint8_t> EntryBytes(const SendListEntry& entry);

}  // namespace quorvel
