// The send list panel beside the window's controls: the named entries, sent
// by "Send", a double click, Enter on the entry or Alt+1 … Alt+9 for the
// first nine; added, edited, duplicated, moved and deleted with its buttons;
// "Send all in order" once or repeated; imported from and exported to a
// file. Every change is saved to the settings file at once, so no edit is
// lost to a crash. Stored entries the list cannot take are named in a message
// at start and written back with every save. UI thread.
#pragma once

#include <QString>
#include <QWidget>
#include <filesystem>
#include <functional>
#include <vector>

#include "engine/send_writer.h"
#include "sending/text_encoding.h"
#include "settings/send_store.h"

class QCheckBox;
class QListWidget;
class QPushButton;

namespace quorvel {

class SendSequence;

class SendListPanel : public QWidget {
 public:
  // Queues an entry's bytes as the Send button would, `written` (may be
  // empty) told when they went; false when nothing could go (the link is
  // closed or away).
  using Send = std::function<bool(std::vector<uint8_t> bytes, SendDone written)>;
  // `dialogHost` parents the panel's dialogs and messages. Shows `stored`, the
  // list as loaded from `settingsFile`, and saves its changes there; the
  // message about kept entries is the loader's to give.
  SendListPanel(QWidget* parent, QWidget* dialogHost, Send send, std::filesystem::path settingsFile,
                StoredSendList stored);

  static constexpr int kWidth = 260;
  // Alt+1 … Alt+9 send the first entries; their labels show the digit.
  static constexpr int kKeyedEntries = 9;

  const std::vector<SendListEntry>& Entries() const { return entries_; }
  int Current() const;
  void SetCurrent(int index);

  // The commands, on the entry selected (those that ask open a dialog).
  bool SendEntry(int index);
  void AddEntry(const SendListEntry& entry);
  void AskAdd();
  void AskEdit();
  void Duplicate();
  void Move(int step);  // -1 up, +1 down
  void Delete();
  void SendAll(bool repeat);
  void StopSending();
  bool SendingAll() const;
  // With a message when the file cannot be taken; the list is unchanged then.
  bool ImportFrom(const std::filesystem::path& file);
  bool ExportTo(const std::filesystem::path& file);
  void AskImport();
  void AskExport();

  bool Repeat() const;
  void SetRepeat(bool repeat);

  // The encoding names and contents are shown and typed in (Latin-1 until set).
  void SetEncoding(TextEncoding encoding);

  // What the status line shows of a run, "" when none goes.
  QString RunText() const { return runText_; }
  void SetRunWatcher(std::function<void()> watcher) { runWatcher_ = std::move(watcher); }
  // "Send all in order" waits while `held` answers true (a file transfer).
  void HoldRunWhile(std::function<bool()> held);
  // Runs after every change of the entries.
  void SetListWatcher(std::function<void()> watcher) { listWatcher_ = std::move(watcher); }

 private:
  // Shows the list with `current` selected; Changed saves it too.
  void Show(int current);
  void Changed(int current);
  void Warn(const QString& text);
  void UpdateButtons();

  QWidget* host_;
  std::filesystem::path settingsFile_;
  Send send_;
  StoredSendList stored_;  // its kept entries go back to the file with every save
  TextEncoding encoding_ = TextEncoding::kLatin1;
  std::vector<SendListEntry> entries_;
  QListWidget* list_;
  QPushButton* sendAll_;
  QCheckBox* repeat_;
  std::vector<QPushButton*> entryButtons_;  // those that need a selected entry
  SendSequence* sequence_;
  QString runText_;
  std::size_t runLength_ = 0;
  std::function<void()> runWatcher_;
  std::function<void()> listWatcher_;
};

}  // namespace quorvel
