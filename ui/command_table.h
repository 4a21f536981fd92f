// The window's commands as one table: each row is one command with the text
// and key every menu shows, the menu of the bar it stands in, and whether it
// shows a check. The menu bar, the context menu and the "Keyboard shortcuts"
// list are all built from this table (see WindowCommands), so a command
// cannot be in one of them and missing from another.
//
// Adding a command takes one row and its handler:
//   1. its name in `Command`, before kCount, and a row in command_table.cpp
//      at the place it takes in its menu (rows are shown in table order);
//   2. where the command's owner is made, its handler:
//        commands.Bind(Command::kPlot, this, &PlotPane::Toggle);
//      A checkable row's handler may take the new check (bool). An owner that
//      shows a state keeps it on commands.Action(Command::kPlot): checked,
//      enabled, or its text.
// The key works in the whole window, the menus closed; a row without a key
// is reached through the menus only.
#pragma once

#include <QKeyCombination>
#include <span>

namespace quorvel {

// The menus of the bar, in their order; each is a submenu of the context
// menu too.
enum class MenuGroup { kPort, kSend, kView, kLog, kHelp };
inline constexpr int kMenuGroupCount = 5;

enum class Command {
  // Port
  kOpenClose,
  kAddNetworkPort,
  kOpenSecondPort,
  kCloseSecondPort,
  kMonitorLink,
  kBridgeLink,
  kStopLink,
  kDtr,
  kRts,
  kPulseDtr,
  kPulseRts,
  kBreak,
  kLinesAtOpen,
  kDtrAtOpen,
  kRtsAtOpen,
  kQuit,
  // Send
  kSendOptions,
  kSendHistory,
  kSendList,
  kSendAll,
  kStopSendAll,
  kSendFile,
  kReceiveFile,
  kCancelFileSend,
  kAnswerRules,
  kAnswerRulesOn,
  kRunScript,
  kStopScript,
  // View
  kSessionView,
  kConsole,
  kPlot,
  kScriptPane,
  kHexDisplay,
  kFind,
  kCopyAsHex,
  kClearReceive,
  kViewSettings,
  kConsoleSettings,
  kSendTerminalSize,
  kZoomIn,
  kZoomOut,
  kResetZoom,
  // Log
  kLogToFile,
  kStopLogging,
  kSaveSession,
  // Help
  kKeyboardShortcuts,
  kAbout,
  kCount,
};
inline constexpr int kCommandCount = static_cast<int>(Command::kCount);

enum class RowKind {
  kAction,   // runs its handler
  kCheck,    // shows a check; its handler gets the new one
  kSubmenu,  // opens a submenu: rows naming it as their parent, or entries its owner fills
};

// Where the context menu shows a row.
enum class ContextPlace {
  kInGroup,  // in its group's submenu, as in the bar
  kAtEnd,    // after the groups, each below a separator (the window's own entries)
};

struct CommandRow {
  Command command;
  MenuGroup group;
  const char* text;  // UTF-8, with its mnemonic
  QKeyCombination key = QKeyCombination();
  RowKind kind = RowKind::kAction;
  bool separatorBefore = false;
  Command parent = Command::kCount;  // the submenu row it stands in; kCount: its group's menu
  ContextPlace context = ContextPlace::kInGroup;
  // At the context menu's end, a row may have the text and key that entry
  // always had there; null and none: the row's own.
  const char* contextText = nullptr;
  QKeyCombination contextKey = QKeyCombination();
};

// Every command in menu order. Valid for the life of the program.
std::span<const CommandRow> CommandTable();
const CommandRow& RowOf(Command command);

// "&Port", "&Send", ...
const char* MenuGroupTitle(MenuGroup group);

}  // namespace quorvel
