#include "ui/line_tools.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QAction>
#include <QFileInfo>
#include <QLocale>
#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <utility>

#include "core/unique_fd.h"
#include "settings/tool_settings.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "ui/status_line.h"
#include "ui/transfer_tools.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

constexpr int kStatusPeriodMs = 250;

QString SizeText(double bytes) {
  return QLocale::system().formattedDataSize(static_cast<qint64>(bytes), 1,
                                             QLocale::DataSizeTraditionalFormat);
}

QString ReadError(const QString& path, const QString& reason) {
  return QStringLiteral("Cannot read %1: %2. Nothing was sent.").arg(path, reason);
}

}  // namespace

LineTools::LineTools(QWidget* window, LinkSession& link, StatusLine& status,
                     std::filesystem::path settingsFile)
    : QObject(window),
      window_(window),
      link_(link),
      writer_(link.Door()),
      status_(status),
      settingsFile_(std::move(settingsFile)) {
  logFailure_ = new QSocketNotifier(logger_.FailureDescriptor(), QSocketNotifier::Read, this);
  connect(logFailure_, &QSocketNotifier::activated, this, &LineTools::TakeLogFailure);
  statusTimer_ = new QTimer(this);
  connect(statusTimer_, &QTimer::timeout, this, &LineTools::UpdateStatus);
  link_.Hub().listeners.Add(logger_, {.transfers = true});
}

LineTools::~LineTools() {
  Shutdown();
}

void LineTools::BindCommands(WindowCommands& commands) {
  commands.Bind(Command::kSendFile, this, &LineTools::AskAndSendFile);
  commands.Bind(Command::kCancelFileSend, this, &LineTools::CancelFileSend);
  commands.Bind(Command::kLogToFile, this, &LineTools::AskAndStartLog);
  commands.Bind(Command::kStopLogging, this, &LineTools::StopLog);
  cancelSend_ = commands.Action(Command::kCancelFileSend);
  stopLog_ = commands.Action(Command::kStopLogging);
  UpdateStatus();
}

void LineTools::AskAndSendFile() {
  QString protocol = transfers_ ? transfers_->StoredSendProtocol() : QStringLiteral("raw");
  std::optional<FileSendChoice> choice =
      AskFileSend(window_, LoadFileSendSettings(settingsFile_), protocol);
  if (!choice) return;
  SaveFileSendSettings(choice->settings, settingsFile_);
  if (transfers_) transfers_->KeepSendProtocol(choice->protocol);
  if (choice->protocol != QLatin1String("raw") && transfers_) {
    transfers_->Send(choice->protocol, choice->paths);
    return;
  }
  SendFile(choice->path, choice->settings.pacing);
}

bool LineTools::SendFile(const QString& path, FilePacing pacing) {
  QByteArray name = path.toLocal8Bit();
  UniqueFd file(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    QString reason =
        !file ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("not a regular file");
    Warn(ReadError(path, reason));
    return false;
  }
  if (!link_.Port().IsOpen()) {
    Warn(QStringLiteral("The port is not open. Nothing was sent."));
    return false;
  }
  Done queued = link_.SendFile(std::move(file), QFileInfo(path).fileName().toStdString(),
                               static_cast<uint64_t>(info.st_size), pacing);
  UpdateStatus();
  return queued.Ok();
}

void LineTools::CancelFileSend() {
  writer_.CancelFiles();
  if (transfers_) transfers_->Cancel();
}

void LineTools::AskAndStartLog() {
  std::optional<LogChoice> choice = AskLogFile(window_, LoadLogSettings(settingsFile_));
  if (!choice) return;
  SaveLogSettings(choice->settings, settingsFile_);
  LogRequest request{choice->path.toStdString(), choice->settings.format,
                     choice->settings.includeSent, true};
  if (QFileInfo(choice->path).isFile() && QFileInfo(choice->path).size() > 0) {
    std::optional<bool> append = AskAppend(window_, choice->path);
    if (!append) return;
    request.append = *append;
  }
  StartLog(request);
}

bool LineTools::StartLog(const LogRequest& request) {
  if (Done started = logger_.Start(request); !started) {
    UpdateStatus();
    Warn(QStringLiteral("Cannot log to %1").arg(QString::fromStdString(started.Reason())));
    return false;
  }
  UpdateStatus();
  return true;
}

void LineTools::StopLog() {
  logger_.Stop();
  UpdateStatus();
}

void LineTools::Shutdown() {
  link_.Hub().listeners.Remove(logger_);
  logger_.Stop();
}

void LineTools::TakeLogFailure() {
  std::string failure = logger_.TakeFailure();
  logger_.Stop();  // the thread has ended; this only collects it
  UpdateStatus();
  if (!failure.empty()) Warn(QString::fromStdString(failure));
}

void LineTools::UpdateStatus() {
  FileSendProgress progress = writer_.Progress();
  QString transfer;
  if (progress.active) {
    double rate = progress.seconds > 0 ? static_cast<double>(progress.sent) / progress.seconds : 0;
    transfer = QStringLiteral("Sending %1: %2 of %3 bytes, %4/s (Ctrl+Shift+X cancels)")
                   .arg(QString::fromStdString(progress.name))
                   .arg(progress.sent)
                   .arg(progress.total)
                   .arg(SizeText(rate));
  }
  status_.SetText(StatusLine::Field::kTransfer, transfer);
  QString log;
  if (logger_.Active()) {
    log = QStringLiteral("Logging to %1 (%2)")
              .arg(QFileInfo(QString::fromStdString(logger_.Path())).fileName(),
                   SizeText(static_cast<double>(logger_.FileSize())));
  }
  status_.SetText(StatusLine::Field::kLog, log);
  // A file that waits behind other sends counts too: the timer then notices
  // when it starts.
  bool sending = writer_.FilesPending();
  if (cancelSend_) cancelSend_->setEnabled(sending || (transfers_ && transfers_->Running()));
  if (stopLog_) stopLog_->setEnabled(logger_.Active());
  bool moving = sending || logger_.Active();
  if (moving && !statusTimer_->isActive()) statusTimer_->start(kStatusPeriodMs);
  if (!moving) statusTimer_->stop();
  if (statusHook_) statusHook_();
}

void LineTools::Warn(const QString& text) {
  ShowWarning(window_, text);
}

}  // namespace quorvel
