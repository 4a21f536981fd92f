#include "ui/menu_mirror.h"

#include <QAction>
#include <QActionGroup>
#include <QMenu>

namespace quorvel {
namespace {

// The property naming, on a mirrored group, the group it stands for.
constexpr char kMirrorOfGroup[] = "quorvelMirrorOfGroup";

void CopyLook(QAction* entry, const QAction* original) {
  entry->setSeparator(original->isSeparator());
  entry->setText(original->text());
  entry->setIcon(original->icon());
  entry->setShortcuts(original->shortcuts());
  // The entry shows the key, and takes it only while its menu is open: a
  // key pressed in the window has the window's command alone to choose,
  // even where a closed context menu stays the active window a while.
  entry->setShortcutContext(Qt::WidgetShortcut);
  entry->setShortcutVisibleInContextMenu(original->isShortcutVisibleInContextMenu());
  entry->setCheckable(original->isCheckable());
  entry->setChecked(original->isChecked());
  entry->setEnabled(original->isEnabled());
  entry->setVisible(original->isVisible());
}

// The group of `menu`'s entries that stands for `original`, so that the
// entries of a choice of one show as one (round marks); made on first use.
QActionGroup* MirroredGroup(QMenu* menu, QActionGroup* original) {
  auto key = QVariant::fromValue(reinterpret_cast<quintptr>(original));
  for (QActionGroup* group : menu->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly)) {
    if (group->property(kMirrorOfGroup) == key) return group;
  }
  auto* group = new QActionGroup(menu);
  group->setProperty(kMirrorOfGroup, key);
  group->setExclusionPolicy(original->exclusionPolicy());
  return group;
}

// Replaces `mirror`'s entries with entries for `original`'s actions as they
// are now. Only while `mirror` is hidden or about to show.
void Refill(QMenu* mirror, QMenu* original) {
  for (QAction* entry : mirror->actions()) {
    mirror->removeAction(entry);
    // A submenu's entry is its menu's own action, which goes with the menu.
    if (QMenu* submenu = entry->menu(); submenu != nullptr && submenu->parent() == mirror) {
      delete submenu;
    } else if (entry->parent() == mirror) {
      delete entry;
    }
  }
  qDeleteAll(mirror->findChildren<QActionGroup*>(Qt::FindDirectChildrenOnly));
  for (QAction* action : original->actions()) AddMirroredEntry(mirror, action);
}

}  // namespace

QAction* AddMirroredEntry(QMenu* menu, QAction* original) {
  QAction* entry = nullptr;
  if (QMenu* submenu = original->menu()) {
    auto* mirror = new QMenu(menu);
    Refill(mirror, submenu);
    // The original's owner fills it as it opens (a history, checks that
    // follow the state): it gets the same chance before the mirror copies it.
    QObject::connect(mirror, &QMenu::aboutToShow, submenu, [mirror, submenu] {
      Q_EMIT submenu->aboutToShow();
      Refill(mirror, submenu);
    });
    entry = mirror->menuAction();
  } else {
    entry = new QAction(menu);
  }
  CopyLook(entry, original);
  if (QActionGroup* group = original->actionGroup()) {
    MirroredGroup(menu, group)->addAction(entry);
  }
  QObject::connect(original, &QAction::changed, entry,
                   [entry, original] { CopyLook(entry, original); });
  QObject::connect(entry, &QAction::triggered, original, [entry, original] {
    original->trigger();
    // A choice of one that was already made stays made, and says so here too.
    entry->setChecked(original->isChecked());
  });
  menu->addAction(entry);
  return entry;
}

}  // namespace quorvel
