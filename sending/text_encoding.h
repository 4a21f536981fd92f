// How the text a user types becomes the bytes a send keeps and puts on the
// wire, and how kept bytes show as text again: Latin-1 (each character below
// U+0100 is the byte of its number, the terminal's own byte text and the
// default) or UTF-8.
//
// A character the encoding cannot carry is refused, never replaced. Showing
// bytes never loses any: under UTF-8 a byte that is no part of a valid
// sequence shows as the lone surrogate U+DC80 + its value, which encodes back
// to that byte, so a stored send that is shown, edited elsewhere and kept
// again keeps the bytes the user did not touch.
//
// The window's text is UTF-16 (char16_t), a QString's units. Pure functions;
// any thread.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace quorvel {

enum class TextEncoding : int { kLatin1 = 0, kUtf8 };

struct TextEncodingInfo {
  TextEncoding encoding;
  std::string_view key;    // as kept in the settings file: "utf8"
  std::string_view label;  // as shown to the user: "UTF-8"
};

// Every encoding, the default first.
std::span<const TextEncodingInfo> TextEncodingTable();
const TextEncodingInfo& InfoOf(TextEncoding encoding);
// The encoding kept under `key`; nothing for an unknown key.
std::optional<TextEncoding> TextEncodingFromKey(std::string_view key);

// The bytes of `text`, or the first character (a code point; a lone
// surrogate as itself) that `encoding` cannot carry.
struct EncodedText {
  std::string bytes;
  std::optional<char32_t> refused;
};
EncodedText EncodeText(std::u16string_view text, TextEncoding encoding);

// `bytes` as text, losslessly (see above): EncodeText gives them back.
std::u16string DecodeText(std::string_view bytes, TextEncoding encoding);

// For the user, in UTF-8: `where` and the character named, e.g. 'The send
// box takes no "€" (U+20AC), which Latin-1 cannot carry. Choose UTF-8 in
// "Send options" to send it.'
std::string RefusedCharacterMessage(std::string_view where, char32_t refused,
                                    TextEncoding encoding);

}  // namespace quorvel
