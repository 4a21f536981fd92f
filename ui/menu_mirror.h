// Entries of one menu that stand for the actions of another, so that the
// context menu can offer the menu bar's commands with entries of its own.
//
// Why not the very same actions: a screen reader knows a menu entry by its
// action, and Qt describes each action once, as an entry of the first menu
// asked about it. An action shown in two menus then reads, in the other,
// as not showing and placed where the first menu would put it, and its
// parent is the wrong menu: a reader cannot follow it. A mirrored entry is
// an action of its own, so it reads as an entry of the menu it is in.
//
// A mirrored entry follows its action as it changes (text, key shown,
// check, enabled, shown, separator) and chooses it when chosen, so the
// command runs exactly as from the bar. Its key is only shown: it never
// matches a key press (its menu belongs to no window), so the window's key
// stays the one that chooses the command. An action with a submenu gets a
// mirrored submenu, filled again from the original each time it opens,
// right after the original's owner had its aboutToShow to fill it.
//
// UI thread. The entries belong to `menu` and go with it; an entry whose
// action is deleted does nothing when chosen.
#pragma once

class QAction;
class QMenu;

namespace quorvel {

// Appends to `menu` an entry standing for `original`, and returns it.
QAction* AddMirroredEntry(QMenu* menu, QAction* original);

}  // namespace quorvel
