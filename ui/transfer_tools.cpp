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

TransferTools::TransferTools(QWidget* window, TerminalState& state, StatusLine& status,
                             std::filesystem::path settingsFile, std::function<void()> changed)
    : QObject(window),
      window_(window),
      state_(state),
      status_(status),
      settingsFile_(std::move(settingsFile)),
      changed_(std::move(changed)),
      runner_(state) {
  dialog_ = new TransferProgressDialog(
      window, [this] { Cancel(); }, [this](bool keep) { runner_.KeepPartial(keep); });
  news_ = new QSocketNotifier(runner_.NewsDescriptor(), QSocketNotifier::Read, this);
  connect(news_, &QSocketNotifier::activated, this, &TransferTools::TakeNews);
  started_ = new QSocketNotifier(startTap_.Descriptor(), QSocketNotifier::Read, this);
  connect(started_, &QSocketNotifier::activated, this, &TransferTools::DeviceStarted);
}

TransferTools::~TransferTools() {
  Shutdown();
}

void TransferTools::BindCommands(WindowCommands& commands) {
  commands.Bind(Command::kReceiveFile, this, &TransferTools::AskAndReceive);
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
  std::string reason;
  if (!runner_.Start(std::move(request), &reason)) {
    ShowWarning(window_, QStringLiteral("The file transfer cannot start: %1.").arg(Text(reason)));
    return false;
  }
  dialog_->Begin(receiving);
  TakeNews();
  return true;
}

void TransferTools::Cancel() {
  runner_.Cancel();
}

void TransferTools::StopForLinkChange() {
  if (runner_.Running()) runner_.Stop(kCancelGraceMs);
  TakeNews();
}

void TransferTools::SetAutoStart(bool on) {
  state_.startTap.store(on ? &startTap_ : nullptr);
}

void TransferTools::DeviceStarted() {
  if (!startTap_.TakeStart() || state_.startTap.load() == nullptr || runner_.Running()) return;
  // No dialog: the stored folder and naming choices, the sender's names.
  ReceiveChoice choice{LoadTransferSettings(settingsFile_), QString()};
  choice.settings.receiveProtocol = "zmodem";
  if (choice.settings.receiveDirectory.empty()) {
    choice.settings.receiveDirectory = QDir::homePath().toStdString();
  }
  Receive(choice);
}

void TransferTools::Shutdown() {
  state_.startTap.store(nullptr);
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
    dialog_->Show(now);
    TransferLines lines = DescribeTransfer(now);
    QString pace = lines.pace.isEmpty() ? QString() : QStringLiteral(" · %1").arg(lines.pace);
    status_.SetText(
        StatusLine::Field::kFileTransfer,
        QStringLiteral("%1: %2%3 (Ctrl+Shift+X cancels)").arg(lines.title, lines.detail, pace));
  }
  if (changed_) changed_();
}

void TransferTools::Finished(const TransferState& state) {
  dialog_->hide();
  const TransferOutcome& outcome = *state.outcome;
  QString title = Text(TransferTitle(state.protocol, state.send, state.progress.file));
  QString summary = Text(TransferSummary(outcome.bytes, state.seconds, outcome.retries));
  bool done = outcome.status == TransferStatus::kDone;
  QString result = done ? QStringLiteral("%1: done, %2").arg(title, summary)
                        : QStringLiteral("%1: %2").arg(title, Text(StatusText(outcome.status)));
  status_.SetText(StatusLine::Field::kFileTransfer, result);
  QTimer::singleShot(kResultShownMs, this, [this, result] {
    if (status_.Text(StatusLine::Field::kFileTransfer) == result) {
      status_.SetText(StatusLine::Field::kFileTransfer, QString());
    }
  });
  if (done) return;
  QString message = result + QLatin1Char('.');
  if (!outcome.detail.empty()) message += QStringLiteral("\n%1").arg(Text(outcome.detail));
  for (const FolderSink::Saved& file : state.saved) {
    if (!file.complete) {
      message +=
          QStringLiteral("\nKept, cut short: %1 (%2 bytes)").arg(Text(file.path)).arg(file.bytes);
    }
  }
  ShowWarning(window_, message);
}

}  // namespace quorvel
