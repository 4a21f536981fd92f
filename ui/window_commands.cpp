#include "ui/window_commands.h"

#include <QMenu>
#include <QMenuBar>
#include <QWidget>

#include "ui/menu_mirror.h"

namespace quorvel {

WindowCommands::WindowCommands(QWidget* window) : QObject(window), window_(window) {
  for (const CommandRow& row : CommandTable()) {
    QString text = QString::fromUtf8(row.text);
    QAction* action;
    if (row.kind == RowKind::kSubmenu) {
      QMenu* menu = new QMenu(text, window);
      submenus_[Index(row.command)] = menu;
      action = menu->menuAction();
    } else {
      action = new QAction(text, window);
      action->setCheckable(row.kind == RowKind::kCheck);
    }
    if (row.key != QKeyCombination()) {
      action->setShortcut(QKeySequence(row.key));
      action->setShortcutContext(Qt::WindowShortcut);
      window->addAction(action);  // so the key works with the menus closed
    }
    actions_[Index(row.command)] = action;
    if (row.parent != Command::kCount) {
      QMenu* parent = Submenu(row.parent);
      if (row.separatorBefore && !parent->isEmpty()) parent->addSeparator();
      parent->addAction(action);
    }
  }
}

void WindowCommands::FillGroup(QMenu* menu, MenuGroup group, bool context) const {
  for (const CommandRow& row : CommandTable()) {
    if (row.group != group || row.parent != Command::kCount) continue;
    if (context && row.context == ContextPlace::kAtEnd) continue;
    if (row.separatorBefore && !menu->isEmpty()) menu->addSeparator();
    if (context) {
      AddMirroredEntry(menu, Action(row.command));
    } else {
      menu->addAction(Action(row.command));
    }
  }
}

void WindowCommands::FillMenuBar(QMenuBar* bar) const {
  for (int group = 0; group < kMenuGroupCount; ++group) {
    auto menuGroup = static_cast<MenuGroup>(group);
    FillGroup(bar->addMenu(QString::fromLatin1(MenuGroupTitle(menuGroup))), menuGroup, false);
  }
}

void WindowCommands::FillContextMenu(QMenu* menu) const {
  for (int group = 0; group < kMenuGroupCount; ++group) {
    auto menuGroup = static_cast<MenuGroup>(group);
    FillGroup(menu->addMenu(QString::fromLatin1(MenuGroupTitle(menuGroup))), menuGroup, true);
  }
  for (const CommandRow& row : CommandTable()) {
    if (row.context != ContextPlace::kAtEnd) continue;
    menu->addSeparator();
    QAction* action = Action(row.command);
    if (row.contextText == nullptr) {
      AddMirroredEntry(menu, action);
      continue;
    }
    // The entry this menu always had: its own text and the key shown beside
    // it, choosing the same command.
    QAction* entry = menu->addAction(QString::fromUtf8(row.contextText));
    entry->setShortcut(QKeySequence(row.contextKey));
    connect(entry, &QAction::triggered, action, &QAction::trigger);
  }
}

}  // namespace quorvel
