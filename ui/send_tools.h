// The window's everyday sending beside the send box: the send history
// (Ctrl+Up / Ctrl+Down in the send box, "Send history" in the Send menu),
// the send options ("Send options"), and the send list panel at the right of
// the window ("Send list", Ctrl+Shift+E), which the window grows by while it
// shows. Its field of the status line says the options in force and the
// list's run. Every send it makes goes through the link's door, as the Send
// button's does. It keeps the encoding of typed text (in "Send
// options") in force in the send box, the list and the history. UI thread.
#pragma once

#include <QObject>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/terminal_state.h"
#include "sending/answer_rules.h"
#include "sending/send_history.h"
#include "sending/text_encoding.h"
#include "settings/send_store.h"

class QAction;
class QMenu;
class QWidget;

namespace quorvel {

class ByteTextBox;
class LinkSession;
class SendBox;
class SendListPanel;
class SendOptionsMenu;
class StatusLine;
class WindowCommands;
class WindowLayout;

class SendTools : public QObject {
 public:
  // What the tools work with; all of it outlives them.
  struct Parts {
    QWidget& window;  // the panel's parent
    TerminalState& state;
    SendBox& sendBox;
    LinkSession& link;
    StatusLine& status;
    std::filesystem::path settingsFile;
    WindowLayout& layout;  // where the panel is shown
  };
  // Call once the window has its controls and its panes. Loads the history,
  // the options and the list from the settings file.
  explicit SendTools(Parts parts);

  // Takes the send history's, the send options' and the send list's
  // commands of the command table.
  void BindCommands(WindowCommands& commands);

  // Records the send text and its hex choice, as captured, as just sent.
  void RecordSendBox();

  // Ctrl+Up / Ctrl+Down: the older or newer send into the box.
  void RecallOlder();
  void RecallNewer();
  const SendHistory& History() const { return history_; }

  void ShowPanel(bool shown);
  bool PanelShown() const;
  // The panel, made on first use: shown, asked for, or an Alt+digit key.
  SendListPanel* Panel();
  // "Send all in order" waits while `held` answers true (a file transfer).
  void HoldRunWhile(std::function<bool()> held);
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
  // Typed text becomes bytes in `encoding` from now on; false, with a
  // message, when the send box holds a character it cannot carry.
  bool UseEncoding(TextEncoding encoding);
  ByteTextBox* TypedBox() const;
  // The panel's entries, or the stored ones while it has not been made.
  const std::vector<SendListEntry>& Entries() const;
  void SendEntry(int index);  // Alt+digit

  QWidget& window_;
  WindowLayout& layout_;
  TerminalState& state_;
  SendBox& sendBox_;
  StatusLine& status_;
  LinkSession& link_;
  std::filesystem::path settingsFile_;
  SendHistory history_;
  HistoryEntry draft_;  // the box before a walk through the history began
  TextEncoding encoding_ = TextEncoding::kLatin1;
  StoredSendList list_;  // as loaded, until the panel takes it
  SendListPanel* panel_ = nullptr;
  std::function<bool()> holdRun_;
  std::function<void()> listWatcher_;
  SendOptionsMenu* options_ = nullptr;
  QMenu* historyMenu_ = nullptr;
  QAction* panelAction_ = nullptr;
  QAction* stopAction_ = nullptr;  // enabled while the list is being sent
};

}  // namespace quorvel
