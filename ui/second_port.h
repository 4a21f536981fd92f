// The window's second port: a link session of its own in a pane beside the
// first port's view, with its own port and line settings, its own view of
// what it received (a plain receive box, bounded, or a session view of its
// own), its own send line (text or hex; Enter sends through its own door),
// its counters and its state. The template's controls, the timer, auto-reply
// and echo stay with the first port. While the pane has the focus it takes
// the commands that act on "the port" (CommandTaker): the modem lines and
// break, send file (raw or with a protocol), receive file and the cancel,
// find, copy as hex, save session and clear. Its transfers run through
// transfer tools of its own, on its own line: both ports may transfer at
// once.
//
// What its link's threads say comes as its hub's news, shown in the pane's
// own state line (no box: a second port's message never stops the first
// port's window). UI thread.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "connection/link_session.h"
#include "history/session_store.h"
#include "settings/port_choice_settings.h"
#include "ui/window_commands.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QSocketNotifier;

namespace quorvel {

class HistoryPane;
class ReceiveBox;
class StatusLine;
class TransferTools;

// The last bytes a line received, for a plain receive box: bounded, the
// oldest half dropped when full. Any thread adds; the UI thread copies.
class ReceiveTail : public LineListener {
 public:
  static constexpr size_t kLimit = 256 * 1024;
  void Received(const uint8_t* bytes, int count) override;
  void Sent(const uint8_t*, int) override {}
  // The bytes kept, and how many were dropped off their front since Clear.
  std::vector<uint8_t> Copy(uint64_t* dropped = nullptr) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<uint8_t> bytes_;
  uint64_t dropped_ = 0;
};

class SecondPort : public QWidget, public CommandTaker {
 public:
  // `names` resolves a COM name; `settingsFile` keeps [Port2] and the file
  // dialogs' choices; `status` shows its file transfer. They outlive the pane.
  SecondPort(const PortNames& names, std::filesystem::path settingsFile, ModemControl& modem,
             StatusLine& status, QWidget* parent);
  ~SecondPort() override;

  // Opens `choice` (the pane's link closes first) and keeps it in [Port2].
  // A port that leads nowhere or will not open is said in the pane.
  void Open(const PortChoice& choice);
  // Closes the link; the pane stays as it is.
  void CloseLink();
  // Asks for the port and its settings again and opens them.
  void AskSettings();
  // Closes the link and leaves its listeners: for the pane's end. A file
  // transfer running ends first, its cancel sent (EndForClose).
  void Shutdown();
  // The pane or the window is closing: a transfer running ends now, its end
  // told in the status line only, its dialog hidden.
  void EndForClose();

  // While it has the focus.
  bool Take(Command command, bool checked) override;

  // Shows the session view (else the plain box), in hex or text.
  void SetView(bool session, bool hex);
  SecondPortSettings Settings() const { return settings_; }

  LinkSession& Link() { return link_; }
  TransferTools& Transfers() { return *transfers_; }
  SessionStore& Store() { return store_; }
  HistoryPane* History() const { return history_; }
  ReceiveBox* Box() const { return box_; }
  QLineEdit* SendBox() const { return sendText_; }
  QCheckBox* SendAsHex() const { return sendHex_; }
  // The pane's state line ("COM4 /dev/ttyUSB1 open · DTR● ...").
  QString StateText() const;
  QString CountText() const;
  // Sends what the send line holds, as the Send button does.
  bool SendLine();

 private:
  void ShowState();
  void TakeNews();
  void Publish();
  void Say(const QString& text);
  void SendFile();
  void CancelSends();
  void ModemCommand(Command command, bool checked);
  void Keep();

  const PortNames& names_;
  std::filesystem::path settingsFile_;
  SecondPortSettings settings_;
  LinkSession link_;
  SessionStore store_;
  ReceiveTail tail_;
  TransferTools* transfers_;  // deleted before link_ goes
  HistoryPane* history_;
  ReceiveBox* box_;
  QLabel* state_;
  QLabel* counts_;
  QLabel* said_;
  QCheckBox* sessionView_;
  QCheckBox* hexView_;
  QLineEdit* sendText_;
  QCheckBox* sendHex_;
  QPushButton* send_;
  QSocketNotifier* linkWaiting_;
  QSocketNotifier* news_;
  QSocketNotifier* lines_;
  QTimer publish_;  // what came shows at most once a frame
  uint64_t shownDropped_ = UINT64_MAX;
};

}  // namespace quorvel
