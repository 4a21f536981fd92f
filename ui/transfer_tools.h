// The window's file transfers: "Send file…" with a protocol (the file
// tools hand such a send here) and "Receive file…" in the Send menu and on
// Ctrl+Shift+I; the transfer's progress in a dialog and in the status
// line; its end as a message when it failed; the cancel. While a transfer
// runs the window's timer and send list hold (Running()), and the link's
// changes stop it first (StopForLinkChange). With auto-start on, a device
// that starts a ZMODEM send starts a receive into the stored folder. UI
// thread.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <functional>

#include "connection/link_session.h"
#include "settings/transfer_settings.h"
#include "transfer/transfer_runner.h"
#include "transfer/zmodem_start_watch.h"
#include "ui/status_line.h"

class QSocketNotifier;
class QWidget;

namespace quorvel {

class TransferProgressDialog;
class WindowCommands;
struct ReceiveChoice;

class TransferTools : public QObject {
 public:
  // `changed` runs after the transfer moved (the window shows its counters).
  // Everything given outlives this object; the link's worker must have
  // ended before this object goes (Shutdown first).
  TransferTools(QWidget* window, LinkSession& link, StatusLine& status,
                std::filesystem::path settingsFile, std::function<void()> changed);
  ~TransferTools() override;

  // Takes "Receive file…" of the command table.
  void BindCommands(WindowCommands& commands);

  // For a port other than the window's own: `name` ("Port 2") heads its
  // status text, its progress dialog's title and what it tells; the status
  // goes in `field`; `tell` says a failure instead of a message box (the
  // first port's window is never stopped by another port's transfer).
  struct Pane {
    QString name;
    StatusLine::Field field;
    std::function<void(const QString&)> tell;
  };
  void SetPane(Pane pane);

  // "Send file…" with a protocol ("xmodem", "xmodem-1k", "ymodem"): starts
  // it, or says why not. The choice is kept.
  bool Send(const QString& protocol, const QStringList& paths);
  // "Receive file…": asks, then starts.
  void AskAndReceive();
  bool Receive(const ReceiveChoice& choice);
  void Cancel();

  bool Running() const { return runner_.Running(); }
  // The protocol kept for "Send file…" ("raw" sends as it is), and keeping it.
  QString StoredSendProtocol() const;
  void KeepSendProtocol(const QString& protocol);
  // The waits of the transfers started from now on (tests shorten them).
  void SetTiming(const TransferTiming& timing) { timing_ = timing; }

  // The link is about to close or move: a transfer running ends now.
  void StopForLinkChange();
  // ZMODEM's auto-start: watch the line for a device starting a send.
  void SetAutoStart(bool on);
  // The window is closing: a transfer running ends now, its cancel sent, and
  // its end goes to the status line only (a message box here would run a
  // modal loop inside the close, where the window system drops a second
  // close); its dialog goes with the window.
  void EndForClose();
  // Ends a transfer at once; call before the link shuts down.
  void Shutdown();

 private:
  bool Start(TransferRequest request);
  TransferProgressDialog& Dialog();
  void TakeNews();
  // `tell`: a failure is also told in a message.
  void Finished(const TransferState& state, bool tell = true);
  // The device started a ZMODEM send: receive it, unless a transfer runs.
  void DeviceStarted();
  // A failure or a transfer that cannot start: a message, or the pane's `tell`.
  void Tell(const QString& text);
  // "Port 2: " before `text` for a pane's transfer.
  QString Named(const QString& text) const;

  QWidget* window_;
  LinkSession& link_;
  StatusLine& status_;
  std::filesystem::path settingsFile_;
  std::function<void()> changed_;
  TransferRunner runner_;
  TransferTiming timing_;
  TransferProgressDialog* dialog_ = nullptr;
  Pane pane_{QString(), StatusLine::Field::kFileTransfer, {}};
  QSocketNotifier* news_;
  ZmodemStartWatch startWatch_;
  QSocketNotifier* started_;
};

}  // namespace quorvel
