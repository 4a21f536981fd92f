// The command table made real: one action for each row, whose key works
// anywhere in the window with the menus closed, and one menu for each
// submenu row; the menu bar and the context menu are filled from them. The
// bar holds the actions themselves; the context menu holds entries of its
// own that follow them and choose them (ui/menu_mirror.h says why: a screen
// reader could not follow one action shown in two menus), so a check, a
// text or an enabled state that the command's owner sets shows in both at
// once. How to add a command: see ui/command_table.h.
//
// UI thread. The actions and menus belong to the window and live as long
// as it does.
#pragma once

#include <QAction>
#include <QObject>
#include <array>
#include <functional>
#include <type_traits>

#include "ui/command_table.h"

class QMenu;
class QMenuBar;
class QWidget;

namespace quorvel {

// A pane of the window that acts on a line of its own (the second port, a
// monitored link) and takes the commands that act on "the port" while it has
// the focus: Take returns true for a command it carried out itself, and the
// command's owner then does nothing. `checked` is a checkable row's new check.
class CommandTaker {
 public:
  virtual ~CommandTaker() = default;
  virtual bool Take(Command command, bool checked) = 0;
};

class WindowCommands : public QObject {
 public:
  explicit WindowCommands(QWidget* window);

  QAction* Action(Command command) const { return actions_[Index(command)]; }
  // A submenu row's menu, which its owner fills when its rows do not;
  // null for other rows.
  QMenu* Submenu(Command command) const { return submenus_[Index(command)]; }

  // Runs `handler` on `receiver` whenever the command is chosen, by its key
  // or from a menu; a checkable row's handler may take the new check. The
  // taker, while there is one, is asked first.
  template <class Receiver, class Handler>
  void Bind(Command command, Receiver* receiver, Handler handler) {
    connect(Action(command), &QAction::triggered, receiver,
            [this, command, receiver, handler](bool checked) {
              if (taker_ && taker_->Take(command, checked)) return;
              if constexpr (std::is_member_function_pointer_v<Handler>) {
                if constexpr (std::is_invocable_v<Handler, Receiver*, bool>) {
                  std::invoke(handler, receiver, checked);
                } else {
                  std::invoke(handler, receiver);
                }
              } else if constexpr (std::is_invocable_v<Handler, bool>) {
                (void)receiver;
                handler(checked);
              } else {
                (void)receiver;
                handler();
              }
            });
  }

  // The pane that takes the port's commands now; null: their owners do.
  void SetTaker(CommandTaker* taker) { taker_ = taker; }
  CommandTaker* Taker() const { return taker_; }

  // Fills `bar` with one menu for each group, in order.
  void FillMenuBar(QMenuBar* bar) const;
  // Fills `menu` with one submenu for each group, as in the bar, then the
  // rows kept for the end, each below a separator; every entry is one of
  // the menu's own, standing for the command's action.
  void FillContextMenu(QMenu* menu) const;

 private:
  static size_t Index(Command command) { return static_cast<size_t>(command); }
  // The group's rows that stand in its menu (not in a submenu of it).
  void FillGroup(QMenu* menu, MenuGroup group, bool context) const;

  QWidget* window_;
  CommandTaker* taker_ = nullptr;
  std::array<QAction*, kCommandCount> actions_{};
  std::array<QMenu*, kCommandCount> submenus_{};
};

}  // namespace quorvel
