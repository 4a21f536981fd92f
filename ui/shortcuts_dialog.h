// "Keyboard shortcuts" (Help menu): every key the window knows, the
// commands' keys first, in the menus' order, then the keys of the boxes, the
// session view and the send list. The list is made from the command table,
// so a command's key cannot be missing from it. Built when asked for; modal,
// UI thread.
#pragma once

#include <QKeySequence>
#include <QList>
#include <QString>

class QWidget;

namespace quorvel {

struct ShortcutLine {
  QList<QKeySequence> keys;  // every key the line stands for
  QString keyText;           // as shown: "Ctrl+Shift+F", "Alt+1 … Alt+9"
  QString what;
};

QList<ShortcutLine> KeyboardShortcuts();

void ShowKeyboardShortcuts(QWidget* parent);

}  // namespace quorvel
