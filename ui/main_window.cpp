#include "ui/main_window.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QTimer>
#include <limits>

#include "core/clock.h"
#include "core/strings.h"
#include "settings/settings.h"
#include "settings/window_settings.h"
#include "ui/answer_rules_dialog.h"
#include "ui/app_icon.h"
#include "ui/branding.h"
#include "ui/byte_text_box.h"
#include "ui/console_viewer.h"
#include "ui/demo_session.h"
#include "ui/form_exchange.h"
#include "ui/line_tools.h"
#include "ui/message_box.h"
#include "ui/modem_menu.h"
#include "ui/plot_viewer.h"
#include "ui/port_list.h"
#include "ui/publish_pacer.h"
#include "ui/receive_box.h"
#include "ui/script_viewer.h"
#include "ui/send_list_panel.h"
#include "ui/send_tools.h"
#include "ui/session_viewer.h"
#include "ui/settings_file_notice.h"
#include "ui/status_line.h"
#include "ui/transfer_tools.h"
#include "ui/two_ports.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

constexpr int kDialogFontPoints = 9;
constexpr int kShortestTimerPeriodMs = 10;

}  // namespace

int PlatformTimerPeriod(int32_t requestedMs) {
  // A negative period stands for a huge unsigned one, which the platform caps
  // at its longest period: about 24.8 days.
  if (requestedMs < 0) return std::numeric_limits<int>::max();
  if (requestedMs < kShortestTimerPeriodMs) return kShortestTimerPeriodMs;
  return requestedMs;
}

MainWindow::MainWindow(const StartupOptions& options, ModemControl& modem)
    : QDialog(nullptr), options_(options), link_(modem) {
  link_.AttachTerminal(&state_);
  // Nothing the start finds wrong asks anything before the window is up and
  // its port open: an unattended start opens its port whatever it found.
  startHold_ = std::make_unique<MessageHold>();
  state_.AttachWindow(this);
  UiCallQueue& calls = link_.Hub().uiCalls;
  // The worker's calls wait in the hub's uiCalls until the UI thread serves
  // them; the queue's descriptor turns readable and the event loop notices.
  // Not a blocking queued call: that would deadlock while the UI thread
  // waits for the worker to stop. Nor a posted event: that hands the
  // toolkit's objects between threads behind synchronisation
  // ThreadSanitizer cannot see.
  callsWaiting_ = new QSocketNotifier(calls.WakeDescriptor(), QSocketNotifier::Read, this);
  connect(callsWaiting_, &QSocketNotifier::activated, this, [&calls] { calls.Serve(); });
  // A device that hangs up, returns or is looked for again wakes the link.
  linkWaiting_ = new QSocketNotifier(link_.WakeDescriptor(), QSocketNotifier::Read, this);
  connect(linkWaiting_, &QSocketNotifier::activated, this, [this] {
    if (link_.Service()) ShowLinkStatus(link_.Status());
    TakeLinkNews();
  });
  linkNews_ = new QSocketNotifier(link_.Hub().news.Descriptor(), QSocketNotifier::Read, this);
  connect(linkNews_, &QSocketNotifier::activated, this, &MainWindow::TakeLinkNews);

  baseTitle_ =
      QStringLiteral("%1 serial debug tool  %2")
          .arg(QString::fromLatin1(kMakerShortName), QString::fromLatin1(kMakerWebAddress));
  setWindowTitle(baseTitle_);
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowSystemMenuHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setFont(DialogFont(kDialogFontPoints));
  DialogUnits units(font());
  // The menu bar, the template's area below it with the panes that grow
  // with the window, and the status line below them all.
  statusLine_ = new StatusLine(this);
  layout_ = new WindowLayout(*this, *statusLine_, units);
  commands_ = new WindowCommands(this);
  AddMenuBar();
  options_.settingsFile = UseSettingsFile(this, *statusLine_, options_.settingsFile);

  // 1. The controls from the template, with its initial list entries, and a
  //    first publish.
  controls_ = BuildControls(layout_->Form(), MainDialogTemplate(), units);
  layout_->Arrange(controls_);
  exchange_ = std::make_unique<FormExchange>(state_, link_.Hub().counters,
                                             FormControls{
                                                 static_cast<ReceiveBox*>(Control(kReceiveBox)),
                                                 static_cast<ByteTextBox*>(Control(kSendBox)),
                                                 static_cast<QCheckBox*>(Control(kSendAsHexCheck)),
                                                 static_cast<QCheckBox*>(Control(kHexDisplayCheck)),
                                                 static_cast<QLineEdit*>(Control(kPeriodBox)),
                                                 static_cast<QCheckBox*>(Control(kTimerCheck)),
                                                 static_cast<QLineEdit*>(Control(kIntervalBox)),
                                                 static_cast<QLineEdit*>(Control(kRxBox)),
                                                 static_cast<QLineEdit*>(Control(kTxBox)),
                                                 static_cast<QLineEdit*>(Control(kAverageBox)),
                                                 static_cast<QLineEdit*>(Control(kFrameEndBox)),
                                                 static_cast<QCheckBox*>(Control(kReplyCheck)),
                                             });
  publisher_ = std::make_unique<PublishPacer>([this] { PublishReceived(); }, nullptr);
  sendTimer_ = new QTimer(this);
  sendTimer_->setTimerType(Qt::PreciseTimer);
  ConnectEvents();
  exchange_->Publish();

  // The tools beside the template: file send and logging, the answer rules,
  // the send history, options and list.
  tools_ = new LineTools(this, link_, *statusLine_, options_.settingsFile);
  transfers_ = new TransferTools(this, link_, *statusLine_, options_.settingsFile, [this] {
    publisher_->Request();  // the counters move while the transfer has the line
    tools_->Refresh();
  });
  tools_->SetTransfers(transfers_);
  answerRules_ = new AnswerRulesControl(this, state_, *statusLine_, options_.settingsFile);
  sendTools_ = new SendTools(
      {*this, state_, *exchange_, link_, *statusLine_, options_.settingsFile, *layout_});
  sendTools_->WatchList([this] { answerRules_->SetEntryLookup(sendTools_->EntryByName()); });
  sendTools_->HoldRunWhile([this] { return transfers_->Running(); });
  // 2. The commands of the window and its tools, the About entry among them
  //    (Help menu, the context menu's end, the help key), and the text size.
  BindCommands();
  // 3. The icon.
  setWindowIcon(AppIcon());
  // 4. The lists that the program fills.
  FillSelectors();
  // 5. The stored settings with the port map, the command line's port and
  //    rate, and what is behind each port number.
  if (options_.demo) demo_ = std::make_unique<DemoSession>();
  ApplyStoredSettings();
  if (demo_) baseTitle_ += demo_->TitleNote();
  portList_ = new PortList(Selector(kPortSelector), names_, this);
  // The session view, in the receive box's place while its mode is on.
  session_ = new SessionViewer({this, [this](ControlId id) { return Control(id); },
                                link_.Hub().listeners, &state_, tools_->Logger(),
                                options_.settingsFile, [this] { publisher_->Request(); }});
  session_->BindCommands(*commands_);
  session_->WatchSettings(
      [this](const ViewSettings& settings) { transfers_->SetAutoStart(settings.zmodemAutoStart); });
  tools_->SetStatusHook([this] { session_->Publish(); });
  // The plot, in a pane beside the view while shown.
  plot_ = new PlotViewer(*layout_, link_.Hub().listeners, *session_, options_.settingsFile);
  plot_->BindCommands(*commands_);
  // A script's line settings show in the selectors, as the user's own do.
  script_ = new ScriptViewer(*this, *layout_, link_, *statusLine_, options_.settingsFile,
                             [this](const LineParameters& line) {
                               if (!link_.ApplyLineSettings(line)) return false;
                               ShowSelection(SelectionShowing(CurrentSelection(), line));
                               applied_ = CurrentSelection();
                               ShowLinkStatus(link_.Status());
                               return true;
                             });
  script_->BindCommands(*commands_);
  // The second port and a monitored or bridged link, in panes beside it.
  twoPorts_ = new TwoPorts(
      {this, *layout_, *commands_, *statusLine_, names_, options_.settingsFile, modem});
  // A bridge answers by the rules of its directions, framed as the window's.
  answerRules_->WatchBridgeRules([this] {
    twoPorts_->SetAnswerRules(answerRules_->BridgeRules(PairSide::kA),
                              answerRules_->BridgeRules(PairSide::kB), &state_);
  });
  twoPorts_->Prepare(options_);
  // The console, over the receive area while shown; a listener of the link.
  console_ =
      new ConsoleViewer({this, *layout_, link_, *session_, *statusLine_, options_.settingsFile});
  console_->BindCommands(*commands_);
  // The size, place and panes the window had when it was last closed.
  layout_->Restore(LoadWindowSettings(options_.settingsFile));
  // 6. The counter and the first transmission timestamp.
  link_.Hub().counters.Update([](CounterValues& values) {
    values.counterFrequency = CounterFrequency();
    values.lastSendTime = ReadCounter();
  });
  // 7. The link opens on the loaded settings. What it has to say (a port
  //    that would not open) is told with the start's notices. A start into
  //    a monitored or bridged link leaves it closed: it may be A or B.
  ShowLinkStatus(options_.link ? link_.Status() : OpenSelected());
  twoPorts_->Start(options_);
  // 8. The focus starts on "Send", so Enter at once clicks it.
  Control(kSendButton)->setFocus(Qt::OtherFocusReason);
  console_->FocusIfShown();  // a shown console has the keys
  TakeLinkNews();            // held with the start's other notices
  startNotices_ = startHold_->Release();
  startHold_.reset();
}

MainWindow::~MainWindow() {
  // The baud box's edit says "editing finished" when the focus leaves it as
  // the controls go, after this part of the window is gone.
  Selector(kBaudSelector)->lineEdit()->disconnect(this);
  Shutdown();
  answerRules_->WatchBridgeRules({});
  delete twoPorts_;  // its panes' links, before the window's parts they use
  twoPorts_ = nullptr;
  state_.AttachWindow(nullptr);
  // Before the queue closes its descriptor with the state, the board its own
  // with the link, and the state and the writer the tools use go.
  delete callsWaiting_;
  tools_->SetStatusHook(nullptr);
  delete console_;  // it covers the session view and sends through the link
  delete plot_;     // it may start from the session's history
  delete script_;
  delete session_;
  delete modemMenu_;
  tools_->SetTransfers(nullptr);
  delete transfers_;  // after the link: no worker holds its channel now
  delete tools_;
  delete linkWaiting_;
}

void MainWindow::Shutdown() {
  sendTimer_->stop();
  script_->Shutdown();  // its sends and transfers end before the line's
  twoPorts_->Shutdown();
  transfers_->Shutdown();  // the transfer's cancel, before the port closes
  link_.Shutdown();
  tools_->Shutdown();  // the log is complete once nothing reads or writes the line
  session_->Shutdown();
}

void MainWindow::ConnectEvents() {
  static constexpr EventEntry kEventTable[] = {
      {kSendButton, Notification::kClicked, &MainWindow::OnSend},
      {kOpenCloseButton, Notification::kClicked, &MainWindow::OnOpenClose},
      {kClearReceiveButton, Notification::kClicked, &MainWindow::OnClearReceive},
      {kEchoCheck, Notification::kClicked, &MainWindow::OnEchoToggled},
      {kParitySelector, Notification::kSelectionChanged, &MainWindow::OnLineSettingChanged},
      {kBaudSelector, Notification::kSelectionChanged, &MainWindow::OnBaudChosen},
      {kDataBitsSelector, Notification::kSelectionChanged, &MainWindow::OnLineSettingChanged},
      {kStopBitsSelector, Notification::kSelectionChanged, &MainWindow::OnLineSettingChanged},
      {kPortSelector, Notification::kSelectionChanged, &MainWindow::OnPortChanged},
      {kFlowSelector, Notification::kSelectionChanged, &MainWindow::OnFlowControlChanged},
      {kSendAsHexCheck, Notification::kClicked, &MainWindow::OnSendAsHexToggled},
      {kHexDisplayCheck, Notification::kClicked, &MainWindow::OnHexDisplayToggled},
      {kTimerCheck, Notification::kClicked, &MainWindow::OnTimerToggled},
      {kResetButton, Notification::kClicked, &MainWindow::OnResetCounters},
      {kReplyCheck, Notification::kClicked, &MainWindow::OnReplyToggled},
  };
  for (const EventEntry& entry : kEventTable) {
    auto handler = entry.handler;
    auto run = [this, handler] { (this->*handler)(); };
    switch (entry.notification) {
      case Notification::kClicked:
        connect(static_cast<QAbstractButton*>(Control(entry.id)), &QAbstractButton::clicked, this,
                run);
        break;
      case Notification::kSelectionChanged:
        // Only a user's choice: selecting an entry from the program (while
        // the settings are applied) changes nothing on the line.
        connect(Selector(entry.id), &QComboBox::activated, this, run);
        break;
    }
  }
  connect(sendTimer_, &QTimer::timeout, this, &MainWindow::OnTimer);
  // A rate typed into the baud selector is taken on Enter and when the focus
  // leaves it.
  // A typed rate is taken as typed: no completion to a listed rate.
  Selector(kBaudSelector)->setCompleter(nullptr);
  connect(Selector(kBaudSelector)->lineEdit(), &QLineEdit::editingFinished, this,
          &MainWindow::OnBaudTyped);
}

void MainWindow::FillSelectors() {
  auto fill = [this](ControlId id, const auto& entries) {
    QComboBox* selector = Selector(id);
    for (const auto& entry : entries) selector->addItem(QString::fromStdString(std::string(entry)));
  };
  fill(kPortSelector, PortEntries());
  fill(kBaudSelector, BaudEntries());
  fill(kParitySelector, kParityEntries);
  fill(kFlowSelector, kFlowEntries);
}

void MainWindow::ApplyStoredSettings() {
  Settings settings = LoadSettingsFile(options_.settingsFile);
  AssignDetectedPorts(settings.portMap);
  for (const auto& [number, path] : settings.portMap) names_.Set(number, path);
  LineSelection stored = settings.selection;
  // Said before the window shows, as a port that fails to open is.
  if (std::string refusal = ApplyStartupOptions(options_, names_, stored); !refusal.empty()) {
    ShowWarning(this, QStringLiteral("%1 cannot be opened: %2.")
                          .arg(TextFromBytes(options_.device->Text()), TextFromBytes(refusal)));
  }
  if (demo_) demo_->Place(names_, stored);
  link_.Port().SetLinesAtOpen(settings.linesAtOpen);

  ShowSelection(stored);
  applied_ = CurrentSelection();
  {
    std::lock_guard guard(state_.lock);
    state_.hexDisplay = settings.hexDisplay;
    state_.sendAsHex = settings.sendAsHex;
    state_.timerIntervalMs = settings.timerIntervalMs;
    state_.frameEndText = settings.frameEndText;
    state_.frameEndByte = settings.frameEndByte;
    state_.sendText.clear();
  }
  exchange_->Publish();
}

void MainWindow::SaveSettingsOnClose() {
  exchange_->Capture();  // whatever its outcome: what it stored is saved
  Settings settings;
  settings.selection = CurrentSelection();
  {
    std::lock_guard guard(state_.lock);
    settings.hexDisplay = state_.hexDisplay;
    settings.sendAsHex = state_.sendAsHex;
    settings.timerIntervalMs = state_.timerIntervalMs;
    settings.frameEndText = state_.frameEndText;
    settings.frameEndByte = state_.frameEndByte;
  }
  settings.portMap = names_.Entries();
  if (demo_) demo_->Unplace(settings);
  settings.linesAtOpen = link_.Port().GetLinesAtOpen();
  EnsureSettingsDirectory();
  SaveSettingsFile(settings, options_.settingsFile);
  SaveWindowSettings(layout_->Stored(), options_.settingsFile);
  sendTools_->Save();
}

void MainWindow::EnsureSettingsDirectory() const {
  // The user's configuration directory is made when first needed.
  std::error_code ignored;
  if (options_.settingsFile.has_parent_path()) {
    std::filesystem::create_directories(options_.settingsFile.parent_path(), ignored);
  }
}

void MainWindow::ShowSelection(const LineSelection& selection) {
  LineSelection shown = selection;
  // A typed rate that the list has is that entry.
  if (int listed = selection.typedBaud != 0 ? BaudPosition(selection.typedBaud) : -1; listed >= 0) {
    shown.baudPos = listed;
    shown.typedBaud = 0;
  }
  if (shown.typedBaud != 0) shown.baudPos = -1;
  const std::pair<ControlId, int32_t> positions[] = {
      {kPortSelector, shown.portPos},         {kBaudSelector, shown.baudPos},
      {kDataBitsSelector, shown.dataBitsPos}, {kStopBitsSelector, shown.stopBitsPos},
      {kParitySelector, shown.parityPos},     {kFlowSelector, shown.flowPos},
  };
  for (auto [id, position] : positions) {
    QComboBox* selector = Selector(id);
    // A position outside the list leaves the selector with nothing selected.
    selector->setCurrentIndex(position >= 0 && position < selector->count() ? position : -1);
  }
  typedBaud_ = shown.typedBaud;
  if (typedBaud_ != 0) Selector(kBaudSelector)->setEditText(QString::number(typedBaud_));
}

LineSelection MainWindow::CurrentSelection() const {
  return {Selector(kPortSelector)->currentIndex(),
          Selector(kBaudSelector)->currentIndex(),
          Selector(kDataBitsSelector)->currentIndex(),
          Selector(kStopBitsSelector)->currentIndex(),
          Selector(kParitySelector)->currentIndex(),
          Selector(kFlowSelector)->currentIndex(),
          typedBaud_};
}

void MainWindow::ZoomIn() {
  layout_->SetTextPoints(layout_->TextPoints() + 1);
}

void MainWindow::ZoomOut() {
  layout_->SetTextPoints(layout_->TextPoints() - 1);
}

void MainWindow::ResetZoom() {
  layout_->SetTextPoints(kDefaultTextPoints);
}

QWidget* MainWindow::Control(ControlId id) const {
  auto found = controls_.find(id);
  return found == controls_.end() ? nullptr : found->second;
}

QComboBox* MainWindow::Selector(ControlId id) const {
  return static_cast<QComboBox*>(Control(id));
}

void MainWindow::Enable(ControlId id, bool enabled) {
  Control(id)->setEnabled(enabled);
}

LinkStatus MainWindow::OpenSelected() {
  LineSelection selection = CurrentSelection();
  int number = selection.portPos + 1;
  std::optional<PortTarget> target = names_.Target(number);
  if (!target) return link_.Refuse(names_.WhyNoTarget(number));
  return link_.Open(*target, ReadLineSelections(selection));
}

void MainWindow::TakeLinkNews() {
  LinkNews& news = link_.Hub().news;
  for (std::string& text : news.Take()) messagesDue_.push_back(std::move(text));
  exchange_->ShowTxCount(link_.Hub().counters.Read().txCount);
  tools_->Refresh();
  // A box's own event loop may bring more news: it waits for the box before.
  if (showingMessages_) return;
  showingMessages_ = true;
  while (!messagesDue_.empty()) {
    std::string text = std::move(messagesDue_.front());
    messagesDue_.pop_front();
    ShowWarning(this, QString::fromStdString(text));
    news.Dismissed(text);
  }
  showingMessages_ = false;
}

void MainWindow::ShowLinkStatus(const LinkStatus& status) {
  QString caption = QString::fromLatin1(
      LoadString(status.open ? StringId::kCloseCaption : StringId::kOpenCaption));
  static_cast<QPushButton*>(Control(kOpenCloseButton))->setText(caption);
  commands_->Action(Command::kOpenClose)->setText(caption);
  int position = Selector(kPortSelector)->currentIndex();
  std::string path = position >= 0 ? names_.DevicePath(position + 1) : std::string();
  if (status.waiting) path = link_.WaitingFor();
  QString state = status.connecting ? QStringLiteral("connecting")
                  : status.waiting  ? QStringLiteral("waiting")
                  : status.open     ? QStringLiteral("open")
                                    : QStringLiteral("closed");
  QString text =
      QStringLiteral("%1 %2").arg(demo_ ? demo_->DeviceName(path) : TextFromBytes(path), state);
  // Why a network port could not be reached: at the failed open, and while
  // the link waits for the server to come back.
  if ((!status.open || status.waiting) && !link_.ConnectFailure().empty()) {
    text += QStringLiteral(" \u2014 %1").arg(TextFromBytes(link_.ConnectFailure()));
  }
  // A driver that rounds a rate says so here.
  uint32_t asked = link_.RateAsked();
  uint32_t inForce = link_.RateInForce();
  if (status.open && !status.waiting && asked != 0 && inForce != 0 && inForce != asked) {
    text += QStringLiteral(" \u00b7 %1 baud asked, driver set %2").arg(asked).arg(inForce);
  }
  statusLine_->SetText(StatusLine::Field::kLink, text);
  // The title says while the device is away, and no more once it is back.
  setWindowTitle(status.waiting ? QStringLiteral("%1 \u2014 COM%2 waiting for %3")
                                      .arg(baseTitle_)
                                      .arg(position + 1)
                                      .arg(TextFromBytes(path))
                                : baseTitle_);
  modemMenu_->Refresh();
  if (script_) script_->LinkChanged(status);
}

}  // namespace quorvel
