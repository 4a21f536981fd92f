// The command table made real: one action for each row, whose key works
// anywhere in the window with the menus closed, and one menu for each
// submenu row; the menu bar and the context menu are filled from them. Both
// hold the very same actions, so a check, a text or an enabled state that the
// command's owner sets shows in both at once. How to add a command: see
// ui/command_table.h.
//
// UI thread. The actions and menus belong to the window and live as long
// as it does.
#pragma once

#include <QAction>
#include <QObject>
#include <array>

#include "ui/command_table.h"

class QMenu;
class QMenuBar;
class QWidget;

namespace quorvel {

class WindowCommands : public QObject {
 public:
  explicit WindowCommands(QWidget* window);

  QAction* Action(Command command) const { return actions_[Index(command)]; }
  // A submenu row's menu, which its owner fills when its rows do not;
  // null for other rows.
  QMenu* Submenu(Command command) const { return submenus_[Index(command)]; }

  // Runs `handler` on `receiver` whenever the command is chosen, by its key
  // or from a menu; a checkable row's handler may take the new check.
  template <class Receiver, class Handler>
  void Bind(Command command, Receiver* receiver, Handler handler) {
    connect(Action(command), &QAction::triggered, receiver, handler);
  }

  // Fills `bar` with one menu for each group, in order.
  void FillMenuBar(QMenuBar* bar) const;
  // Fills `menu` with one submenu for each group, as in the bar, then the
  // rows kept for the end, each below a separator.
  void FillContextMenu(QMenu* menu) const;

 private:
  static size_t Index(Command command) { return static_cast<size_t>(command); }
  // The group's rows that stand in its menu (not in a submenu of it).
  void FillGroup(QMenu* menu, MenuGroup group, bool context) const;

  QWidget* window_;
  std::array<QAction*, kCommandCount> actions_{};
  std::array<QMenu*, kCommandCount> submenus_{};
};

}  // namespace quorvel
