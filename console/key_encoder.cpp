#include "console/key_encoder.h"

#include "console/emulator.h"

namespace quorvel {
namespace {

constexpr KeyChoice kEnterChoices[] = {
    {static_cast<int>(EnterSends::kCr), "cr", "CR"},
    {static_cast<int>(EnterSends::kLf), "lf", "LF"},
    {static_cast<int>(EnterSends::kCrLf), "crlf", "CR LF"},
};
constexpr KeyChoice kBackspaceChoices[] = {
    {static_cast<int>(BackspaceSends::kDel), "del", "DEL (0x7F)"},
    {static_cast<int>(BackspaceSends::kBs), "bs", "BS (0x08)"},
};

std::string EnterBytes(EnterSends enter) {
  switch (enter) {
    case EnterSends::kLf:
      return "\n";
    case EnterSends::kCrLf:
      return "\r\n";
    case EnterSends::kCr:
      break;
  }
  return "\r";
}

// Each code point of UTF-16 text; a lone surrogate as itself.
std::u32string CodePoints(std::u16string_view text) {
  std::u32string out;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    out.push_back(c);
  }
  return out;
}

}  // namespace

std::span<const KeyChoice> EnterTable() {
  return kEnterChoices;
}
std::span<const KeyChoice> BackspaceTable() {
  return kBackspaceChoices;
}

std::optional<char> ControlByte(char32_t c) {
  if (c >= U'a' && c <= U'z') return static_cast<char>(c - U'a' + 1);
  if (c >= U'A' && c <= U'Z') return static_cast<char>(c - U'A' + 1);
  switch (c) {
    case U'@':
    case U' ':
    case U'2':
      return '\0';
    case U'[':
    case U'3':
      return '\x1b';
    case U'\\':
    case U'4':
      return '\x1c';
    case U']':
    case U'5':
      return '\x1d';
    case U'^':
    case U'~':
    case U'6':
      return '\x1e';
    case U'_':
    case U'/':
    case U'7':
      return '\x1f';
    case U'?':
    case U'8':
      return '\x7f';
    default:
      return std::nullopt;
  }
}

EncodedKey EncodeKey(Emulator& emulator, const KeyPress& key, const KeyOptions& options) {
  EncodedKey out;
  bool alt = (key.modifiers & kModAlt) != 0;
  bool ctrl = (key.modifiers & kModCtrl) != 0;
  std::string prefix = alt ? "\x1b" : "";
  switch (key.key) {
    case ConsoleKey::kNone: {
      std::u32string chars = CodePoints(key.text);
      if (chars.empty()) return out;
      if (ctrl && chars.size() == 1) {
        if (std::optional<char> control = ControlByte(chars[0])) {
          out.bytes = prefix + *control;
          return out;
        }
      }
      EncodedText encoded = EncodeText(key.text, options.encoding);
      if (encoded.refused) {
        out.refused = encoded.refused;
        return out;
      }
      out.bytes = prefix + encoded.bytes;
      return out;
    }
    case ConsoleKey::kKeypadEnter: {
      // In application keypad mode the keypad's Enter is a key of its own.
      std::string keypad = emulator.KeyBytes(key.key, key.modifiers & ~kModAlt);
      if (!keypad.empty() && keypad[0] == '\x1b') {
        out.bytes = prefix + keypad;
        return out;
      }
      out.bytes = prefix + EnterBytes(options.enter);
      return out;
    }
    case ConsoleKey::kEnter:
      out.bytes = prefix + EnterBytes(options.enter);
      return out;
    case ConsoleKey::kBackspace: {
      // Ctrl gives the other erase byte, for the devices that want it.
      bool del = (options.backspace == BackspaceSends::kDel) != ctrl;
      out.bytes = prefix + (del ? "\x7f" : "\b");
      return out;
    }
    case ConsoleKey::kTab:
      if (key.modifiers & kModShift) break;  // back-tab: CSI Z
      out.bytes = prefix + "\t";
      return out;
    case ConsoleKey::kEscape:
      out.bytes = prefix + "\x1b";
      return out;
    default:
      break;
  }
  out.bytes = emulator.KeyBytes(key.key, key.modifiers);
  return out;
}

}  // namespace quorvel
