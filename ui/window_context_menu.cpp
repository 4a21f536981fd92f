#include "ui/window_context_menu.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QLineEdit>
#include <QMenu>
#include <memory>

#include "ui/receive_box.h"
#include "ui/session_view.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

// What a box brings to the top of the menu: its entries and the menu that
// owns them, kept until the showing ends.
struct OwnEntries {
  std::unique_ptr<QMenu> owner;
  QList<QAction*> actions;
};

// Of a box that only shows text, the entries that read it.
QList<QAction*> ReadingEntries(const QMenu& standard) {
  QList<QAction*> reading;
  for (QAction* action : standard.actions()) {
    if (action->objectName() == QLatin1String("edit-copy") ||
        action->objectName() == QLatin1String("select-all")) {
      reading << action;
    }
  }
  return reading;
}

OwnEntries ViewEntries(SessionView* view) {
  OwnEntries own{std::make_unique<QMenu>(), {}};
  QAction* copy = own.owner->addAction(QStringLiteral("&Copy"));
  copy->setShortcut(QKeySequence::Copy);
  copy->setEnabled(view->HasSelection());
  QObject::connect(copy, &QAction::triggered, view, [view] { view->CopySelection(false); });
  QAction* all = own.owner->addAction(QStringLiteral("Select &All"));
  all->setShortcut(QKeySequence::SelectAll);
  QObject::connect(all, &QAction::triggered, view, &SessionView::SelectAll);
  own.actions = own.owner->actions();
  return own;
}

OwnEntries EntriesFor(QWidget* target, QWidget* window) {
  for (QWidget* widget = target; widget != nullptr && widget != window;
       widget = widget->parentWidget()) {
    if (auto* view = qobject_cast<SessionView*>(widget)) return ViewEntries(view);
    std::unique_ptr<QMenu> standard;
    bool onlyShows = false;
    if (auto* box = qobject_cast<QPlainTextEdit*>(widget)) {
      standard.reset(box->createStandardContextMenu());
      // The receive box is replaced at every refresh: editing it is no use.
      onlyShows = qobject_cast<ReceiveBox*>(box) != nullptr || box->isReadOnly();
    } else if (auto* edit = qobject_cast<QLineEdit*>(widget)) {
      standard.reset(edit->createStandardContextMenu());
      onlyShows = edit->isReadOnly();
    }
    if (!standard) continue;
    QList<QAction*> actions = onlyShows ? ReadingEntries(*standard) : standard->actions();
    return {std::move(standard), actions};
  }
  return {};
}

}  // namespace

WindowContextMenu::WindowContextMenu(QWidget* window, const WindowCommands& commands)
    : QObject(window), window_(window), commands_(commands) {
  qApp->installEventFilter(this);
}

QMenu* WindowContextMenu::Menu() {
  if (!menu_) {
    menu_ = new QMenu(window_);
    commands_.FillContextMenu(menu_);
  }
  return menu_;
}

void WindowContextMenu::Show(QWidget* target, QPoint globalPos) {
  QMenu* menu = Menu();
  if (menu->isVisible()) return;
  OwnEntries own = EntriesFor(target, window_);
  QAction* separator = nullptr;
  if (!own.actions.isEmpty()) {
    QAction* first = menu->actions().value(0);
    menu->insertActions(first, own.actions);
    separator = menu->insertSeparator(first);
  }
  menu->exec(globalPos);
  for (QAction* action : own.actions) menu->removeAction(action);
  delete separator;
}

bool WindowContextMenu::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::ContextMenu || !watched->isWidgetType()) return false;
  auto* widget = static_cast<QWidget*>(watched);
  // A dialog or a popup of the window is a window of its own, and keeps its
  // menus.
  if (widget->window() != window_) return false;
  Show(widget, static_cast<QContextMenuEvent*>(event)->globalPos());
  return true;
}

}  // namespace quorvel
