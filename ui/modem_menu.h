// The modem lines in the window: the Port menu's commands and keys that
// raise, drop and pulse DTR and RTS and send a break, the "Lines at open"
// choice, and the status line's lines and flow-control fields. The lines'
// state comes from the link's board, which the watcher and the commands renew
// on their own threads; the window reads it when the board's descriptor turns
// readable, so no other thread ever waits for this one.
#pragma once

#include <QObject>

#include "connection/link_session.h"

class QAction;
class QSocketNotifier;
class QWidget;

namespace quorvel {

class StatusLine;
class WindowCommands;

class ModemMenu : public QObject {
 public:
  // Takes the line commands of the window's command table.
  ModemMenu(QWidget* window, WindowCommands& commands, LinkSession& link, StatusLine* status);

  // Shows the link's lines, flow control and which entries apply now; the
  // window calls it whenever the link opens, closes or changes its settings.
  void Refresh();

  enum class Entry { kDtr, kRts, kPulseDtr, kPulseRts, kBreak, kDtrAtOpen, kRtsAtOpen };
  QAction* Action(Entry entry) const;

 private:
  void OnTriggered(Entry entry, bool checked);
  void ShowLines(bool open, const LineReport& report);
  void ShowFlow(bool open);

  LinkSession& link_;
  SerialPort& port_;  // the link's
  StatusLine* status_;
  QSocketNotifier* boardReady_;
  WindowCommands& commands_;
};

}  // namespace quorvel
