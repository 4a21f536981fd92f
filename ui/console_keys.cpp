#include "ui/console_keys.h"

#include <QKeyEvent>

namespace quorvel {
namespace {

struct NamedKey {
  int qt;
  ConsoleKey key;
};

constexpr NamedKey kNamedKeys[] = {
    {Qt::Key_Return, ConsoleKey::kEnter},      {Qt::Key_Tab, ConsoleKey::kTab},
    {Qt::Key_Backtab, ConsoleKey::kTab},       {Qt::Key_Backspace, ConsoleKey::kBackspace},
    {Qt::Key_Escape, ConsoleKey::kEscape},     {Qt::Key_Up, ConsoleKey::kUp},
    {Qt::Key_Down, ConsoleKey::kDown},         {Qt::Key_Left, ConsoleKey::kLeft},
    {Qt::Key_Right, ConsoleKey::kRight},       {Qt::Key_Insert, ConsoleKey::kInsert},
    {Qt::Key_Delete, ConsoleKey::kDelete},     {Qt::Key_Home, ConsoleKey::kHome},
    {Qt::Key_End, ConsoleKey::kEnd},           {Qt::Key_PageUp, ConsoleKey::kPageUp},
    {Qt::Key_PageDown, ConsoleKey::kPageDown},
};

// Keys of the keypad, told apart only by Qt::KeypadModifier.
constexpr NamedKey kKeypadKeys[] = {
    {Qt::Key_Enter, ConsoleKey::kKeypadEnter},  {Qt::Key_Plus, ConsoleKey::kKeypadPlus},
    {Qt::Key_Minus, ConsoleKey::kKeypadMinus},  {Qt::Key_Asterisk, ConsoleKey::kKeypadMultiply},
    {Qt::Key_Slash, ConsoleKey::kKeypadDivide}, {Qt::Key_Period, ConsoleKey::kKeypadPeriod},
    {Qt::Key_Comma, ConsoleKey::kKeypadComma},  {Qt::Key_Equal, ConsoleKey::kKeypadEqual},
};

int ModifiersOf(Qt::KeyboardModifiers modifiers) {
  int out = 0;
  if (modifiers & Qt::ShiftModifier) out |= kModShift;
  if (modifiers & Qt::AltModifier) out |= kModAlt;
  if (modifiers & Qt::ControlModifier) out |= kModCtrl;
  return out;
}

bool IsModifierKey(int key) {
  switch (key) {
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_AltGr:
    case Qt::Key_Meta:
    case Qt::Key_Super_L:
    case Qt::Key_Super_R:
    case Qt::Key_CapsLock:
    case Qt::Key_NumLock:
    case Qt::Key_ScrollLock:
      return true;
    default:
      return false;
  }
}

std::optional<ConsoleKey> Named(int key, Qt::KeyboardModifiers modifiers) {
  if (modifiers & Qt::KeypadModifier) {
    for (const NamedKey& named : kKeypadKeys) {
      if (named.qt == key) return named.key;
    }
    if (key >= Qt::Key_0 && key <= Qt::Key_9) {
      return static_cast<ConsoleKey>(static_cast<int>(ConsoleKey::kKeypad0) + key - Qt::Key_0);
    }
  }
  if (key == Qt::Key_Enter) return ConsoleKey::kEnter;
  for (const NamedKey& named : kNamedKeys) {
    if (named.qt == key) return named.key;
  }
  if (key >= Qt::Key_F1 && key <= Qt::Key_F12) {
    return static_cast<ConsoleKey>(static_cast<int>(ConsoleKey::kF1) + key - Qt::Key_F1);
  }
  return std::nullopt;
}

}  // namespace

ConsoleKeyEvent TranslateKey(const QKeyEvent& event) {
  ConsoleKeyEvent out;
  int key = event.key();
  Qt::KeyboardModifiers modifiers = event.modifiers();
  bool shift = modifiers & Qt::ShiftModifier;
  bool ctrl = modifiers & Qt::ControlModifier;
  bool alt = modifiers & Qt::AltModifier;
  if (IsModifierKey(key)) return out;

  if (ctrl && shift && !alt && key == Qt::Key_C) return {ViewKey::kCopy, std::nullopt};
  if (ctrl && shift && !alt && key == Qt::Key_V) return {ViewKey::kPaste, std::nullopt};
  if (shift && !ctrl && !alt) {
    switch (key) {
      case Qt::Key_Insert:
        return {ViewKey::kPaste, std::nullopt};
      case Qt::Key_PageUp:
        return {ViewKey::kPageUp, std::nullopt};
      case Qt::Key_PageDown:
        return {ViewKey::kPageDown, std::nullopt};
      case Qt::Key_Home:
        return {ViewKey::kTop, std::nullopt};
      case Qt::Key_End:
        return {ViewKey::kBottom, std::nullopt};
      default:
        break;
    }
  }

  KeyPress press;
  press.modifiers = ModifiersOf(modifiers);
  if (std::optional<ConsoleKey> named = Named(key, modifiers)) {
    press.key = *named;
    if (key == Qt::Key_Backtab) press.modifiers |= kModShift;
    out.press = press;
    return out;
  }
  // A character. With Ctrl or Alt the event's text may be a control byte or
  // empty; the key itself says which character was meant.
  QString text = event.text();
  if (ctrl || alt) {
    if (key >= Qt::Key_A && key <= Qt::Key_Z) {
      QChar letter(static_cast<char16_t>(u'a' + (key - Qt::Key_A)));
      text = shift && !ctrl ? QString(letter.toUpper()) : QString(letter);
    } else if (key >= Qt::Key_Space && key <= Qt::Key_AsciiTilde &&
               (text.isEmpty() || text.at(0).unicode() < 0x20 || ctrl)) {
      text = QString(QChar(static_cast<char16_t>(key)));
    }
  }
  if (text.isEmpty() || (text.size() == 1 && text.at(0).unicode() < 0x20 && !ctrl)) return out;
  press.text = text.toStdU16String();
  // Shift is in the character already.
  press.modifiers &= ~kModShift;
  out.press = press;
  return out;
}

bool ConsoleTakesShortcut(const QKeyEvent& event) {
  ConsoleKeyEvent translated = TranslateKey(event);
  if (translated.view != ViewKey::kNone) return true;
  if (!translated.press) return false;
  Qt::KeyboardModifiers modifiers = event.modifiers();
  // The text size, as desktop terminals leave it to their window: Ctrl with
  // Plus, Minus, = and 0 of the main keys (the keypad's go to the device).
  if ((modifiers & (Qt::ControlModifier | Qt::AltModifier | Qt::KeypadModifier)) ==
      Qt::ControlModifier) {
    switch (event.key()) {
      case Qt::Key_Plus:
      case Qt::Key_Minus:
      case Qt::Key_Equal:
      case Qt::Key_0:
        return false;
      default:
        break;
    }
  }
  // Ctrl+Shift with any other key: the window's.
  return !((modifiers & Qt::ControlModifier) && (modifiers & Qt::ShiftModifier));
}

}  // namespace quorvel
