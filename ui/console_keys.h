// The console view's keys: which a Qt key event is (a key for the device,
// or one of the few the view keeps for itself), and which shortcuts of the
// window the view takes while it has the focus.
//
// The view keeps Ctrl+Shift+C (copy), Ctrl+Shift+V and Shift+Insert
// (paste), and Shift with PgUp, PgDn, Home and End (the scrollback), as
// terminals do. Every other key goes to the device, the window's own
// shortcuts included (plain Ctrl+Q, Ctrl+F, Alt with a letter, the
// function keys), except Ctrl+Shift with another key: those stay the
// window's, where its clashing commands are while a console has the focus,
// and Ctrl with Plus, Minus, = or 0, the window's text size.
// UI thread; pure.
#pragma once

#include <optional>

#include "console/key_encoder.h"

class QKeyEvent;

namespace quorvel {

enum class ViewKey { kNone, kCopy, kPaste, kPageUp, kPageDown, kTop, kBottom };

struct ConsoleKeyEvent {
  ViewKey view = ViewKey::kNone;
  std::optional<KeyPress> press;  // for the device
};

ConsoleKeyEvent TranslateKey(const QKeyEvent& event);

// Whether the view takes `event` before the window's shortcuts see it (its
// ShortcutOverride).
bool ConsoleTakesShortcut(const QKeyEvent& event);

}  // namespace quorvel
