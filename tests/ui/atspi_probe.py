#!/usr/bin/python3
"""Reads a running application over AT-SPI, as a screen reader does.

    atspi_probe.py PID ENTRY
    atspi_probe.py PID --terminal

First reads the application's whole tree (names, states and places of every
node, the menu bar's menus and their entries among them), as a reader does
when a window appears; then prints "ready" and follows the focus. Once an
entry named ENTRY takes the focus, it reads the menu the entry says it is
in, and prints that menu and each of its entries, one line each:

    menu<TAB>name<TAB>showing<TAB>x y width height
    entry<TAB>name<TAB>showing<TAB>x y width height

`showing` is 1 or 0, the places are on the screen. Exits 0 once printed, 2
when no such entry took the focus within 20 s, 77 when the application is
not on the accessibility bus.

With --terminal it reads the first terminal in the tree instead, as a
reader reads a terminal it comes to, and prints it as one JSON object:
its role's name, its text, the caret's offset and the line the caret is on
(as the reader asks for it), the character count; exits 2 when there is no
terminal.
"""
import json
import sys

import pyatspi
from gi.repository import GLib

FOLLOW_SECONDS = 20


def application(pid):
    desktop = pyatspi.Registry.getDesktop(0)
    for index in range(desktop.childCount):
        app = desktop.getChildAtIndex(index)
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def place(node):
    try:
        box = node.queryComponent().getExtents(pyatspi.DESKTOP_COORDS)
    except NotImplementedError:
        return "none"
    return "%d %d %d %d" % (box.x, box.y, box.width, box.height)


def showing(node):
    return "1" if node.getState().contains(pyatspi.STATE_SHOWING) else "0"


def read_tree(node, depth=0):
    if node is None or depth > 10:
        return
    node.name
    node.getState()
    place(node)
    for index in range(node.childCount):
        read_tree(node.getChildAtIndex(index), depth + 1)


def find_terminal(node, depth=0):
    if node is None or depth > 20:
        return None
    if node.getRole() == pyatspi.ROLE_TERMINAL:
        return node
    for index in range(node.childCount):
        found = find_terminal(node.getChildAtIndex(index), depth + 1)
        if found is not None:
            return found
    return None


def print_terminal(app):
    terminal = find_terminal(app)
    if terminal is None:
        print("no terminal in the application's tree", file=sys.stderr)
        return 2
    text = terminal.queryText()
    caret = text.caretOffset
    caret_line = text.getTextAtOffset(caret, pyatspi.TEXT_BOUNDARY_LINE_START)[0]
    print(json.dumps({"role": terminal.getRoleName(), "text": text.getText(0, -1),
                      "count": text.characterCount, "caret": caret,
                      "caretLine": caret_line}), flush=True)
    return 0


def main():
    pid, wanted = int(sys.argv[1]), sys.argv[2]
    app = application(pid)
    if app is None:
        print("the application is not on the accessibility bus", file=sys.stderr)
        return 77
    if wanted == "--terminal":
        return print_terminal(app)
    read_tree(app)
    outcome = {"code": 2}

    def on_focus(event):
        entry = event.source
        if not event.detail1 or entry is None or entry.name != wanted:
            return
        menu = entry.parent
        lines = ["menu\t%s\t%s\t%s" % (menu.name, showing(menu), place(menu))]
        for index in range(menu.childCount):
            child = menu.getChildAtIndex(index)
            if child is None or child.getRole() == pyatspi.ROLE_SEPARATOR:
                continue
            lines.append("entry\t%s\t%s\t%s" % (child.name, showing(child), place(child)))
        print("\n".join(lines), flush=True)
        outcome["code"] = 0
        pyatspi.Registry.stop()

    pyatspi.Registry.registerEventListener(on_focus, "object:state-changed:focused")
    GLib.timeout_add_seconds(FOLLOW_SECONDS, lambda: pyatspi.Registry.stop())
    GLib.idle_add(lambda: print("ready", flush=True) and False)
    pyatspi.Registry.start()
    return outcome["code"]


if __name__ == "__main__":
    sys.exit(main())
