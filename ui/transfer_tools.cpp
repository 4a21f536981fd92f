#include "ui/transfer_tools.h"

#include <QAction>
#include <QDir>
#include <QMenu>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include "ui/command_table.h"
#include "ui/message_box.h"
#include "ui/status_line.h"
#include "ui/transfer_dialogs.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

// How long the status line keeps a finished transfer's result.
constexpr int kResultShownMs = 15000;
constexpr int kLookEveryMs = 100;
// How long closing the link waits for a transfer's cancel to reach the
// other side (its sequence goes twice, a quarter of a second apart).
constexpr int kCancelGraceMs = 1000;

constexpr struct {
  const char* key;
  TransferProtocol protocol;
} kProtocolKeys[] = {
    {"xmodem", TransferProtocol::kXmodem},
    {"xmodem-1k", TransferProtocol::kXmodem1k},
    {"ymodem", TransferProtocol::kYmodem},
    {"zmodem", TransferProtocol::kZmodem},
};

std::optional<TransferProtocol> ProtocolOf(const QString& key) {
  for (const auto& entry : kProtocolKeys) {
    if (key == QLatin1String(entry.key)) return entry.protocol;
  }
  return std::nullopt;
}

QString Text(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TransferTools::TransferTools(QWidget* window, LinkSession& link, StatusLine& status,
                             std::filesystem::path settingsFile, std::function<void()> changed)
    : QObject(window),
      window_(window),
      link_(link),
      status_(status),
      settingsFile_(std::move(settingsFile)),
      changed_(std::move(changed)),
      runner_(link.Hub(), link.Door()) {
  news_ = new QSocketNotifier(runner_.NewsDescriptor(), QSocketNotifier::Read, this);
  connect(news_, &QSocketNotifier::activated, this, &TransferTools::TakeNews);
  started_ = new QSocketNotifier(startWatch_.Descriptor(), QSocketNotifier::Read, this);
  connect(started_, &QSocketNotifier::activated, this, &TransferTools::DeviceStarted);
}

TransferTools::~TransferTools() {
  Shutdown();
}

void TransferTools::BindCommands(WindowCommands& commands) {
  commands.Bind(Command::kReceiveFile, this, &TransferTools::AskAndReceive);
}

void TransferTools::SetPane(Pane pane) {
  pane_ = std::move(pane);
  if (dialog_) dialog_->setWindowTitle(Named(QStringLiteral("File transfer")));
}

QString TransferTools::Named(const QString& text) const {
  return pane_.name.isEmpty() ? text : QStringLiteral("%1: %2").arg(pane_.name, text);
}

void TransferTools::Tell(const QString& text) {
  if (pane_.tell) {
    pane_.tell(text);
  } else {
    ShowWarning(window_, text);
  }
}

QString TransferTools::StoredSendProtocol() const {
  return QString::fromStdString(LoadTransferSettings(settingsFile_).sendProtocol);
}

void TransferTools::KeepSendProtocol(const QString& protocol) {
  TransferSettings settings = LoadTransferSettings(settingsFile_);
  if (settings.sendProtocol == protocol.toStdString()) return;
  settings.sendProtocol = protocol.toStdString();
  SaveTransferSettings(settings, settingsFile_);
}

bool TransferTools::Send(const QString& protocol, const QStringList& paths) {
  KeepSendProtocol(protocol);
  std::optional<TransferProtocol> chosen = ProtocolOf(protocol);
  if (!chosen) return false;
  TransferRequest request;
  request.protocol = *chosen;
  request.send = true;
  for (const QString& path : paths) request.paths.push_back(path.toLocal8Bit().toStdString());
  return Start(std::move(request));
}

void TransferTools::AskAndReceive() {
  std::optional<ReceiveChoice> choice =
      AskReceiveFile(window_, LoadTransferSettings(settingsFile_));
  if (!choice) return;
  SaveTransferSettings(choice->settings, settingsFile_);
  Receive(*choice);
}

bool TransferTools::Receive(const ReceiveChoice& choice) {
  const TransferSettings& settings = choice.settings;
  TransferRequest request;
  // A key the dialog does not offer (a hand-edited settings file) receives
  // as YMODEM, which takes the sender's names.
  request.protocol = ProtocolOf(QString::fromStdString(settings.receiveProtocol))
                         .value_or(TransferProtocol::kYmodem);
  request.send = false;
  request.sink.folder = settings.receiveDirectory.empty() ? "." : settings.receiveDirectory;
  request.sink.existing =
      settings.replaceExisting ? ExistingFiles::kReplace : ExistingFiles::kNumber;
  if (request.protocol == TransferProtocol::kXmodem) {
    request.sink.fixedName = choice.fileName.toLocal8Bit().toStdString();
  }
  request.padding = settings.dropPadding ? XmodemPadding::kDrop : XmodemPadding::kKeep;
  return Start(std::move(request));
}

bool TransferTools::Start(TransferRequest request) {
  request.timing = timing_;
  bool receiving = !request.send;
  if (Done started = runner_.Start(std::move(request)); !started) {
    Tell(Named(QStringLiteral("The file transfer cannot start: %1.").arg(Text(started.Reason()))));
    return false;
  }
  Dialog().Begin(receiving);
  TakeNews();
  return true;
}

TransferProgressDialog& TransferTools::Dialog() {
  // Made as the first transfer starts: its buttons look up the icon theme,
  // most of what the window's start would otherwise allocate, for a dialog
  // most sessions never show.
  if (!dialog_) {
    dialog_ = new TransferProgressDialog(
        window_, [this] { Cancel(); }, [this](bool keep) { runner_.KeepPartial(keep); });
    dialog_->setWindowTitle(Named(QStringLiteral("File transfer")));
  }
  return *dialog_;
}

void TransferTools::Cancel() {
  runner_.Cancel();
}

void TransferTools::StopForLinkChange() {
  if (runner_.Running()) runner_.Stop(kCancelGraceMs);
  TakeNews();
}

void TransferTools::SetAutoStart(bool on) {
  LineListeners& listeners = link_.Hub().listeners;
  if (on) {
    listeners.Add(startWatch_, {.early = true});
  } else {
    listeners.Remove(startWatch_);
  }
}

void TransferTools::DeviceStarted() {
  if (!startWatch_.TakeStart() || !link_.Hub().listeners.Contains(startWatch_) ||
      runner_.Running()) {
    return;
  }
  // No dialog: the stored folder and naming choices, the sender's names.
  ReceiveChoice choice{LoadTransferSettings(settingsFile_), QString()};
  choice.settings.receiveProtocol = "zmodem";
  if (choice.settings.receiveDirectory.empty()) {
    choice.settings.receiveDirectory = QDir::homePath().toStdString();
  }
  Receive(choice);
}

void TransferTools::EndForClose() {
  if (runner_.Running()) runner_.Stop(kCancelGraceMs);
  TransferState now = runner_.TakeNews();
  if (now.outcome) Finished(now, false);
  if (dialog_) dialog_->hide();
}

void TransferTools::Shutdown() {
  link_.Hub().listeners.Remove(startWatch_);
  runner_.Stop(kCancelGraceMs);
}

void TransferTools::TakeNews() {
  TransferState now = runner_.TakeNews();
  if (now.outcome) {
    Finished(now);
  } else if (now.running) {
    // A fast line moves every millisecond: the window looks ten times a
    // second, and the notifier wakes it again after that.
    news_->setEnabled(false);
    QTimer::singleShot(kLookEveryMs, this, [this] { news_->setEnabled(true); });
    Dialog().Show(now);
    TransferLines lines = DescribeTransfer(now);
    QString pace = lines.pace.isEmpty() ? QString() : QStringLiteral(" · %1").arg(lines.pace);
    status_.SetText(pane_.field, Named(QStringLiteral("%1: %2%3 (Ctrl+Shift+X cancels)")
                                           .arg(lines.title, lines.detail, pace)));
  }
  if (changed_) changed_();
}

void TransferTools::Finished(const TransferState& state, bool tell) {
  if (dialog_) dialog_->hide();
  const TransferOutcome& outcome = *state.outcome;
  QString title = Text(TransferTitle(state.protocol, state.send, state.progress.file));
  QString summary = Text(TransferSummary(outcome.bytes, state.seconds, outcome.retries));
  bool done = outcome.status == TransferStatus::kDone;
  QString result =
      Named(done ? QStringLiteral("%1: done, %2").arg(title, summary)
                 : QStringLiteral("%1: %2").arg(title, Text(StatusText(outcome.status))));
  status_.SetText(pane_.field, result);
  // Timed by the status line: a pane's tools may go with their pane (its
  // transfer ended by the close) before the result has been shown.
  QTimer::singleShot(kResultShownMs, &status_, [status = &status_, field = pane_.field, result] {
    if (status->Text(field) == result) status->SetText(field, QString());
  });
  if (done || !tell) return;
  QString message = result + QLatin1Char('.');
  if (!outcome.detail.empty()) message += QStringLiteral("\n%1").arg(Text(outcome.detail));
  for (const FolderSink::Saved& file : state.saved) {
    if (!file.complete) {
      message +=
          QStringLiteral("\nKept, cut short: %1 (%2 bytes)").arg(Text(file.path)).arg(file.bytes);
    }
  }
  Tell(message);
}

}  // namespace quorvel
