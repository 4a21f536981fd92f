#include "ui/command_table.h"

#include <array>

#include "core/strings.h"

namespace quorvel {
namespace {

using enum Command;
constexpr auto kCtrlShift = Qt::CTRL | Qt::SHIFT;

// The keys of the line and file commands leave text editing alone: Ctrl+Shift
// with a letter that no box uses.
std::array<CommandRow, kCommandCount> MakeTable() {
  const auto port = MenuGroup::kPort, send = MenuGroup::kSend, view = MenuGroup::kView,
             log = MenuGroup::kLog, help = MenuGroup::kHelp;
  const auto check = RowKind::kCheck, submenu = RowKind::kSubmenu;
  const auto none = QKeyCombination();
  return {{
      // The button's caption, which the entry follows.
      {kOpenClose, port, LoadString(StringId::kOpenCaption)},
      {kAddNetworkPort, port, "Add &network port…"},
      // Two ports at once: a second pane, or two ports as one link.
      {kOpenSecondPort, port, "Open &second port…", kCtrlShift | Qt::Key_N, RowKind::kAction, true},
      {kCloseSecondPort, port, "Close second port", kCtrlShift | Qt::Key_W},
      {kMonitorLink, port, "&Monitor two ports as one link…", kCtrlShift | Qt::Key_M},
      {kBridgeLink, port, "&Bridge two ports…", kCtrlShift | Qt::Key_J},
      {kStopLink, port, "Stop monitor or bridge", kCtrlShift | Qt::Key_K},
      {kDtr, port, "DTR", kCtrlShift | Qt::Key_D, check, true},
      {kRts, port, "RTS", kCtrlShift | Qt::Key_R, check},
      {kPulseDtr, port, "Pulse DTR", kCtrlShift | Qt::Key_T},
      {kPulseRts, port, "Pulse RTS", kCtrlShift | Qt::Key_Y},
      {kBreak, port, "Send break", kCtrlShift | Qt::Key_B},
      {kLinesAtOpen, port, "Lines at open", none, submenu},
      {kDtrAtOpen, port, "DTR active", none, check, false, kLinesAtOpen},
      {kRtsAtOpen, port, "RTS active", none, check, false, kLinesAtOpen},
      // In the context menu it stays "Close" at the end, as in a window's
      // system menu.
      {kQuit, port, "&Quit", Qt::CTRL | Qt::Key_Q, RowKind::kAction, true, kCount,
       ContextPlace::kAtEnd, "&Close", Qt::ALT | Qt::Key_F4},

      {kSendOptions, send, "Send &options", none, submenu},
      {kSendHistory, send, "Send &history", none, submenu},
      {kSendList, send, "Send l&ist", kCtrlShift | Qt::Key_E, check, true},
      {kSendAll, send, "Send all in order", kCtrlShift | Qt::Key_G},
      {kStopSendAll, send, "Stop sending the list", kCtrlShift | Qt::Key_H},
      {kSendFile, send, "Send &file…", kCtrlShift | Qt::Key_F, RowKind::kAction, true},
      {kReceiveFile, send, "Recei&ve file…", kCtrlShift | Qt::Key_I},
      {kCancelFileSend, send, "Cancel file send", kCtrlShift | Qt::Key_X},
      {kAnswerRules, send, "Answer &rules…", kCtrlShift | Qt::Key_A, RowKind::kAction, true},
      {kAnswerRulesOn, send, "Answer rules &on", kCtrlShift | Qt::Key_O, check},
      // The Script pane's text, against this line.
      {kRunScript, send, "Run scrip&t", Qt::Key_F5, RowKind::kAction, true},
      {kStopScript, send, "Stop script", Qt::SHIFT | Qt::Key_F5},

      {kSessionView, view, "Session &view", kCtrlShift | Qt::Key_V, check},
      {kConsole, view, "Con&sole", kCtrlShift | Qt::Key_F7, check},
      {kPlot, view, "&Plot", kCtrlShift | Qt::Key_P, check},
      {kScriptPane, view, "Scrip&t", kCtrlShift | Qt::Key_U, check},
      // The template's check box and button, which the entries click.
      {kHexDisplay, view, "&Hex display", none, check},
      {kFind, view, "&Find in session…", Qt::CTRL | Qt::Key_F, RowKind::kAction, true},
      {kCopyAsHex, view, "Copy selection as he&x"},
      {kClearReceive, view, "&Clear receive"},
      {kViewSettings, view, "View settings…", none, RowKind::kAction, true},
      {kConsoleSettings, view, "Console se&ttings…", kCtrlShift | Qt::Key_F8},
      // A serial line carries no window size: the device's programs learn it
      // from stty.
      {kSendTerminalSize, view, "Send terminal si&ze", kCtrlShift | Qt::Key_F9},
      // The text of the view and the boxes.
      {kZoomIn, view, "Zoom &in", Qt::CTRL | Qt::Key_Plus, RowKind::kAction, true},
      {kZoomOut, view, "Zoom &out", Qt::CTRL | Qt::Key_Minus},
      {kResetZoom, view, "&Normal size", Qt::CTRL | Qt::Key_0},

      {kLogToFile, log, "&Log to file…", kCtrlShift | Qt::Key_L},
      {kStopLogging, log, "Stop lo&gging", kCtrlShift | Qt::Key_S},
      {kSaveSession, log, "Save sess&ion…", none, RowKind::kAction, true},

      {kKeyboardShortcuts, help, "&Keyboard shortcuts"},
      // There is no help file: the help key shows the About box. At the
      // context menu's end, below a separator, as in a system menu.
      {kAbout, help, LoadString(StringId::kAboutMenu), Qt::Key_F1, RowKind::kAction, false, kCount,
       ContextPlace::kAtEnd},
  }};
}

}  // namespace

std::span<const CommandRow> CommandTable() {
  static const std::array<CommandRow, kCommandCount> table = MakeTable();
  return table;
}

const CommandRow& RowOf(Command command) {
  static const std::array<size_t, kCommandCount> index = [] {
    std::array<size_t, kCommandCount> rows{};
    for (size_t i = 0; i < CommandTable().size(); ++i) {
      rows[static_cast<size_t>(CommandTable()[i].command)] = i;
    }
    return rows;
  }();
  return CommandTable()[index[static_cast<size_t>(command)]];
}

const char* MenuGroupTitle(MenuGroup group) {
  static constexpr const char* kTitles[kMenuGroupCount] = {"&Port", "&Send", "&View", "&Log",
                                                           "&Help"};
  return kTitles[static_cast<int>(group)];
}

}  // namespace quorvel
