#include "sending/text_encoding.h"

#include <cstdio>

namespace quorvel {
namespace {

constexpr TextEncodingInfo kEncodings[] = {
    {TextEncoding::kLatin1, "latin1", "Latin-1"},
    {TextEncoding::kUtf8, "utf8", "UTF-8"},
};

// A byte that is no part of valid UTF-8 shows as this plus its value.
constexpr char32_t kEscapedByte = 0xDC00;

bool IsSurrogate(char32_t c) {
  return c >= 0xD800 && c <= 0xDFFF;
}

bool IsEscapedByte(char32_t c) {
  return c >= kEscapedByte + 0x80 && c <= kEscapedByte + 0xFF;
}

void AppendUtf8(char32_t c, std::string& out) {
  auto put = [&](char32_t bits) { out += static_cast<char>(bits); };
  if (c < 0x80) {
    put(c);
  } else if (c < 0x800) {
    put(0xC0 | (c >> 6));
    put(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    put(0xE0 | (c >> 12));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  } else {
    put(0xF0 | (c >> 18));
    put(0x80 | ((c >> 12) & 0x3F));
    put(0x80 | ((c >> 6) & 0x3F));
    put(0x80 | (c & 0x3F));
  }
}

void AppendUtf16(char32_t c, std::u16string& out) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    out += static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10));
    out += static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
}

// The code point of the valid UTF-8 sequence at bytes[at] and its length;
// length 0 when none starts there (overlong forms, surrogates and values
// above U+10FFFF are not valid).
int ReadUtf8(std::string_view bytes, size_t at, char32_t& c) {
  auto byte = [&](size_t i) { return static_cast<unsigned char>(bytes[i]); };
  unsigned char lead = byte(at);
  int length = lead < 0x80           ? 1
               : (lead >> 5) == 0x6  ? 2
               : (lead >> 4) == 0xE  ? 3
               : (lead >> 3) == 0x1E ? 4
                                     : 0;
  if (length == 0 || at + static_cast<size_t>(length) > bytes.size()) return 0;
  c = length == 1 ? lead : lead & (0x7F >> length);
  for (int i = 1; i < length; ++i) {
    unsigned char next = byte(at + static_cast<size_t>(i));
    if ((next & 0xC0) != 0x80) return 0;
    c = (c << 6) | (next & 0x3F);
  }
  constexpr char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (c < kLeast[length] || c > 0x10FFFF || IsSurrogate(c)) return 0;
  return length;
}

}  // namespace

std::span<const TextEncodingInfo> TextEncodingTable() {
  return kEncodings;
}

const TextEncodingInfo& InfoOf(TextEncoding encoding) {
  for (const auto& info : kEncodings) {
    if (info.encoding == encoding) return info;
  }
  return kEncodings[0];
}

std::optional<TextEncoding> TextEncodingFromKey(std::string_view key) {
  for (const auto& info : kEncodings) {
    if (info.key == key) return info.encoding;
  }
  return std::nullopt;
}

EncodedText EncodeText(std::u16string_view text, TextEncoding encoding) {
  EncodedText encoded;
  encoded.bytes.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    if (encoding == TextEncoding::kLatin1 && c <= 0xFF) {
      encoded.bytes += static_cast<char>(c);
    } else if (encoding == TextEncoding::kUtf8 && IsEscapedByte(c)) {
      encoded.bytes += static_cast<char>(c - kEscapedByte);
    } else if (encoding == TextEncoding::kUtf8 && !IsSurrogate(c)) {
      AppendUtf8(c, encoded.bytes);
    } else {
      encoded.bytes.clear();
      encoded.refused = c;
      return encoded;
    }
  }
  return encoded;
}

std::u16string DecodeText(std::string_view bytes, TextEncoding encoding) {
  std::u16string text;
  text.reserve(bytes.size());
  for (size_t at = 0; at < bytes.size();) {
    auto byte = static_cast<unsigned char>(bytes[at]);
    char32_t c = 0;
    int length = encoding == TextEncoding::kUtf8 ? ReadUtf8(bytes, at, c) : 0;
    if (length == 0) {
      text += static_cast<char16_t>(encoding == TextEncoding::kUtf8 ? kEscapedByte + byte : byte);
      ++at;
    } else {
      AppendUtf16(c, text);
      at += static_cast<size_t>(length);
    }
  }
  return text;
}

std::string RefusedCharacterMessage(std::string_view where, char32_t refused,
                                    TextEncoding encoding) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(refused));
  std::string named = code;
  if (!IsSurrogate(refused)) {
    std::string shown;
    AppendUtf8(refused, shown);
    named = "\"" + shown + "\" (" + named + ")";
  }
  std::string text = std::string(where) + " " + named + ", which " +
                     std::string(InfoOf(encoding).label) + " cannot carry.";
  if (encoding == TextEncoding::kLatin1) text += " Choose UTF-8 in \"Send options\" to send it.";
  return text;
}

}  // namespace quorvel
