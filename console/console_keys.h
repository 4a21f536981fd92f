// The keys the console sends that are not plain characters, and the
// modifiers held with a key, in the console's own terms (the window maps
// its key events to these; console/key_encoder.h turns them into bytes).
#pragma once

#include <cstdint>

namespace quorvel {

enum class ConsoleKey : uint8_t {
  kNone = 0,  // a character: see KeyPress::text
  kEnter,
  kTab,
  kBackspace,
  kEscape,
  kUp,
  kDown,
  kLeft,
  kRight,
  kInsert,
  kDelete,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kF1,  // kF1 + n - 1 is Fn, up to F12
  kF12 = kF1 + 11,
  kKeypad0,  // kKeypad0 + n is keypad n
  kKeypad9 = kKeypad0 + 9,
  kKeypadPlus,
  kKeypadMinus,
  kKeypadMultiply,
  kKeypadDivide,
  kKeypadPeriod,
  kKeypadComma,
  kKeypadEnter,
  kKeypadEqual,
};

// Bit values as libvterm's modifiers.
enum KeyModifier : uint8_t {
  kModShift = 1,
  kModAlt = 2,
  kModCtrl = 4,
};

}  // namespace quorvel
