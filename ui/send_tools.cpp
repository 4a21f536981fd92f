#include "ui/send_tools.h"

#include <QKeyEvent>
#include <QMenu>
#include <QShortcut>

#include "connection/link_session.h"
#include "engine/transmit.h"
#include "settings/send_options_settings.h"
#include "settings/send_store.h"
#include "ui/byte_text_box.h"
#include "ui/link_sends.h"
#include "ui/message_box.h"
#include "ui/send_box.h"
#include "ui/send_list_panel.h"
#include "ui/send_options_menu.h"
#include "ui/status_line.h"
#include "ui/typed_text.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

constexpr int kHistoryLabelLength = 48;

constexpr char kSendBoxRefusal[] = "The send box takes no";

QString HistoryLabel(const HistoryEntry& entry, TextEncoding encoding) {
  QString text = ShownText(entry.text, encoding);
  text.replace(QStringLiteral("\r\n"), QStringLiteral(" \u21b5 "));
  if (text.size() > kHistoryLabelLength) {
    text = text.left(kHistoryLabelLength) + QStringLiteral("\u2026");
  }
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));  // no mnemonics from sent text
  return entry.hex ? QStringLiteral("[hex] ") + text : text;
}

}  // namespace

SendTools::SendTools(Parts parts)
    : QObject(&parts.window),
      window_(parts.window),
      layout_(parts.layout),
      state_(parts.state),
      sendBox_(parts.sendBox),
      status_(parts.status),
      link_(parts.link),
      settingsFile_(std::move(parts.settingsFile)) {
  history_.Assign(LoadSendHistory(settingsFile_));
  SetSendOptions(state_, LoadSendOptions(settingsFile_));
  encoding_ = LoadSendEncoding(settingsFile_);
  SetSendEncoding(state_, encoding_);
  TypedBox()->SetTypedEncoding(encoding_, kSendBoxRefusal);
  // The list is read now, for the answer rules, the Alt+digit keys and the
  // message about entries it cannot take; its panel is made when first wanted.
  list_ = LoadSendList(settingsFile_);
  if (std::string kept = KeptEntriesMessage(list_.kept, settingsFile_); !kept.empty()) {
    ShowWarning(&window_, QString::fromStdString(kept));
  }
  // The keys work on the whole window, with the panel shown or not.
  for (int i = 0; i < SendListPanel::kKeyedEntries; ++i) {
    auto* key = new QShortcut(QKeySequence(Qt::ALT | (Qt::Key_1 + i)), &window_);
    connect(key, &QShortcut::activated, this, [this, i] { SendEntry(i); });
  }
  sendBox_.Widget()->installEventFilter(this);
  ShowPanel(LoadSendListPanel(settingsFile_).shown);
}

SendListPanel* SendTools::Panel() {
  if (panel_) return panel_;
  LinkSession& link = link_;
  panel_ = new SendListPanel(
      &window_, &window_,
      [this, &link](std::vector<uint8_t> bytes, SendDone written) {
        return SendOrTell(&window_, link, std::move(bytes), std::move(written));
      },
      settingsFile_, std::move(list_));
  list_ = {};
  panel_->SetEncoding(encoding_);
  panel_->hide();
  layout_.SetSendList(panel_, SendListPanel::kWidth);
  panel_->SetRunWatcher([this] { UpdateStatus(); });
  if (holdRun_) panel_->HoldRunWhile(holdRun_);
  if (listWatcher_) panel_->SetListWatcher(listWatcher_);
  return panel_;
}

const std::vector<SendListEntry>& SendTools::Entries() const {
  return panel_ ? panel_->Entries() : list_.entries;
}

void SendTools::SendEntry(int index) {
  // An entry the list does not have sends nothing, as the panel's own Send.
  if (index < 0 || index >= static_cast<int>(Entries().size())) return;
  Panel()->SendEntry(index);
}

void SendTools::HoldRunWhile(std::function<bool()> held) {
  holdRun_ = std::move(held);
  if (panel_) panel_->HoldRunWhile(holdRun_);
}

void SendTools::BindCommands(WindowCommands& commands) {
  historyMenu_ = commands.Submenu(Command::kSendHistory);
  connect(historyMenu_, &QMenu::aboutToShow, this, &SendTools::FillHistoryMenu);
  options_ = new SendOptionsMenu(
      commands.Submenu(Command::kSendOptions), state_, settingsFile_, [this] { UpdateStatus(); },
      [this](TextEncoding encoding) { return UseEncoding(encoding); });
  panelAction_ = commands.Action(Command::kSendList);
  panelAction_->setChecked(PanelShown());
  commands.Bind(Command::kSendList, this, [this](bool on) { ShowPanel(on); });
  commands.Bind(Command::kSendAll, this, [this] { Panel()->SendAll(Panel()->Repeat()); });
  commands.Bind(Command::kStopSendAll, this, [this] {
    if (panel_) panel_->StopSending();
  });
  stopAction_ = commands.Action(Command::kStopSendAll);
  UpdateStatus();
}

void SendTools::RecordSendBox() {
  HistoryEntry entry;
  {
    std::lock_guard guard(state_.lock);
    entry = {state_.sendText, state_.sendAsHex != 0};
  }
  history_.Add(entry);
}

bool SendTools::UseEncoding(TextEncoding encoding) {
  char32_t refused = 0;
  if (!TypedBox()->SetTypedEncoding(encoding, kSendBoxRefusal, &refused)) {
    std::string refusal =
        std::string(InfoOf(encoding).label) + " was not chosen: the send box holds";
    ShowWarning(&window_,
                QString::fromStdString(RefusedCharacterMessage(refusal, refused, encoding)));
    return false;
  }
  SetSendEncoding(state_, encoding);
  SaveSendEncoding(encoding, settingsFile_);
  encoding_ = encoding;
  if (panel_) panel_->SetEncoding(encoding);
  // The box's text stands for other bytes now: the state takes them at once,
  // before a publish could show the old bytes read in the new encoding.
  sendBox_.Put(sendBox_.Contents());
  return true;
}

ByteTextBox* SendTools::TypedBox() const {
  return static_cast<ByteTextBox*>(sendBox_.Widget());
}

void SendTools::RecallOlder() {
  if (!history_.Walking()) draft_ = sendBox_.Contents();
  if (auto entry = history_.Older()) sendBox_.Put(*entry);
}

void SendTools::RecallNewer() {
  if (!history_.Walking()) return;
  sendBox_.Put(history_.Newer().value_or(draft_));
}

void SendTools::ShowPanel(bool shown) {
  if (shown) Panel();
  layout_.ShowSendList(shown);
  if (panelAction_) panelAction_->setChecked(shown);
  if (shown != LoadSendListPanel(settingsFile_).shown) {
    SendListPanelSettings stored = LoadSendListPanel(settingsFile_);
    stored.shown = shown;
    SaveSendListPanel(stored, settingsFile_);
  }
}

bool SendTools::PanelShown() const {
  return panel_ && !panel_->isHidden();
}

EntryLookup SendTools::EntryByName() const {
  return [this](std::string_view name) -> std::optional<std::vector<uint8_t>> {
    for (const SendListEntry& entry : Entries()) {
      if (entry.name == name) return EntryBytes(entry);
    }
    return std::nullopt;
  };
}

void SendTools::WatchList(std::function<void()> watcher) {
  listWatcher_ = watcher;
  if (panel_) panel_->SetListWatcher(watcher);
  watcher();
}

void SendTools::Save() {
  SaveSendHistory(history_.Entries(), settingsFile_);
}

bool SendTools::eventFilter(QObject* watched, QEvent* event) {
  // Ctrl+Up and Ctrl+Down do nothing else in a plain text box; Up and Down
  // keep moving the cursor between the box's lines.
  if (event->type() == QEvent::KeyPress) {
    auto* key = static_cast<QKeyEvent*>(event);
    if ((key->modifiers() & ~Qt::KeypadModifier) == Qt::ControlModifier &&
        (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down)) {
      key->key() == Qt::Key_Up ? RecallOlder() : RecallNewer();
      return true;
    }
  }
  return QObject::eventFilter(watched, event);
}

void SendTools::FillHistoryMenu() {
  historyMenu_->clear();
  for (const HistoryEntry& entry : history_.Entries()) {
    QAction* action = historyMenu_->addAction(HistoryLabel(entry, SendEncodingOf(state_)));
    connect(action, &QAction::triggered, this, [this, entry] { sendBox_.Put(entry); });
  }
  if (history_.Entries().empty())
    historyMenu_->addAction(QStringLiteral("(empty)"))->setEnabled(false);
  historyMenu_->addSeparator();
  QAction* clear = historyMenu_->addAction(QStringLiteral("Clear send history"));
  clear->setEnabled(!history_.Entries().empty());
  connect(clear, &QAction::triggered, this, [this] { history_.Clear(); });
}

void SendTools::UpdateStatus() {
  if (stopAction_) stopAction_->setEnabled(panel_ && panel_->SendingAll());
  QString options = SendOptionsMenu::Summary(SendOptionsOf(state_), SendEncodingOf(state_));
  QString run = panel_ ? panel_->RunText() : QString();
  QString text = options.isEmpty() ? QString() : QStringLiteral("send: ") + options;
  if (!run.isEmpty()) text = text.isEmpty() ? run : text + QStringLiteral("  ") + run;
  status_.SetText(StatusLine::Field::kSend, text);
}

}  // namespace quorvel
