// What a key pressed in the console sends down the line, as a terminal
// sends it: printable characters in the chosen encoding; Enter as CR, LF or
// CR LF and Backspace as DEL or BS (each settable); Ctrl with a letter (or
// @ [ \ ] ^ _ ?) as its control byte (Ctrl+C 0x03, Ctrl+[ ESC); Alt as an
// ESC before the key; the arrows, Home/End, PgUp/PgDn, Insert/Delete, the
// keypad and F1-F12 as libvterm encodes them in the device's current modes
// (application cursor and keypad keys), modifiers as xterm sends them.
//
// Called on the thread that owns the emulator, under its lock.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "console/console_keys.h"
#include "sending/text_encoding.h"

namespace quorvel {

class Emulator;

enum class EnterSends : uint8_t { kCr = 0, kLf, kCrLf };
enum class BackspaceSends : uint8_t { kDel = 0, kBs };

struct KeyOptions {
  EnterSends enter = EnterSends::kCr;
  BackspaceSends backspace = BackspaceSends::kDel;
  TextEncoding encoding = TextEncoding::kUtf8;
  bool operator==(const KeyOptions&) const = default;
};

struct KeyChoice {
  int value;
  std::string_view key;  // as the settings file keeps it
  std::string_view label;
};
// The Enter and Backspace choices, the default first.
std::span<const KeyChoice> EnterTable();
std::span<const KeyChoice> BackspaceTable();

// A key as the window saw it: a named key, or kNone with `text`, the
// character(s) it types without Ctrl or Alt applied (Ctrl+C is kModCtrl
// with "c").
struct KeyPress {
  ConsoleKey key = ConsoleKey::kNone;
  int modifiers = 0;  // KeyModifier bits
  std::u16string text;
};

struct EncodedKey {
  std::string bytes;                // empty: the key sends nothing
  std::optional<char32_t> refused;  // a character the encoding cannot carry
};

EncodedKey EncodeKey(Emulator& emulator, const KeyPress& key, const KeyOptions& options);

// The control byte Ctrl makes of `c` (a letter, @ [ \ ] ^ _ ? or space, and
// the digits 2-8 as xterm reads them), or nothing.
std::optional<char> ControlByte(char32_t c);

}  // namespace quorvel
