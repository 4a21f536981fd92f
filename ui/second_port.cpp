#include "ui/second_port.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <QCheckBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSocketNotifier>
#include <QToolButton>
#include <QVBoxLayout>
#include <cerrno>
#include <cstring>

#include "core/strings.h"
#include "engine/render.h"
#include "link/modem_control.h"
#include "sending/send_composer.h"
#include "sending/send_list.h"
#include "settings/tool_settings.h"
#include "ui/byte_text_box.h"
#include "ui/file_dialogs.h"
#include "ui/history_pane.h"
#include "ui/port_choice_dialog.h"
#include "ui/receive_box.h"
#include "ui/session_view.h"
#include "ui/status_line.h"
#include "ui/transfer_tools.h"

namespace quorvel {
namespace {

constexpr int kPortPublishMs = 16;

struct PortLineName {
  unsigned line;
  const char* name;
};
constexpr PortLineName kPortLines[] = {{kLineDtr, "DTR"}, {kLineRts, "RTS"}, {kLineCts, "CTS"},
                                       {kLineDsr, "DSR"}, {kLineDcd, "DCD"}, {kLineRi, "RI"}};

QString PortLinesText(const LineReport& report) {
  if (!report.available) return QStringLiteral("lines: not available");
  QString text;
  for (const PortLineName& shown : kPortLines) {
    if (!text.isEmpty()) text += QLatin1Char(' ');
    text += QString::fromLatin1(shown.name);
    text += (report.lines & shown.line) ? QChar(0x25CF) : QChar(0x25CB);
  }
  return text;
}

}  // namespace

void ReceiveTail::Received(const uint8_t* bytes, int count) {
  if (count <= 0) return;
  std::lock_guard guard(mutex_);
  bytes_.insert(bytes_.end(), bytes, bytes + count);
  if (bytes_.size() > kLimit) {
    size_t drop = bytes_.size() - kLimit / 2;
    bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(drop));
    dropped_ += drop;
  }
}

std::vector<uint8_t> ReceiveTail::Copy(uint64_t* dropped) const {
  std::lock_guard guard(mutex_);
  if (dropped) *dropped = dropped_;
  return bytes_;
}

void ReceiveTail::Clear() {
  std::lock_guard guard(mutex_);
  bytes_.clear();
  dropped_ = 0;
}

SecondPort::SecondPort(const PortNames& names, std::filesystem::path settingsFile,
                       ModemControl& modem, StatusLine& status, QWidget* parent)
    : QWidget(parent),
      names_(names),
      settingsFile_(std::move(settingsFile)),
      settings_(LoadSecondPortSettings(settingsFile_)),
      link_(modem) {
  setObjectName(QStringLiteral("secondPort"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 0, 0, 0);
  column->setSpacing(2);
  auto* header = new QHBoxLayout;
  auto* title = new QLabel(QStringLiteral("<b>Port 2</b>"), this);
  state_ = new QLabel(this);
  state_->setObjectName(QStringLiteral("port2State"));
  state_->setTextFormat(Qt::PlainText);
  auto* settingsButton = new QToolButton(this);
  settingsButton->setText(QStringLiteral("Port…"));
  settingsButton->setToolTip(QStringLiteral("The second port and its line settings"));
  header->addWidget(title);
  header->addWidget(state_, 1);
  header->addWidget(settingsButton);
  column->addLayout(header);
  auto* options = new QHBoxLayout;
  counts_ = new QLabel(this);
  counts_->setObjectName(QStringLiteral("port2Counts"));
  sessionView_ = new QCheckBox(QStringLiteral("Session view"), this);
  hexView_ = new QCheckBox(QStringLiteral("Hex"), this);
  options->addWidget(counts_, 1);
  options->addWidget(sessionView_);
  options->addWidget(hexView_);
  column->addLayout(options);
  said_ = new QLabel(this);
  said_->setObjectName(QStringLiteral("port2Said"));
  said_->setTextFormat(Qt::PlainText);
  said_->setWordWrap(true);
  said_->hide();
  column->addWidget(said_);

  history_ = new HistoryPane(store_, LogLabels{}, DirectionMarks{}, false, settingsFile_, this);
  box_ = new ReceiveBox(this);
  box_->setObjectName(QStringLiteral("port2Box"));
  box_->setReadOnly(true);
  column->addWidget(history_, 1);
  column->addWidget(box_, 1);

  auto* sendRow = new QHBoxLayout;
  sendText_ = new QLineEdit(this);
  sendText_->setObjectName(QStringLiteral("port2Send"));
  sendText_->setPlaceholderText(QStringLiteral("Send on port 2 (Enter)"));
  sendHex_ = new QCheckBox(QStringLiteral("Hex"), this);
  sendHex_->setObjectName(QStringLiteral("port2SendHex"));
  send_ = new QPushButton(QStringLiteral("Send"), this);
  sendRow->addWidget(sendText_, 1);
  sendRow->addWidget(sendHex_);
  sendRow->addWidget(send_);
  column->addLayout(sendRow);

  // Everything the line reads is kept for both views, whichever shows.
  link_.Hub().listeners.Add(store_);
  link_.Hub().listeners.Add(tail_);
  transfers_ = new TransferTools(this, link_, status, settingsFile_, [this] { ShowState(); });
  // No message box: what a transfer of port 2 has to say shows in its pane.
  transfers_->SetPane({QStringLiteral("Port 2"), StatusLine::Field::kPort2Transfer,
                       [this](const QString& text) { Say(text); }});

  connect(settingsButton, &QToolButton::clicked, this, &SecondPort::AskSettings);
  connect(sessionView_, &QCheckBox::toggled, this, [this](bool on) { SetView(on, settings_.hex); });
  connect(hexView_, &QCheckBox::toggled, this,
          [this](bool on) { SetView(settings_.sessionView, on); });
  connect(sendText_, &QLineEdit::returnPressed, this, &SecondPort::SendLine);
  connect(send_, &QPushButton::clicked, this, &SecondPort::SendLine);
  linkWaiting_ = new QSocketNotifier(link_.WakeDescriptor(), QSocketNotifier::Read, this);
  connect(linkWaiting_, &QSocketNotifier::activated, this, [this] {
    link_.Service();
    ShowState();
    TakeNews();
  });
  news_ = new QSocketNotifier(link_.Hub().news.Descriptor(), QSocketNotifier::Read, this);
  connect(news_, &QSocketNotifier::activated, this, &SecondPort::TakeNews);
  lines_ = new QSocketNotifier(link_.Lines().Descriptor(), QSocketNotifier::Read, this);
  connect(lines_, &QSocketNotifier::activated, this, [this] {
    link_.Lines().Drain();
    ShowState();
  });
  publish_.setSingleShot(true);
  publish_.setInterval(kPortPublishMs);
  connect(&publish_, &QTimer::timeout, this, &SecondPort::Publish);
  SetView(settings_.sessionView, settings_.hex);
  ShowState();
}

SecondPort::~SecondPort() {
  Shutdown();
  delete transfers_;  // it watches the link's hub and door
  transfers_ = nullptr;
  // Before the session closes the descriptors they watch.
  delete linkWaiting_;
  delete news_;
  delete lines_;
}

void SecondPort::EndForClose() {
  transfers_->EndForClose();
}

void SecondPort::Shutdown() {
  EndForClose();
  transfers_->Shutdown();  // the transfer's cancel, before the port closes
  link_.Shutdown();
  link_.Hub().listeners.Remove(store_);
  link_.Hub().listeners.Remove(tail_);
}

void SecondPort::Open(const PortChoice& choice) {
  settings_.port = choice;
  settings_.shown = true;  // opened again at the next start
  Keep();
  std::string why;
  std::optional<PortTarget> target = ResolvePortChoice(choice.target, names_, why);
  said_->hide();
  if (!target) {
    transfers_->StopForLinkChange();
    link_.Close();
    Say(QStringLiteral("%1 cannot be opened: %2.")
            .arg(QString::fromStdString(choice.target), QString::fromStdString(why)));
  } else {
    transfers_->StopForLinkChange();
    link_.Open(*target, choice.Line());
  }
  ShowState();
  TakeNews();
}

void SecondPort::CloseLink() {
  transfers_->StopForLinkChange();
  link_.Close();
  ShowState();
}

void SecondPort::AskSettings() {
  std::optional<PortChoice> chosen =
      AskPortChoice(this, QStringLiteral("Second port"), names_, settings_.port);
  if (chosen) Open(*chosen);
}

void SecondPort::Keep() {
  SaveSecondPortSettings(settings_, settingsFile_);
}

void SecondPort::SetView(bool session, bool hex) {
  settings_.sessionView = session;
  settings_.hex = hex;
  {
    const QSignalBlocker one(sessionView_), two(hexView_);
    sessionView_->setChecked(session);
    hexView_->setChecked(hex);
  }
  history_->setVisible(session);
  box_->setVisible(!session);
  history_->View()->SetDisplay(hex ? SessionDisplay::kHex : SessionDisplay::kText);
  shownDropped_ = UINT64_MAX;  // the box shows its text anew
  Publish();
  Keep();
}

QString SecondPort::StateText() const {
  return state_->text();
}

QString SecondPort::CountText() const {
  return counts_->text();
}

void SecondPort::ShowState() {
  LinkStatus status = link_.Status();
  QString where = QString::fromStdString(settings_.port.target);
  std::string path = status.waiting ? link_.WaitingFor() : link_.Path();
  if (!path.empty() && path != settings_.port.target) {
    where += QLatin1Char(' ') + TextFromBytes(path);
  }
  QString state = status.connecting ? QStringLiteral("connecting")
                  : status.waiting  ? QStringLiteral("waiting")
                  : status.open     ? QStringLiteral("open")
                                    : QStringLiteral("closed");
  QString text = where.isEmpty() ? state : where + QLatin1Char(' ') + state;
  if (!status.open && !link_.OpenFailure().empty()) {
    text += QStringLiteral(" \u2014 %1").arg(QString::fromStdString(link_.OpenFailure()));
  }
  if (status.open && !status.waiting && link_.Port().IsOpen()) {
    text += QStringLiteral(" \u00b7 ") + PortLinesText(link_.Lines().Latest());
  }
  state_->setText(text);
  state_->setToolTip(text);
  CounterValues counters = link_.Hub().counters.Read();
  counts_->setText(QStringLiteral("RX %1  TX %2").arg(counters.rxCount).arg(counters.txCount));
}

void SecondPort::TakeNews() {
  LinkNews& news = link_.Hub().news;
  for (const std::string& text : news.Take()) {
    QString message = QString::fromStdString(text);
    if (text == LoadString(StringId::kOpenFail) && !link_.OpenFailure().empty()) {
      message += QStringLiteral(" %1").arg(QString::fromStdString(link_.OpenFailure()));
    }
    Say(message);
    news.Dismissed(text);
  }
  if (!publish_.isActive()) publish_.start();
}

void SecondPort::Say(const QString& text) {
  said_->setText(text);
  said_->show();
}

void SecondPort::Publish() {
  ShowState();
  if (settings_.sessionView) {
    history_->Changed();
    return;
  }
  uint64_t dropped = 0;
  std::vector<uint8_t> bytes = tail_.Copy(&dropped);
  std::string text;
  AppendReceiveText(text, bytes.data(), static_cast<int>(bytes.size()), settings_.hex);
  if (dropped == shownDropped_ && box_->CanAppend(text, settings_.hex)) {
    box_->Append(std::string_view(text).substr(box_->Shown().size()));
  } else {
    box_->Show(text, settings_.hex);
  }
  shownDropped_ = dropped;
}

bool SecondPort::SendLine() {
  std::string text = sendText_->text().toStdString();
  bool hex = sendHex_->isChecked();
  if (hex && !IsHexBytes(text)) {
    Say(QStringLiteral("'%1' is no hex bytes: pairs of hex digits between spaces.")
            .arg(sendText_->text()));
    return false;
  }
  std::vector<uint8_t> bytes = ComposeSend(text, hex, SendOptions{});
  if (bytes.empty()) return false;
  Done queued = link_.Send(std::move(bytes));
  if (!queued) {
    Say(QStringLiteral("Port 2: %1.").arg(QString::fromStdString(queued.Reason())));
    return false;
  }
  said_->hide();
  return true;
}

void SecondPort::SendFile() {
  std::optional<FileSendChoice> choice =
      AskFileSend(this, LoadFileSendSettings(settingsFile_), transfers_->StoredSendProtocol());
  if (!choice) return;
  transfers_->KeepSendProtocol(choice->protocol);
  if (choice->protocol != QLatin1String("raw")) {
    said_->hide();
    transfers_->Send(choice->protocol, choice->paths);
    return;
  }
  QByteArray name = choice->path.toLocal8Bit();
  UniqueFd file(::open(name.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  struct stat info {};
  if (!file || ::fstat(file.Get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    QString reason =
        !file ? QString::fromLocal8Bit(std::strerror(errno)) : QStringLiteral("not a regular file");
    Say(QStringLiteral("Cannot read %1: %2. Nothing was sent.").arg(choice->path, reason));
    return;
  }
  Done queued = link_.SendFile(std::move(file), QFileInfo(choice->path).fileName().toStdString(),
                               static_cast<uint64_t>(info.st_size), choice->settings.pacing);
  if (!queued) Say(QStringLiteral("Port 2: %1.").arg(QString::fromStdString(queued.Reason())));
}

void SecondPort::CancelSends() {
  link_.Door().CancelFiles();
  transfers_->Cancel();
}

void SecondPort::ModemCommand(Command command, bool checked) {
  (void)checked;  // the entry shows the first port's lines; this port's own decide
  using Kind = LineActions::Kind;
  LineReport report = link_.Lines().Latest();
  if (!link_.Port().IsOpen() || !report.available) {
    Say(QStringLiteral("Port 2 has no modem lines to set."));
    return;
  }
  switch (command) {
    case Command::kDtr:
      link_.Request((report.lines & kLineDtr) ? Kind::kDrop : Kind::kRaise, kLineDtr);
      break;
    case Command::kRts:
      link_.Request((report.lines & kLineRts) ? Kind::kDrop : Kind::kRaise, kLineRts);
      break;
    case Command::kPulseDtr:
      link_.Request(Kind::kPulse, kLineDtr);
      break;
    case Command::kPulseRts:
      link_.Request(Kind::kPulse, kLineRts);
      break;
    case Command::kBreak:
      link_.Request(Kind::kBreak);
      break;
    default:
      break;
  }
}

bool SecondPort::Take(Command command, bool checked) {
  switch (command) {
    case Command::kDtr:
    case Command::kRts:
    case Command::kPulseDtr:
    case Command::kPulseRts:
    case Command::kBreak:
      ModemCommand(command, checked);
      return true;
    case Command::kSendFile:
      SendFile();
      return true;
    case Command::kReceiveFile:
      said_->hide();
      transfers_->AskAndReceive();
      return true;
    case Command::kCancelFileSend:
      CancelSends();
      return true;
    case Command::kFind:
      if (!settings_.sessionView) SetView(true, settings_.hex);
      history_->OpenFind();
      return true;
    case Command::kCopyAsHex:
      history_->CopyAsHex();
      return true;
    case Command::kSaveSession:
      history_->AskAndSave();
      return true;
    case Command::kClearReceive:
      history_->Clear();
      tail_.Clear();
      shownDropped_ = UINT64_MAX;
      Publish();
      return true;
    default:
      return false;
  }
}

}  // namespace quorvel
