// The window's context menu, wherever the user right-clicks in the window
// (or presses the menu key): over a box that has entries of its own, those
// come first (Copy and Select All of the receive box, the session view and
// a box that only shows a value; the whole edit menu of a box one types
// into), then a separator and the window's commands in the menu bar's
// groups, then "Close" and the About entry. The commands' menu is built at
// the first right click and kept; the box's entries are added for one
// showing.
//
// It watches the application's events for context-menu requests aimed at
// the window or any widget in it, so a box made later (the session view,
// the find bar) is covered too, and no box shows its own menu instead. UI
// thread.
#pragma once

#include <QObject>
#include <QPoint>

class QMenu;
class QWidget;

namespace quorvel {

class WindowCommands;

class WindowContextMenu : public QObject {
 public:
  WindowContextMenu(QWidget* window, const WindowCommands& commands);

  // Shows the menu for a request on `target` (a widget of the window, or
  // the window) and returns once it has closed.
  void Show(QWidget* target, QPoint globalPos);

  // The commands' part, built on first use.
  QMenu* Menu();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  QWidget* window_;
  const WindowCommands& commands_;
  QMenu* menu_ = nullptr;
};

}  // namespace quorvel
