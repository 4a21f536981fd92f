// The window's everyday sending beside the send box: the send history
// (Ctrl+Up / Ctrl+Down in the send box, "Send history" in the context menu),
// the send options ("Send options"), and the send list panel to the right of
// the template ("Send list", Ctrl+Shift+E), which the window grows by while
// it shows. Its field of the status line says the options in force and the
// list's run. UI thread.
#pragma once

#include <QObject>
#include <QSize>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "sending/answer_rules.h"
#include "sending/send_history.h"

class QAction;
class QMenu;

namespace quorvel {

class MainWindow;
class SendListPanel;
class SendOptionsMenu;
class StatusLine;

class SendTools : public QObject {
 public:
  // Call once the window has its controls and its fixed size, which is the
  // size without the panel. Loads the history, the options and the list
  // from `settingsFile`.
  SendTools(MainWindow& window, StatusLine& status, std::filesystem::path settingsFile);

  // Adds a separator, then the entries, to the end of `menu`.
  void AddMenuEntries(QMenu* menu);

  // Records the send box's text and hex choice as just sent.
  void RecordSendBox();
  // Queues `bytes` as the Send button would: a message while the link waits
  // for its device, nothing while it is closed; false then.
  bool Queue(const std::vector<uint8_t>& bytes);

  // Ctrl+Up / Ctrl+Down: the older or newer send into the box.
  void RecallOlder();
  void RecallNewer();
  const SendHistory& History() const { return history_; }

  void ShowPanel(bool shown);
  bool PanelShown() const;
  SendListPanel* Panel() const { return panel_; }
  SendOptionsMenu* Options() const { return options_; }
  // The bytes of the list's entry named `name` (the first of that name), for
  // answer rules; valid while the window is.
  EntryLookup EntryByName() const;
  // Runs `watcher` now and after every change of the list.
  void WatchList(std::function<void()> watcher);

  // Saves the history; at close.
  void Save();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FillHistoryMenu();
  void UpdateStatus();

  MainWindow& window_;
  StatusLine& status_;
  std::filesystem::path settingsFile_;
  QSize baseSize_;
  SendHistory history_;
  HistoryEntry draft_;  // the box before a walk through the history began
  SendListPanel* panel_;
  SendOptionsMenu* options_ = nullptr;
  QMenu* historyMenu_ = nullptr;
  QAction* panelAction_ = nullptr;
  QAction* stopAction_ = nullptr;  // enabled while the list is being sent
};

}  // namespace quorvel
