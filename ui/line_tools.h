// The window's file tools: "Send file…" and its cancel, "Log to file…" and
// "Stop logging", in the menus and on Ctrl+Shift+F, X, L and S; their
// fields of the status line. The log file is a listener of the link that
// hears transfers too. UI thread.
#pragma once

#include <QObject>
#include <QString>
#include <filesystem>
#include <functional>

#include "connection/link_session.h"
#include "logging/line_logger.h"

class QAction;
class QSocketNotifier;
class QTimer;
class QWidget;

namespace quorvel {

class StatusLine;
class TransferTools;
class WindowCommands;

class LineTools : public QObject {
 public:
  // `settingsFile` is where the file send's and the log's choices are kept.
  // Everything given outlives this object; call Shutdown before the link
  // goes.
  LineTools(QWidget* window, LinkSession& link, StatusLine& status,
            std::filesystem::path settingsFile);
  ~LineTools() override;

  // Takes the file commands of the window's command table.
  void BindCommands(WindowCommands& commands);

  // The commands; those that ask open their dialogs.
  void AskAndSendFile();
  void CancelFileSend();
  void AskAndStartLog();
  void StopLog();

  // Without asking. A file that cannot be read, or a closed port, gives a
  // message and sends nothing; false then.
  bool SendFile(const QString& path, FilePacing pacing);
  // False, with a message, when the file cannot be opened.
  bool StartLog(const LogRequest& request);

  // Ends logging (the file is written and closed) and leaves the link's
  // listeners; call after the link is shut down.
  void Shutdown();

  const LineLogger& Logger() const { return logger_; }

  // The protocol transfers, which "Send file…" hands a protocol send to and
  // "Cancel file send" cancels too; null for none.
  void SetTransfers(TransferTools* transfers) { transfers_ = transfers; }
  // "Cancel file send", before which other entries go.
  QAction* CancelAction() const { return cancelSend_; }
  // Shows the status again (after a transfer moved).
  void Refresh() { UpdateStatus(); }

  // Called on the UI thread after the tools' status changed: a log started,
  // stopped or failed, a file send moved.
  void SetStatusHook(std::function<void()> hook) { statusHook_ = std::move(hook); }

 private:
  void TakeLogFailure();
  void UpdateStatus();
  void Warn(const QString& text);

  QWidget* window_;
  LinkSession& link_;
  SendWriter& writer_;  // the link's door
  StatusLine& status_;
  std::filesystem::path settingsFile_;  // where the choices are kept
  LineLogger logger_;
  QSocketNotifier* logFailure_;
  std::function<void()> statusHook_;
  QTimer* statusTimer_;            // runs while a file goes out or a log is written
  QAction* cancelSend_ = nullptr;  // enabled only while a file is queued or sent
  QAction* stopLog_ = nullptr;     // enabled only while logging
  TransferTools* transfers_ = nullptr;
};

}  // namespace quorvel
