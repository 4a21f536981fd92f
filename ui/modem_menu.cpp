#include "ui/modem_menu.h"

#include <QAction>
#include <QSocketNotifier>
#include <QWidget>

#include "link/termios2_line.h"
#include "ui/status_line.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

// The command of each entry, in the entries' order.
constexpr Command kCommands[] = {Command::kDtr,      Command::kRts,   Command::kPulseDtr,
                                 Command::kPulseRts, Command::kBreak, Command::kDtrAtOpen,
                                 Command::kRtsAtOpen};

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

ModemMenu::ModemMenu(QWidget* window, WindowCommands& commands, LinkSession& link,
                     StatusLine* status)
    : QObject(window), link_(link), port_(link.Port()), status_(status), commands_(commands) {
  // The "Lines at open" choices are for the next open: always available,
  // also while closed.
  for (int i = 0; i < static_cast<int>(std::size(kCommands)); ++i) {
    auto entry = static_cast<Entry>(i);
    commands_.Bind(kCommands[i], this,
                   [this, entry](bool checked) { OnTriggered(entry, checked); });
  }
  boardReady_ = new QSocketNotifier(link_.Lines().Descriptor(), QSocketNotifier::Read, this);
  connect(boardReady_, &QSocketNotifier::activated, this, [this] {
    link_.Lines().Drain();
    Refresh();
  });
}

QAction* ModemMenu::Action(Entry entry) const {
  return commands_.Action(kCommands[static_cast<int>(entry)]);
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
