#include "history/session_lines.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace quorvel {
namespace {

constexpr char32_t kReplacement = 0xFFFD;
constexpr uint8_t kEscape = 0x1B;

// Bytes an ANSI escape sequence at bytes[0] (ESC) takes: CSI up to its final
// byte, OSC up to BEL or ESC '\', otherwise ESC and one byte. A sequence cut
// off by the line's end takes the rest of it.
size_t EscapeLength(std::span<const uint8_t> bytes) {
  if (bytes.size() < 2) return bytes.size();
  if (bytes[1] == '[') {
    for (size_t i = 2; i < bytes.size(); ++i) {
      if (bytes[i] >= 0x40 && bytes[i] <= 0x7E) return i + 1;
      if (bytes[i] < 0x20 || bytes[i] > 0x3F) return i;  // not a CSI byte: ends here
    }
    return bytes.size();
  }
  if (bytes[1] == ']') {
    for (size_t i = 2; i < bytes.size(); ++i) {
      if (bytes[i] == 0x07) return i + 1;
      if (bytes[i] == kEscape && i + 1 < bytes.size() && bytes[i + 1] == '\\') return i + 2;
    }
    return bytes.size();
  }
  return 2;
}

// One UTF-8 character at bytes[0]: its code point and length, or U+FFFD for
// the longest start of a valid sequence that is there (at least one byte).
std::pair<char32_t, size_t> DecodeUtf8(std::span<const uint8_t> bytes) {
  uint8_t lead = bytes[0];
  if (lead < 0x80) return {lead, 1};
  size_t need = 0;
  uint8_t low = 0x80;
  uint8_t high = 0xBF;
  char32_t value = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    need = 1;
    value = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    need = 2;
    value = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;
    if (lead == 0xED) high = 0x9F;  // no surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    need = 3;
    value = lead & 0x07;
    if (lead == 0xF0) low = 0x90;
    if (lead == 0xF4) high = 0x8F;  // nothing past U+10FFFF
  } else {
    return {kReplacement, 1};
  }
  for (size_t k = 1; k <= need; ++k) {
    if (k >= bytes.size() || bytes[k] < low || bytes[k] > high) return {kReplacement, k};
    value = (value << 6) | (bytes[k] & 0x3F);
    low = 0x80;
    high = 0xBF;
  }
  return {value, need + 1};
}

size_t LineEndLength(std::span<const uint8_t> bytes) {
  size_t n = bytes.size();
  if (n >= 2 && bytes[n - 2] == '\r' && bytes[n - 1] == '\n') return 2;
  if (n >= 1 && (bytes[n - 1] == '\r' || bytes[n - 1] == '\n')) return 1;
  return 0;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

DecodedLine DecodeLine(std::span<const uint8_t> bytes, const DecodeOptions& options) {
  DecodedLine line;
  size_t shown = bytes.size() - (options.dropLineEnd ? LineEndLength(bytes) : 0);
  line.text.reserve(shown);
  line.byteOf.reserve(shown + 1);
  for (size_t i = 0; i < shown;) {
    std::span<const uint8_t> rest = bytes.subspan(i, shown - i);
    if (options.hideAnsi && rest[0] == kEscape) {
      i += EscapeLength(rest);
      continue;
    }
    char32_t c = rest[0];
    size_t length = 1;
    if (options.encoding == SessionEncoding::kUtf8) std::tie(c, length) = DecodeUtf8(rest);
    if (options.controlSymbols && c < 0x20) c += 0x2400;
    if (options.controlSymbols && c == 0x7F) c = 0x2421;
    line.text.push_back(c);
    line.byteOf.push_back(static_cast<uint32_t>(i));
    i += length;
  }
  line.byteOf.push_back(static_cast<uint32_t>(bytes.size()));
  return line;
}

std::string ToUtf8(std::u32string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char32_t c : text) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = kReplacement;
    if (c < 0x80) {
      out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (c >> 6)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (c >> 12)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (c >> 18)));
      out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
  }
  return out;
}

std::string BytesAsHex(std::span<const uint8_t> bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size() * 3);
  for (uint8_t byte : bytes) {
    if (!out.empty()) out.push_back(' ');
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
  }
  return out;
}

HexRows WrapHex(std::span<const uint8_t> bytes, int widthChars, int indentChars) {
  HexRows rows;
  int indent = std::max(indentChars, 0);
  rows.bytesPerRow = static_cast<size_t>(std::max(1, (widthChars - indent + 1) / 3));
  for (size_t at = 0; at < bytes.size(); at += rows.bytesPerRow) {
    std::string row(rows.rows.empty() ? 0 : static_cast<size_t>(indent), ' ');
    row += BytesAsHex(bytes.subspan(at, std::min(rows.bytesPerRow, bytes.size() - at)));
    rows.rows.push_back(std::move(row));
  }
  return rows;
}

std::string StampText(StampStyle style, const SessionLine& line) {
  char text[48];
  switch (style) {
    case StampStyle::kNone:
      return "";
    case StampStyle::kTimeOfDay: {
      int64_t second = line.wallMs >= 0 ? line.wallMs / 1000 : (line.wallMs - 999) / 1000;
      std::time_t time = static_cast<std::time_t>(second);
      std::tm local{};
      localtime_r(&time, &local);
      std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min,
                    local.tm_sec, static_cast<int>(line.wallMs - second * 1000));
      break;
    }
    case StampStyle::kSinceOpen: {
      int64_t ms = std::max<int64_t>(line.sinceOpenNs, 0) / 1'000'000;
      std::snprintf(text, sizeof text, "%lld.%03lld", static_cast<long long>(ms / 1000),
                    static_cast<long long>(ms % 1000));
      break;
    }
    case StampStyle::kSincePrevious: {
      int64_t us = std::max<int64_t>(line.sincePreviousNs, 0) / 1000;
      std::snprintf(text, sizeof text, "+%lld.%03lld", static_cast<long long>(us / 1000),
                    static_cast<long long>(us % 1000));
      break;
    }
  }
  return text;
}

std::optional<std::vector<uint8_t>> FindPattern(std::string_view typed, SessionDisplay display,
                                                SessionEncoding encoding) {
  std::vector<uint8_t> bytes;
  if (display == SessionDisplay::kHex) {
    int high = -1;
    for (char c : typed) {
      if (c == ' ') {
        if (high >= 0) return std::nullopt;  // half a pair
        continue;
      }
      int digit = HexDigit(c);
      if (digit < 0) return std::nullopt;
      if (high < 0) {
        high = digit;
      } else {
        bytes.push_back(static_cast<uint8_t>(high << 4 | digit));
        high = -1;
      }
    }
    if (high >= 0) return std::nullopt;
  } else if (encoding == SessionEncoding::kUtf8) {
    bytes.assign(typed.begin(), typed.end());
  } else {
    auto raw = reinterpret_cast<const uint8_t*>(typed.data());
    for (size_t i = 0; i < typed.size();) {
      auto [c, length] = DecodeUtf8({raw + i, typed.size() - i});
      if (c > 0xFF) return std::nullopt;  // past Latin-1, or not valid UTF-8 (U+FFFD)
      bytes.push_back(static_cast<uint8_t>(c));
      i += length;
    }
  }
  if (bytes.empty() || bytes.size() > kSessionMaxQuery) return std::nullopt;
  return bytes;
}

}  // namespace quorvel
