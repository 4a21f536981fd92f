#include "ui/send_list_panel.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "settings/send_store.h"
#include "ui/message_box.h"
#include "ui/send_entry_dialog.h"
#include "ui/send_sequence.h"
#include "ui/typed_text.h"

namespace quorvel {
namespace {

constexpr char kFileFilter[] = "Send lists (*.ini *.txt);;All files (*)";

QString EntryLabel(const SendListEntry& entry, int index, TextEncoding encoding) {
  QString name = ShownText(entry.name, encoding);
  return index < SendListPanel::kKeyedEntries ? QStringLiteral("%1  %2").arg(index + 1).arg(name)
                                              : name;
}

}  // namespace

SendListPanel::SendListPanel(QWidget* parent, QWidget* dialogHost, Send send,
                             std::filesystem::path settingsFile, StoredSendList stored)
    : QWidget(parent),
      host_(dialogHost),
      settingsFile_(std::move(settingsFile)),
      send_(std::move(send)),
      stored_(std::move(stored)),
      entries_(std::move(stored_.entries)),
      list_(new QListWidget(this)),
      sendAll_(new QPushButton(QStringLiteral("Send all in order"), this)),
      repeat_(new QCheckBox(QStringLiteral("Repeat"), this)) {
  sequence_ = new SendSequence(
      [this](const SendListEntry& entry, SendDone written) {
        return send_(EntryBytes(entry), std::move(written));
      },
      [this](bool running, std::size_t index, std::size_t round) {
        runText_ = running ? QStringLiteral("list: %1/%2, round %3")
                                 .arg(index + 1)
                                 .arg(runLength_)
                                 .arg(round + 1)
                           : QString();
        sendAll_->setText(running ? QStringLiteral("Stop") : QStringLiteral("Send all in order"));
        if (runWatcher_) runWatcher_();
      },
      this);
  setAccessibleName(QStringLiteral("Send list"));
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(6, 6, 6, 6);
  auto* title = new QLabel(QStringLiteral("Send list"), this);
  layout->addWidget(title);
  list_->setAccessibleName(QStringLiteral("Send list entries"));
  layout->addWidget(list_, 1);
  // Double click and Enter on an entry both activate it.
  connect(list_, &QListWidget::activated, this,
          [this](const QModelIndex& index) { SendEntry(index.row()); });
  connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });

  const struct {
    const char* label;
    std::function<void()> run;
    bool needsEntry;
    // What a screen reader says, where the label alone would be taken for
    // another button: the send box's is "Send" too.
    const char* name = nullptr;
  } buttons[] = {
      {"Send", [this] { SendEntry(Current()); }, true, "Send entry"},
      {"Add…", [this] { AskAdd(); }, false},
      {"Edit…", [this] { AskEdit(); }, true},
      {"Duplicate", [this] { Duplicate(); }, true},
      {"Up", [this] { Move(-1); }, true},
      {"Down", [this] { Move(1); }, true},
      {"Delete", [this] { Delete(); }, true},
      {"Import…", [this] { AskImport(); }, false},
      {"Export…", [this] { AskExport(); }, false},
  };
  auto* grid = new QGridLayout;
  int cell = 0;
  for (const auto& entry : buttons) {
    auto* button = new QPushButton(QString::fromUtf8(entry.label), this);
    button->setAutoDefault(false);
    if (entry.name) button->setAccessibleName(QString::fromUtf8(entry.name));
    connect(button, &QPushButton::clicked, this, entry.run);
    if (entry.needsEntry) entryButtons_.push_back(button);
    grid->addWidget(button, cell / 3, cell % 3);
    ++cell;
  }
  layout->addLayout(grid);
  auto* run = new QHBoxLayout;
  sendAll_->setAutoDefault(false);
  connect(sendAll_, &QPushButton::clicked, this, [this] {
    if (SendingAll()) {
      StopSending();
    } else {
      SendAll(Repeat());
    }
  });
  run->addWidget(sendAll_, 1);
  run->addWidget(repeat_);
  layout->addLayout(run);
  connect(repeat_, &QCheckBox::toggled, this, [this](bool on) {
    SendListPanelSettings stored = LoadSendListPanel(settingsFile_);
    stored.repeat = on;
    SaveSendListPanel(stored, settingsFile_);
  });
  repeat_->setChecked(LoadSendListPanel(settingsFile_).repeat);
  Show(entries_.empty() ? -1 : 0);
}

int SendListPanel::Current() const {
  return list_->currentRow();
}

void SendListPanel::SetCurrent(int index) {
  list_->setCurrentRow(index);
}

bool SendListPanel::SendEntry(int index) {
  if (index < 0 || index >= static_cast<int>(entries_.size())) return false;
  return send_(EntryBytes(entries_[static_cast<std::size_t>(index)]), {});
}

void SendListPanel::AddEntry(const SendListEntry& entry) {
  if (entries_.size() >= kMaxSendListEntries) {
    Warn(QStringLiteral("The send list holds %1 entries, as many as it can.")
             .arg(kMaxSendListEntries));
    return;
  }
  int at = Current() < 0 ? static_cast<int>(entries_.size()) : Current() + 1;
  entries_.insert(entries_.begin() + at, entry);
  Changed(at);
}

void SendListPanel::AskAdd() {
  SendListEntry blank;
  blank.name = "Entry " + std::to_string(entries_.size() + 1);
  if (auto entry = AskSendEntry(host_, QStringLiteral("Add to the send list"), blank, encoding_)) {
    AddEntry(*entry);
  }
}

void SendListPanel::AskEdit() {
  int index = Current();
  if (index < 0) return;
  auto& stored = entries_[static_cast<std::size_t>(index)];
  if (auto entry = AskSendEntry(host_, QStringLiteral("Edit the entry"), stored, encoding_)) {
    stored = *entry;
    Changed(index);
  }
}

void SendListPanel::Duplicate() {
  if (Current() < 0) return;
  AddEntry(entries_[static_cast<std::size_t>(Current())]);
}

void SendListPanel::Move(int step) {
  int from = Current();
  int to = from + step;
  if (from < 0 || to < 0 || to >= static_cast<int>(entries_.size())) return;
  std::swap(entries_[static_cast<std::size_t>(from)], entries_[static_cast<std::size_t>(to)]);
  Changed(to);
}

void SendListPanel::Delete() {
  int index = Current();
  if (index < 0) return;
  entries_.erase(entries_.begin() + index);
  Changed(std::min(index, static_cast<int>(entries_.size()) - 1));
}

void SendListPanel::SendAll(bool repeat) {
  runLength_ = entries_.size();  // the run's own copy, whatever edits come
  sequence_->Start(entries_, repeat);
}

void SendListPanel::StopSending() {
  sequence_->Stop();
}

bool SendListPanel::SendingAll() const {
  return sequence_->Running();
}

bool SendListPanel::ImportFrom(const std::filesystem::path& file) {
  SendListImport imported = ImportSendList(file, kMaxSendListEntries - entries_.size());
  if (!imported.problem.empty()) {
    Warn(QStringLiteral("The send list was not imported from %1:\n%2")
             .arg(QString::fromStdString(file.string()), QString::fromStdString(imported.problem)));
    return false;
  }
  // Added after the entries already there: an import never replaces any.
  int first = static_cast<int>(entries_.size());
  entries_.insert(entries_.end(), imported.entries.begin(), imported.entries.end());
  Changed(first);
  return true;
}

bool SendListPanel::ExportTo(const std::filesystem::path& file) {
  if (ExportSendList(entries_, file)) return true;
  Warn(QStringLiteral("The send list could not be written to %1.")
           .arg(QString::fromStdString(file.string())));
  return false;
}

void SendListPanel::AskImport() {
  QString path = QFileDialog::getOpenFileName(host_, QStringLiteral("Import a send list"),
                                              QString(), QString::fromLatin1(kFileFilter));
  if (!path.isEmpty()) ImportFrom(path.toStdString());
}

void SendListPanel::AskExport() {
  QString path = QFileDialog::getSaveFileName(host_, QStringLiteral("Export the send list"),
                                              QStringLiteral("send-list.ini"),
                                              QString::fromLatin1(kFileFilter));
  if (!path.isEmpty()) ExportTo(path.toStdString());
}

bool SendListPanel::Repeat() const {
  return repeat_->isChecked();
}

void SendListPanel::SetRepeat(bool repeat) {
  repeat_->setChecked(repeat);
}

void SendListPanel::SetEncoding(TextEncoding encoding) {
  encoding_ = encoding;
  Show(Current());
}

void SendListPanel::Changed(int current) {
  Show(current);
  if (listWatcher_) listWatcher_();
  if (!SaveSendList(entries_, settingsFile_, stored_.kept)) {
    Warn(QStringLiteral("The send list could not be saved to %1.")
             .arg(QString::fromStdString(settingsFile_.string())));
  }
}

void SendListPanel::Show(int current) {
  list_->clear();
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    auto* item =
        new QListWidgetItem(EntryLabel(entries_[i], static_cast<int>(i), encoding_), list_);
    item->setToolTip(ShownText(entries_[i].content, encoding_));
  }
  list_->setCurrentRow(current);
  UpdateButtons();
}

void SendListPanel::UpdateButtons() {
  for (QPushButton* button : entryButtons_) button->setEnabled(Current() >= 0);
}

void SendListPanel::Warn(const QString& text) {
  ShowWarning(host_, text);
}

void SendListPanel::HoldRunWhile(std::function<bool()> held) {
  sequence_->HoldWhile(std::move(held));
}

}  // namespace quorvel
