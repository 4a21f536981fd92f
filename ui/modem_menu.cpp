#include "ui/modem_menu.h"

#include <QAction>
#include <QMenu>
#include <QSocketNotifier>
#include <QWidget>

#include "link/termios2_line.h"
#include "ui/status_line.h"

namespace quorvel {
namespace {

struct MenuEntry {
  ModemMenu::Entry entry;
  const char* text;
  QKeyCombination key;  // none for the "Lines at open" choices
  bool checkable;
};

// The keys leave text editing alone: Ctrl+Shift with a letter that no box
// uses.
constexpr MenuEntry kEntries[] = {
    {ModemMenu::Entry::kDtr, "DTR", Qt::CTRL | Qt::SHIFT | Qt::Key_D, true},
    {ModemMenu::Entry::kRts, "RTS", Qt::CTRL | Qt::SHIFT | Qt::Key_R, true},
    {ModemMenu::Entry::kPulseDtr, "Pulse DTR", Qt::CTRL | Qt::SHIFT | Qt::Key_T, false},
    {ModemMenu::Entry::kPulseRts, "Pulse RTS", Qt::CTRL | Qt::SHIFT | Qt::Key_Y, false},
    {ModemMenu::Entry::kBreak, "Send break", Qt::CTRL | Qt::SHIFT | Qt::Key_B, false},
    {ModemMenu::Entry::kDtrAtOpen, "DTR active", QKeyCombination(), true},
    {ModemMenu::Entry::kRtsAtOpen, "RTS active", QKeyCombination(), true},
};

struct LineName {
  unsigned line;
  const char* name;
};
constexpr LineName kShownLines[] = {{kLineDtr, "DTR"}, {kLineRts, "RTS"}, {kLineCts, "CTS"},
                                    {kLineDsr, "DSR"}, {kLineDcd, "DCD"}, {kLineRi, "RI"}};

QString FlowText(const LineSnapshot& line) {
  if (line.hardwareFlow && line.softwareFlow) return QStringLiteral("flow: RTS/CTS+XON/XOFF");
  if (line.hardwareFlow) return QStringLiteral("flow: RTS/CTS");
  if (line.softwareFlow) return QStringLiteral("flow: XON/XOFF");
  return QStringLiteral("flow: none");
}

}  // namespace

ModemMenu::ModemMenu(QWidget* window, QMenu* menu, QAction* before, LinkControl& link,
                     SerialPort& port, StatusLine* status)
    : QObject(window), link_(link), port_(port), status_(status) {
  QMenu* target = menu;
  QAction* targetBefore = before;
  for (const MenuEntry& item : kEntries) {
    if (item.entry == Entry::kDtrAtOpen) {
      // The choice for the next open: always available, also while closed.
      target = new QMenu(QStringLiteral("Lines at open"), menu);
      menu->insertMenu(before, target);
      targetBefore = nullptr;
    }
    QAction* action = new QAction(QString::fromLatin1(item.text), window);
    action->setCheckable(item.checkable);
    if (item.key != QKeyCombination()) {
      action->setShortcut(QKeySequence(item.key));
      window->addAction(action);  // the key works without the menu
    }
    target->insertAction(targetBefore, action);
    Entry entry = item.entry;
    connect(action, &QAction::triggered, this,
            [this, entry](bool checked) { OnTriggered(entry, checked); });
    actions_[static_cast<int>(entry)] = action;
  }
  menu->insertSeparator(before);
  boardReady_ = new QSocketNotifier(link_.Lines().Descriptor(), QSocketNotifier::Read, this);
  connect(boardReady_, &QSocketNotifier::activated, this, [this] {
    link_.Lines().Drain();
    Refresh();
  });
}

QAction* ModemMenu::Action(Entry entry) const {
  return actions_[static_cast<int>(entry)];
}

void ModemMenu::OnTriggered(Entry entry, bool checked) {
  using Kind = LineActions::Kind;
  LinesAtOpen atOpen = port_.GetLinesAtOpen();
  switch (entry) {
    case Entry::kDtr:
      link_.Request(checked ? Kind::kRaise : Kind::kDrop, kLineDtr);
      break;
    case Entry::kRts:
      link_.Request(checked ? Kind::kRaise : Kind::kDrop, kLineRts);
      break;
    case Entry::kPulseDtr:
      link_.Request(Kind::kPulse, kLineDtr);
      break;
    case Entry::kPulseRts:
      link_.Request(Kind::kPulse, kLineRts);
      break;
    case Entry::kBreak:
      link_.Request(Kind::kBreak);
      break;
    case Entry::kDtrAtOpen:
      atOpen.dtrActive = checked;
      port_.SetLinesAtOpen(atOpen);
      break;
    case Entry::kRtsAtOpen:
      atOpen.rtsActive = checked;
      port_.SetLinesAtOpen(atOpen);
      break;
  }
  // A line's entry shows the line, not the click, until the board says more.
  Refresh();
}

void ModemMenu::Refresh() {
  bool open = port_.IsOpen();
  LineReport report = link_.Lines().Latest();
  bool usable = open && report.available;
  for (Entry entry :
       {Entry::kDtr, Entry::kRts, Entry::kPulseDtr, Entry::kPulseRts, Entry::kBreak}) {
    Action(entry)->setEnabled(usable);
  }
  Action(Entry::kDtr)->setChecked(usable && (report.lines & kLineDtr));
  Action(Entry::kRts)->setChecked(usable && (report.lines & kLineRts));
  LinesAtOpen atOpen = port_.GetLinesAtOpen();
  Action(Entry::kDtrAtOpen)->setChecked(atOpen.dtrActive);
  Action(Entry::kRtsAtOpen)->setChecked(atOpen.rtsActive);
  ShowLines(open, report);
  ShowFlow(open);
}

void ModemMenu::ShowLines(bool open, const LineReport& report) {
  QString text;
  if (open && !report.available) {
    text = QStringLiteral("lines: not available");
  } else if (open) {
    for (const LineName& shown : kShownLines) {
      if (!text.isEmpty()) text += QLatin1Char(' ');
      text += QString::fromLatin1(shown.name);
      text += (report.lines & shown.line) ? QChar(0x25CF) : QChar(0x25CB);  // ● active, ○ not
    }
  }
  status_->SetText(StatusLine::Field::kLines, text);
}

void ModemMenu::ShowFlow(bool open) {
  if (open && port_.IsNetwork()) {
    // Raw TCP carries bytes only: the line settings cannot reach the far port.
    status_->SetText(StatusLine::Field::kFlow,
                     port_.NetworkType() == NetworkKind::kTcp
                         ? QStringLiteral("raw tcp: line settings local only")
                         : QStringLiteral("rfc2217: settings sent to the far port"));
    return;
  }
  // What the driver has in force, which may not be what was asked for.
  LineSnapshot line;
  bool known = open && ReadLineSnapshot(port_.Descriptor(), &line);
  status_->SetText(StatusLine::Field::kFlow, known ? FlowText(line) : QString());
}

}  // namespace quorvel
