#include "ui/two_ports.h"

#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QWidget>

#include "settings/port_choice_settings.h"
#include "ui/message_box.h"
#include "ui/pair_pane.h"
#include "ui/port_choice_dialog.h"
#include "ui/second_port.h"
#include "ui/status_line.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

// Until a width is stored, a pane beside the view takes this many pixels.
constexpr int kPaneWidth = 420;

// The commands a pane with the focus may take: those that act on "the port".
constexpr Command kPortCommands[] = {
    Command::kDtr,       Command::kRts,        Command::kPulseDtr,    Command::kPulseRts,
    Command::kBreak,     Command::kSendFile,   Command::kReceiveFile, Command::kCancelFileSend,
    Command::kFind,      Command::kCopyAsHex,  Command::kSaveSession, Command::kClearReceive,
    Command::kLogToFile, Command::kStopLogging};

// Those of them the first port offers only while its session view is on.
constexpr Command kHistoryCommands[] = {Command::kFind, Command::kCopyAsHex, Command::kSaveSession};

bool IsPortCommand(Command command) {
  for (Command each : kPortCommands) {
    if (each == command) return true;
  }
  return false;
}

}  // namespace

TwoPorts::TwoPorts(Parts parts) : QObject(parts.window), parts_(std::move(parts)) {
  WindowCommands& commands = parts_.commands;
  commands.Bind(Command::kOpenSecondPort, this, &TwoPorts::AskSecondPort);
  commands.Bind(Command::kCloseSecondPort, this, &TwoPorts::CloseSecondPort);
  commands.Bind(Command::kMonitorLink, this, [this] { AskLink(PairMode::kMonitor); });
  commands.Bind(Command::kBridgeLink, this, [this] { AskLink(PairMode::kBridge); });
  commands.Bind(Command::kStopLink, this, &TwoPorts::StopLink);
  commands.Action(Command::kCloseSecondPort)->setEnabled(false);
  commands.Action(Command::kStopLink)->setEnabled(false);
  connect(qApp, &QApplication::focusChanged, this,
          [this](QWidget*, QWidget* now) { FocusMoved(now); });
}

TwoPorts::~TwoPorts() {
  parts_.commands.SetTaker(nullptr);
  Shutdown();
  delete second_;
  delete pair_;
}

void TwoPorts::Prepare(const StartupOptions& options) {
  SecondPortSettings stored = LoadSecondPortSettings(parts_.settingsFile);
  if (stored.shown && !stored.port.target.empty()) EnsureSecond();
  if (options.link) EnsureLink();
}

void TwoPorts::Start(const StartupOptions& options) {
  if (second_) second_->Open(LoadSecondPortSettings(parts_.settingsFile).port);
  if (!options.link) return;
  PairSettings pair = LoadPairSettings(parts_.settingsFile);
  PortChoice a = pair.a, b = pair.b;
  a.target = options.link->a;
  b.target = options.link->b;
  if (options.link->baudA != 0) a.baud = options.link->baudA;
  if (options.link->baudB != 0) b.baud = options.link->baudB;
  std::string whyA, whyB;
  std::optional<PortTarget> targetA = ResolvePortChoice(a.target, parts_.names, whyA);
  std::optional<PortTarget> targetB = ResolvePortChoice(b.target, parts_.names, whyB);
  if (!targetA || !targetB) {
    ShowWarning(parts_.window,
                QStringLiteral("The link cannot start: %1.")
                    .arg(QString::fromStdString(!targetA ? "A: " + whyA : "B: " + whyB)));
    return;
  }
  StartLink(options.link->mode, {*targetA, a.Line()}, {*targetB, b.Line()});
}

SecondPort* TwoPorts::Second() const {
  return second_;
}

PairPane* TwoPorts::Link() const {
  return pair_;
}

void TwoPorts::EndForClose() {
  if (second_) second_->EndForClose();
}

void TwoPorts::Shutdown() {
  if (second_) second_->Shutdown();
  if (pair_) pair_->Stop();
}

SecondPort* TwoPorts::EnsureSecond() {
  if (second_) return second_;
  second_ = new SecondPort(parts_.names, parts_.settingsFile, parts_.modem, parts_.status, nullptr);
  parts_.layout.AddBesideView(second_, kPaneWidth);
  parts_.layout.ShowBesideView(second_, true);
  parts_.commands.Action(Command::kCloseSecondPort)->setEnabled(true);
  return second_;
}

PairPane* TwoPorts::EnsureLink() {
  if (pair_) return pair_;
  pair_ = new PairPane(
      parts_.settingsFile, parts_.modem, [this] { ShowLinkStatus(); }, nullptr);
  pair_->SetCloser([this] { ClosePane(pair_); });
  GiveAnswerRules();
  parts_.layout.AddBesideView(pair_, kPaneWidth);
  parts_.layout.ShowBesideView(pair_, true);
  return pair_;
}

void TwoPorts::SetAnswerRules(std::shared_ptr<const AnswerRuleTable> a,
                              std::shared_ptr<const AnswerRuleTable> b,
                              const TerminalState* frameEnd) {
  answerRules_ = {std::move(a), std::move(b)};
  frameEnd_ = frameEnd;
  GiveAnswerRules();
}

void TwoPorts::GiveAnswerRules() {
  if (!pair_) return;
  for (PairSide side : {PairSide::kA, PairSide::kB}) {
    pair_->Pair().SetAnswerRules(side, answerRules_[static_cast<size_t>(side)], frameEnd_);
  }
}

void TwoPorts::AskSecondPort() {
  SecondPortSettings stored =
      second_ ? second_->Settings() : LoadSecondPortSettings(parts_.settingsFile);
  std::optional<PortChoice> chosen =
      AskPortChoice(parts_.window, QStringLiteral("Open second port"), parts_.names, stored.port);
  if (!chosen) return;
  SecondPort* pane = EnsureSecond();
  pane->Open(*chosen);
  pane->SendBox()->setFocus(Qt::OtherFocusReason);
}

void TwoPorts::CloseSecondPort() {
  if (!second_) return;
  second_->Shutdown();
  SecondPortSettings kept = second_->Settings();
  kept.shown = false;
  SaveSecondPortSettings(kept, parts_.settingsFile);
  ClosePane(second_);
  parts_.commands.Action(Command::kCloseSecondPort)->setEnabled(false);
}

void TwoPorts::ClosePane(QWidget* pane) {
  if (!pane) return;
  bool focused =
      (pane == second_ && focus_ == Focus::kSecond) || (pane == pair_ && focus_ == Focus::kLink);
  parts_.layout.ShowBesideView(pane, false);
  pane->deleteLater();
  if (pane == pair_) {
    pair_ = nullptr;
    ShowLinkStatus();
  }
  if (pane == second_) second_ = nullptr;
  // The status line names the pane only while there is more than one.
  SetFocus(focused ? Focus::kFirst : focus_);
}

void TwoPorts::AskLink(PairMode mode) {
  PairSettings stored = LoadPairSettings(parts_.settingsFile);
  bool bridge = mode == PairMode::kBridge;
  QString title =
      bridge ? QStringLiteral("Bridge two ports") : QStringLiteral("Monitor two ports as one link");
  QString what = bridge ? QStringLiteral(
                              "What A reads goes out on B at once, and what B reads on A; the "
                              "view shows both directions. Each side keeps its own line "
                              "settings.")
                        : QStringLiteral(
                              "A and B are only read, never written: each taps one direction "
                              "of the link, and the view shows both in the order they were "
                              "read.");
  std::optional<PortPair> chosen =
      AskPortPair(parts_.window, title, what, parts_.names, {stored.a, stored.b});
  if (!chosen) return;
  SavePairSettings({bridge, chosen->a, chosen->b}, parts_.settingsFile);
  std::string why;
  std::optional<PortTarget> a = ResolvePortChoice(chosen->a.target, parts_.names, why);
  std::optional<PortTarget> b = ResolvePortChoice(chosen->b.target, parts_.names, why);
  if (!a || !b) return;  // the dialog refused those already
  StartLink(mode, {*a, chosen->a.Line()}, {*b, chosen->b.Line()});
}

void TwoPorts::StartLink(PairMode mode, const PairEnd& a, const PairEnd& b) {
  EnsureLink()->Start(mode, a, b);
  pair_->setFocus(Qt::OtherFocusReason);
  ShowLinkStatus();
}

void TwoPorts::StopLink() {
  if (pair_) pair_->Stop();
  ShowLinkStatus();
}

void TwoPorts::ShowLinkStatus() {
  parts_.status.SetText(StatusLine::Field::kLinkPair, pair_ ? pair_->StatusText() : QString());
  parts_.commands.Action(Command::kStopLink)->setEnabled(pair_ && pair_->Pair().Running());
}

void TwoPorts::FocusMoved(QWidget* now) {
  // A menu, a dialog or another window leaves the pane that had it.
  if (!now || now->window() != parts_.window) return;
  if (second_ && (now == second_ || second_->isAncestorOf(now))) {
    SetFocus(Focus::kSecond);
  } else if (pair_ && (now == pair_ || pair_->isAncestorOf(now))) {
    SetFocus(Focus::kLink);
  } else {
    SetFocus(Focus::kFirst);
  }
}

void TwoPorts::SetFocus(Focus focus) {
  focus_ = focus;
  parts_.commands.SetTaker(focus == Focus::kFirst ? nullptr : this);
  // The first port's history commands are off while its session view is:
  // a pane's own history takes them whatever the first port shows. Back on
  // the first port they follow its view again (and its save in progress).
  WindowCommands& commands = parts_.commands;
  bool firstView = commands.Action(Command::kSessionView)->isChecked();
  QAction* save = commands.Action(Command::kSaveSession);
  bool firstSaving = save->text() != QString::fromUtf8(RowOf(Command::kSaveSession).text);
  // The console, while it shows, finds in its own screen, and says so.
  QAction* find = commands.Action(Command::kFind);
  bool consoleFinds = find->text() != QString::fromUtf8(RowOf(Command::kFind).text);
  for (Command history : kHistoryCommands) {
    bool saving = history == Command::kSaveSession && firstSaving;
    bool firstHas = history == Command::kFind ? firstView || consoleFinds : firstView && !saving;
    commands.Action(history)->setEnabled(focus != Focus::kFirst || firstHas);
  }
  // "Cancel file send" follows the first port's sends; a pane with the focus
  // takes it whatever they do (with nothing to cancel it does nothing), and
  // the first port gets its own state back.
  QAction* cancel = commands.Action(Command::kCancelFileSend);
  if (focus != Focus::kFirst && !paneCancels_) {
    firstCancels_ = cancel->isEnabled();
    paneCancels_ = true;
    cancel->setEnabled(true);
  } else if (focus == Focus::kFirst && paneCancels_) {
    paneCancels_ = false;
    cancel->setEnabled(firstCancels_);
  }
  QString text;
  if (focus == Focus::kSecond) {
    text = QStringLiteral("port 2");
  } else if (focus == Focus::kLink && pair_) {
    text = QString::fromLatin1(PairModeName(pair_->Pair().Mode()));
  } else if (second_ || pair_) {
    text = QStringLiteral("port 1");
  }
  parts_.status.SetText(StatusLine::Field::kPane, text);
}

bool TwoPorts::Take(Command command, bool checked) {
  if (!IsPortCommand(command)) return false;
  CommandTaker* pane = focus_ == Focus::kSecond ? static_cast<CommandTaker*>(second_.data())
                       : focus_ == Focus::kLink ? static_cast<CommandTaker*>(pair_.data())
                                                : nullptr;
  if (!pane || !pane->Take(command, checked)) return false;
  // A check entry shows the first port's line: the click made it lie.
  if (QAction* action = parts_.commands.Action(command); action->isCheckable()) {
    action->setChecked(!checked);
  }
  return true;
}

}  // namespace quorvel
