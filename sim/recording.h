// A recording of a line, read back from the log's hex dump (Log to file with
// the hex format and sent bytes, or a saved session): a header line per burst
// with its local time to the millisecond and its direction,
//   2026-12-07T14:15:28.123 RX
// then rows of up to 16 bytes, as LogFormatter writes them.
//
// Directions are the terminal's: RX is what the terminal received, so what
// the device sent; TX is what the host sent to the device.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "logging/log_format.h"

namespace quorvel {

struct RecordedBurst {
  LogDirection direction = LogDirection::kReceived;
  int64_t ms = 0;  // the stamp as milliseconds of a calendar without time zones
  std::vector<uint8_t> bytes;
  size_t line = 0;  // of its header
};

struct RecordingError {
  size_t line = 0;  // 1-based; 0 when there is none
  std::string message;
};

// Reads a whole recording. On success returns true and fills `bursts` (a
// header without rows gives no burst); on failure returns false with `error`
// naming the first bad line, and `bursts` holds what came before it. Lines may
// end in CR LF. A date change between stamps counts as the time it is, so a
// recording across midnight reads forwards; a stamp earlier than the one
// before it is an error.
bool ParseRecording(std::string_view text, std::vector<RecordedBurst>& bursts,
                    RecordingError& error);

// Milliseconds of "YYYY-MM-DDTHH:MM:SS.mmm" on a calendar without time zones;
// false for anything else.
bool ParseStamp(std::string_view stamp, int64_t& ms);

}  // namespace quorvel
