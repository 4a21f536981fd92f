#include "sending/send_composer.h"

#include "sending/hex.h"

namespace quorvel {
namespace {

constexpr LineEndingInfo kLineEndings[] = {
    {LineEnding::kNone, "none", "None"},
    {LineEnding::kCr, "cr", "CR"},
    {LineEnding::kLf, "lf", "LF"},
    {LineEnding::kCrLf, "crlf", "CR LF"},
};

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

constexpr struct {
  char letter;
  uint8_t byte;
} kSimpleEscapes[] = {{'r', '\r'}, {'n', '\n'}, {'t', '\t'}, {'\\', '\\'}};

// The byte an escape at text[i] (a backslash) stands for and its length, or
// a length of 0 when it is no escape.
int ReadEscape(std::string_view text, size_t i, uint8_t& byte) {
  if (i + 1 >= text.size()) return 0;
  for (const auto& escape : kSimpleEscapes) {
    if (text[i + 1] != escape.letter) continue;
    byte = escape.byte;
    return 2;
  }
  if (text[i + 1] != 'x' || i + 3 >= text.size()) return 0;
  int high = HexDigitValue(text[i + 2]);
  int low = HexDigitValue(text[i + 3]);
  if (high < 0 || low < 0) return 0;
  byte = static_cast<uint8_t>(high * 16 + low);
  return 4;
}

}  // namespace

std::span<const LineEndingInfo> LineEndingTable() {
  return kLineEndings;
}

const LineEndingInfo& InfoOf(LineEnding ending) {
  for (const auto& info : kLineEndings) {
    if (info.ending == ending) return info;
  }
  return kLineEndings[0];
}

std::optional<LineEnding> LineEndingFromKey(std::string_view key) {
  for (const auto& info : kLineEndings) {
    if (info.key == key) return info.ending;
  }
  return std::nullopt;
}

std::string_view LineEndingBytes(LineEnding ending) {
  switch (ending) {
    case LineEnding::kCr:
      return "\r";
    case LineEnding::kLf:
      return "\n";
    case LineEnding::kCrLf:
      return "\r\n";
    case LineEnding::kNone:
      break;
  }
  return "";
}

std::vector<uint8_t> ReadEscapes(std::string_view text) {
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    uint8_t byte = 0;
    int length = text[i] == '\\' ? ReadEscape(text, i, byte) : 0;
    if (length == 0) {
      bytes.push_back(static_cast<uint8_t>(text[i]));
      ++i;
    } else {
      bytes.push_back(byte);
      i += static_cast<size_t>(length);
    }
  }
  return bytes;
}

std::vector<uint8_t> ContentBytes(std::string_view text, bool asHex, bool escapes) {
  std::vector<uint8_t> bytes;
  if (asHex) {
    // ParseHexText writes at most one byte per character.
    bytes.resize(text.size() + 1);
    bytes.resize(static_cast<size_t>(ParseHexText(bytes.data(), text)));
  } else if (escapes) {
    bytes = ReadEscapes(text);
  } else {
    bytes.assign(text.begin(), text.end());
  }
  return bytes;
}

std::vector<uint8_t> ComposeSend(std::string_view text, bool asHex, const SendOptions& options) {
  std::vector<uint8_t> bytes = ContentBytes(text, asHex, options.escapes);
  AppendChecksum(options.checksum, bytes);
  if (!asHex) {
    std::string_view ending = LineEndingBytes(options.ending);
    bytes.insert(bytes.end(), ending.begin(), ending.end());
  }
  return bytes;
}

}  // namespace quorvel
