#include "ui/send_tools.h"

#include <QAbstractButton>
#include <QKeyEvent>
#include <QMenu>

#include "engine/transmit.h"
#include "settings/send_options_settings.h"
#include "settings/send_store.h"
#include "ui/byte_text_box.h"
#include "ui/main_window.h"
#include "ui/send_list_panel.h"
#include "ui/send_options_menu.h"
#include "ui/status_line.h"

namespace quorvel {
namespace {

constexpr int kHistoryLabelLength = 48;

QString HistoryLabel(const HistoryEntry& entry) {
  QString text = TextFromBytes(entry.text);
  text.replace(QStringLiteral("\r\n"), QStringLiteral(" \u21b5 "));
  if (text.size() > kHistoryLabelLength) {
    text = text.left(kHistoryLabelLength) + QStringLiteral("\u2026");
  }
  text.replace(QLatin1Char('&'), QStringLiteral("&&"));  // no mnemonics from sent text
  return entry.hex ? QStringLiteral("[hex] ") + text : text;
}

}  // namespace

SendTools::SendTools(MainWindow& window, StatusLine& status, std::filesystem::path settingsFile)
    : QObject(&window),
      window_(window),
      status_(status),
      settingsFile_(std::move(settingsFile)),
      baseSize_(window.size()) {
  history_.Assign(LoadSendHistory(settingsFile_));
  SetSendOptions(window_.State(), LoadSendOptions(settingsFile_));
  panel_ = new SendListPanel(
      &window, &window, window.Link().Writer(),
      [this](const std::vector<uint8_t>& bytes) { return Queue(bytes); }, settingsFile_);
  panel_->setGeometry(baseSize_.width(), 0, SendListPanel::kWidth, baseSize_.height());
  panel_->SetRunWatcher([this] { UpdateStatus(); });
  panel_->hide();
  window_.Control(kSendBox)->installEventFilter(this);
  ShowPanel(LoadSendListPanel(settingsFile_).shown);
}

void SendTools::AddMenuEntries(QMenu* menu) {
  menu->addSeparator();
  historyMenu_ = menu->addMenu(QStringLiteral("Send &history"));
  connect(historyMenu_, &QMenu::aboutToShow, this, &SendTools::FillHistoryMenu);
  options_ = new SendOptionsMenu(menu, window_.State(), settingsFile_, [this] { UpdateStatus(); });
  panelAction_ = menu->addAction(QStringLiteral("Send l&ist"));
  panelAction_->setCheckable(true);
  panelAction_->setChecked(PanelShown());
  panelAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_E));
  connect(panelAction_, &QAction::triggered, this, [this](bool on) { ShowPanel(on); });
  QAction* all = menu->addAction(QStringLiteral("Send all in order"));
  all->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_G));
  connect(all, &QAction::triggered, this, [this] { panel_->SendAll(panel_->Repeat()); });
  stopAction_ = menu->addAction(QStringLiteral("Stop sending the list"));
  stopAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_H));
  connect(stopAction_, &QAction::triggered, this, [this] { panel_->StopSending(); });
  // The keys work on the whole window, the menu closed.
  for (QAction* action : {panelAction_, all, stopAction_}) window_.addAction(action);
  UpdateStatus();
}

void SendTools::RecordSendBox() {
  TerminalState& state = window_.State();
  HistoryEntry entry;
  {
    std::lock_guard guard(state.lock);
    entry = {state.sendText, state.sendAsHex != 0};
  }
  history_.Add(entry);
}

bool SendTools::Queue(const std::vector<uint8_t>& bytes) {
  // As the Send button: nothing reaches a device that is away.
  if (window_.Link().Waiting()) {
    window_.ShowMessage(StringId::kWriteFail);
    return false;
  }
  if (!window_.State().port.IsOpen()) return false;
  window_.Link().Writer().QueueBytes(bytes);
  return true;
}

void SendTools::RecallOlder() {
  if (!history_.Walking()) {
    auto* box = static_cast<ByteTextBox*>(window_.Control(kSendBox));
    auto* hex = static_cast<QAbstractButton*>(window_.Control(kSendAsHexCheck));
    draft_ = {box->Bytes(), hex->isChecked()};
  }
  if (auto entry = history_.Older()) window_.PutInSendBox(entry->text, entry->hex);
}

void SendTools::RecallNewer() {
  if (!history_.Walking()) return;
  HistoryEntry entry = history_.Newer().value_or(draft_);
  window_.PutInSendBox(entry.text, entry.hex);
}

void SendTools::ShowPanel(bool shown) {
  panel_->setVisible(shown);
  window_.setFixedSize(baseSize_.width() + (shown ? SendListPanel::kWidth : 0), baseSize_.height());
  if (panelAction_) panelAction_->setChecked(shown);
  if (shown != LoadSendListPanel(settingsFile_).shown) {
    SendListPanelSettings stored = LoadSendListPanel(settingsFile_);
    stored.shown = shown;
    SaveSendListPanel(stored, settingsFile_);
  }
}

bool SendTools::PanelShown() const {
  return !panel_->isHidden();
}

EntryLookup SendTools::EntryByName() const {
  return [panel = panel_](std::string_view name) -> std::optional<std::vector<uint8_t>> {
    for (const SendListEntry& entry : panel->Entries()) {
      if (entry.name == name) return EntryBytes(entry);
    }
    return std::nullopt;
  };
}

void SendTools::WatchList(std::function<void()> watcher) {
  panel_->SetListWatcher(watcher);
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
    QAction* action = historyMenu_->addAction(HistoryLabel(entry));
    connect(action, &QAction::triggered, this,
            [this, entry] { window_.PutInSendBox(entry.text, entry.hex); });
  }
  if (history_.Entries().empty())
    historyMenu_->addAction(QStringLiteral("(empty)"))->setEnabled(false);
  historyMenu_->addSeparator();
  QAction* clear = historyMenu_->addAction(QStringLiteral("Clear send history"));
  clear->setEnabled(!history_.Entries().empty());
  connect(clear, &QAction::triggered, this, [this] { history_.Clear(); });
}

void SendTools::UpdateStatus() {
  if (stopAction_) stopAction_->setEnabled(panel_->SendingAll());
  QString options = SendOptionsMenu::Summary(SendOptionsOf(window_.State()));
  QString run = panel_->RunText();
  QString text = options.isEmpty() ? QString() : QStringLiteral("send: ") + options;
  if (!run.isEmpty()) text = text.isEmpty() ? run : text + QStringLiteral("  ") + run;
  status_.SetText(StatusLine::Field::kSend, text);
}

}  // namespace quorvel
