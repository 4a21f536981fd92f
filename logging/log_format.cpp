#include "logging/log_format.h"

#include <cstring>
#include <ctime>

namespace quorvel {

LogFormatter::LogFormatter(LogFormat format, bool bothDirections, LogLabels labels)
    : format_(format), bothDirections_(bothDirections), labels_(labels) {}

void LogFormatter::Append(LogDirection direction, int64_t unixMs, const uint8_t* bytes,
                          size_t count, std::string& out) {
  switch (format_) {
    case LogFormat::kRaw:
      out.append(reinterpret_cast<const char*>(bytes), count);
      break;
    case LogFormat::kText:
      AppendText(direction, unixMs, bytes, count, out);
      break;
    case LogFormat::kHex:
      AppendHex(direction, unixMs, bytes, count, out);
      break;
  }
}

void LogFormatter::AppendStamp(LogDirection direction, int64_t unixMs, std::string& out) {
  int64_t second = unixMs >= 0 ? unixMs / 1000 : (unixMs - 999) / 1000;
  if (second != cachedSecond_) {
    // Local time changes only once a second; the time zone lookup is dear.
    std::time_t time = static_cast<std::time_t>(second);
    std::tm local{};
    localtime_r(&time, &local);
    cachedStampLength_ =
        std::strftime(cachedStamp_, sizeof cachedStamp_, "%Y-%m-%dT%H:%M:%S", &local);
    cachedSecond_ = second;
  }
  int millis = static_cast<int>(unixMs - second * 1000);
  const char stamp[] = {'.', static_cast<char>('0' + millis / 100),
                        static_cast<char>('0' + millis / 10 % 10),
                        static_cast<char>('0' + millis % 10), ' '};
  out.append(cachedStamp_, cachedStampLength_);
  out.append(stamp, sizeof stamp);
  if (bothDirections_ || format_ == LogFormat::kHex) {
    out += labels_.Of(direction);
    if (format_ == LogFormat::kText) out += ' ';
  }
}

void LogFormatter::AppendText(LogDirection direction, int64_t unixMs, const uint8_t* bytes,
                              size_t count, std::string& out) {
  if (count == 0) return;
  if (!atLineStart_ && direction != lineDirection_) {
    out += '\n';
    atLineStart_ = true;
  }
  const uint8_t* end = bytes + count;
  while (bytes < end) {
    if (atLineStart_) {
      AppendStamp(direction, unixMs, out);
      lineDirection_ = direction;
      atLineStart_ = false;
    }
    const void* feed = std::memchr(bytes, '\n', static_cast<size_t>(end - bytes));
    const uint8_t* stop = feed ? static_cast<const uint8_t*>(feed) + 1 : end;
    out.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(stop - bytes));
    atLineStart_ = feed != nullptr;
    bytes = stop;
  }
}

void LogFormatter::AppendHex(LogDirection direction, int64_t unixMs, const uint8_t* bytes,
                             size_t count, std::string& out) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  AppendStamp(direction, unixMs, out);
  out += '\n';
  for (size_t row = 0; row < count; row += kHexRowBytes) {
    size_t n = count - row < kHexRowBytes ? count - row : kHexRowBytes;
    out.append(kHexRowIndent, ' ');
    for (size_t i = 0; i < n; ++i) {
      uint8_t byte = bytes[row + i];
      out += kDigits[byte >> 4];
      out += kDigits[byte & 15];
      out += ' ';
    }
    out.append((kHexRowBytes - n) * 3 + 1, ' ');
    for (size_t i = 0; i < n; ++i) {
      uint8_t byte = bytes[row + i];
      out += byte >= 0x20 && byte < 0x7f ? static_cast<char>(byte) : '.';
    }
    out += '\n';
  }
}

}  // namespace quorvel
