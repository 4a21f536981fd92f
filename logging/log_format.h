// How the log file writes what the line carried:
// - raw: the bytes as they came, nothing added;
// - text: each line starts with the local time of its first byte, to the
//   millisecond in ISO 8601 ("2026-12-07T14:15:28.123 "); a line ends with its
//   line feed. With sent bytes logged too, the stamp is followed by "RX " or
//   "TX ", and a line that changes direction midway is ended with a line feed
//   of the log's own, so each direction keeps lines of its own;
// - hex: each burst (one read, one write) gets a line with its stamp and
//   direction, then rows of 16 bytes: four spaces, "41 " per byte padded to
//   48 columns, a space and the bytes as printable ASCII ('.' for others).
// The directions are named "RX" and "TX" unless the caller names them
// otherwise (a linked pair's two sides: "A→" and "B→").
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace quorvel {

enum class LogFormat : int { kRaw = 0, kText = 1, kHex = 2 };
enum class LogDirection : uint8_t { kReceived = 0, kSent = 1 };

// What a record's direction is called in a file. UTF-8; valid as long as the
// formatter that uses it (string literals, in practice).
struct LogLabels {
  const char* received = "RX";
  const char* sent = "TX";
  const char* Of(LogDirection direction) const {
    return direction == LogDirection::kReceived ? received : sent;
  }
};

inline constexpr size_t kHexRowBytes = 16;
inline constexpr size_t kHexRowIndent = 4;
inline constexpr size_t kHexRowField = kHexRowBytes * 3;

// Turns records of the line into the file's text, record by record; keeps the
// state a line spans (the text format's place in its line). One thread.
class LogFormatter {
 public:
  LogFormatter(LogFormat format, bool bothDirections, LogLabels labels = {});

  // Appends the text of `count` bytes that went `direction` at `unixMs`
  // (milliseconds since the epoch) to `out`.
  void Append(LogDirection direction, int64_t unixMs, const uint8_t* bytes, size_t count,
              std::string& out);

 private:
  void AppendStamp(LogDirection direction, int64_t unixMs, std::string& out);
  void AppendText(LogDirection direction, int64_t unixMs, const uint8_t* bytes, size_t count,
                  std::string& out);
  void AppendHex(LogDirection direction, int64_t unixMs, const uint8_t* bytes, size_t count,
                 std::string& out);

  LogFormat format_;
  bool bothDirections_;
  LogLabels labels_;
  bool atLineStart_ = true;
  LogDirection lineDirection_ = LogDirection::kReceived;
  int64_t cachedSecond_ = INT64_MIN;
  char cachedStamp_[32] = {};  // "YYYY-MM-DDTHH:MM:SS" of cachedSecond_
  size_t cachedStampLength_ = 0;
};

}  // namespace quorvel
