#include "ui/pair_pane.h"

#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSocketNotifier>
#include <QSplitter>
#include <QVBoxLayout>

#include "core/strings.h"
#include "settings/tool_settings.h"
#include "ui/byte_text_box.h"
#include "ui/file_dialogs.h"
#include "ui/history_pane.h"
#include "ui/plot_pane.h"
#include "ui/session_view.h"

namespace quorvel {
namespace {

constexpr PairSide kPaneSides[] = {PairSide::kA, PairSide::kB};
constexpr int kRefreshMs = 250;

QString LinkStateText(const LinkStatus& link) {
  return link.connecting ? QStringLiteral("connecting")
         : link.waiting  ? QStringLiteral("waiting")
         : link.open     ? QStringLiteral("open")
                         : QStringLiteral("closed");
}

}  // namespace

PairPane::PairPane(std::filesystem::path settingsFile, ModemControl& modem,
                   std::function<void()> changed, QWidget* parent)
    : QWidget(parent),
      settingsFile_(std::move(settingsFile)),
      changed_(std::move(changed)),
      pair_(modem) {
  setObjectName(QStringLiteral("linkPair"));
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(2, 0, 0, 0);
  column->setSpacing(2);
  auto* header = new QHBoxLayout;
  title_ = new QLabel(this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  stop_->setObjectName(QStringLiteral("pairStop"));
  plotChoice_ = new QComboBox(this);
  plotChoice_->setObjectName(QStringLiteral("pairPlot"));
  plotChoice_->addItems(
      {QStringLiteral("No plot"), QStringLiteral("Plot A\u2192"), QStringLiteral("Plot B\u2192")});
  auto* close = new QPushButton(QStringLiteral("Close"), this);
  close->setObjectName(QStringLiteral("pairClose"));
  close->setToolTip(QStringLiteral("Stop and close this pane"));
  header->addWidget(title_, 1);
  header->addWidget(plotChoice_);
  header->addWidget(stop_);
  header->addWidget(close);
  column->addLayout(header);
  for (PairSide side : kPaneSides) {
    auto* label = new QLabel(this);
    label->setObjectName(QStringLiteral("pairSide%1").arg(QLatin1String(SideName(side))));
    label->setTextFormat(Qt::PlainText);
    sides_[static_cast<int>(side)] = label;
    column->addWidget(label);
  }
  said_ = new QLabel(this);
  said_->setObjectName(QStringLiteral("pairSaid"));
  said_->setTextFormat(Qt::PlainText);
  said_->setWordWrap(true);
  said_->hide();
  column->addWidget(said_);

  auto* split = new QSplitter(Qt::Vertical, this);
  DirectionMarks marks{QStringLiteral("A\u2192"), QStringLiteral("B\u2192")};
  history_ = new HistoryPane(pair_.Store(), kPairLabels, marks, true, settingsFile_, split);
  plotHolder_ = new QWidget(split);
  auto* plotColumn = new QVBoxLayout(plotHolder_);
  plotColumn->setContentsMargins(0, 0, 0, 0);
  plotTitle_ = new QLabel(plotHolder_);
  plotColumn->addWidget(plotTitle_);
  plotHolder_->hide();
  split->addWidget(history_);
  split->addWidget(plotHolder_);
  split->setStretchFactor(0, 1);
  column->addWidget(split, 1);
  setFocusProxy(history_);

  connect(stop_, &QPushButton::clicked, this, &PairPane::Stop);
  connect(close, &QPushButton::clicked, this, [this] {
    Stop();
    if (closer_) closer_();
  });
  connect(plotChoice_, &QComboBox::activated, this, [this](int index) {
    PlotSide(index == 0 ? std::nullopt
                        : std::optional<PairSide>(index == 1 ? PairSide::kA : PairSide::kB));
  });
  for (PairSide side : kPaneSides) {
    int i = static_cast<int>(side);
    waiting_[i] = new QSocketNotifier(pair_.WakeDescriptor(side), QSocketNotifier::Read, this);
    connect(waiting_[i], &QSocketNotifier::activated, this, [this, side] {
      pair_.Service(side);
      ShowState();
      TakeNews(side);
    });
    news_[i] = new QSocketNotifier(pair_.Session(side).Hub().news.Descriptor(),
                                   QSocketNotifier::Read, this);
    connect(news_[i], &QSocketNotifier::activated, this, [this, side] {
      TakeNews(side);
      if (!refresh_.isActive()) refresh_.start();  // the counters moved
    });
  }
  // The timeline's news wakes the view once; the next wake-up waits for the
  // view's next frame, so a flood costs sixty wake-ups a second.
  timeline_ = new QSocketNotifier(pair_.Timeline().NewsDescriptor(), QSocketNotifier::Read, this);
  connect(timeline_, &QSocketNotifier::activated, this, [this] {
    pair_.Timeline().TakeNews();
    history_->Changed();
    if (!refresh_.isActive()) refresh_.start();
  });
  refresh_.setSingleShot(true);
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &PairPane::ShowState);
  ShowState();
}

PairPane::~PairPane() {
  // The plot leaves its side's listeners, the history's save ends, before
  // the sessions and the store go.
  delete plot_;
  plot_ = nullptr;
  delete history_;
  pair_.Stop();
  for (int i = 0; i < 2; ++i) {
    delete waiting_[i];
    delete news_[i];
  }
  delete timeline_;
}

void PairPane::Start(PairMode mode, const PairEnd& a, const PairEnd& b) {
  said_->hide();
  pair_.Start(mode, a, b);
  for (PairSide side : kPaneSides) TakeNews(side);
  ShowState();
  history_->Changed();
}

void PairPane::Stop() {
  pair_.Stop();
  ShowState();
  history_->Changed();
}

QString PairPane::SideText(PairSide side) const {
  PairSideStatus status = pair_.Status(side);
  QString text = QStringLiteral("%1: %2 %3")
                     .arg(QLatin1String(SideName(side)), TextFromBytes(status.path),
                          LinkStateText(status.link));
  if (!status.link.open && !status.failure.empty()) {
    text += QStringLiteral(" \u2014 %1").arg(QString::fromStdString(status.failure));
  }
  text += QStringLiteral(" \u00b7 RX %1 TX %2")
              .arg(status.counters.rxCount)
              .arg(status.counters.txCount);
  if (pair_.Running() && pair_.Mode() == PairMode::kBridge) {
    text += QStringLiteral(" \u00b7 %1\u2192%2 %3")
                .arg(QLatin1String(SideName(side)), QLatin1String(SideName(OtherSide(side))))
                .arg(status.forwarded.forwarded);
    if (status.forwarded.dropped > 0) {
      text += QStringLiteral(", %1 not forwarded").arg(status.forwarded.dropped);
    }
  }
  return text;
}

QString PairPane::StatusText() const {
  if (!pair_.Running())
    return QStringLiteral("%1 stopped").arg(QLatin1String(PairModeName(pair_.Mode())));
  QString text = QString::fromLatin1(PairModeName(pair_.Mode()));
  for (PairSide side : kPaneSides) {
    PairSideStatus status = pair_.Status(side);
    text += QStringLiteral("%1 %2 %3 %4")
                .arg(side == PairSide::kA ? QStringLiteral(":") : QStringLiteral(" \u00b7"),
                     QLatin1String(SideName(side)), TextFromBytes(status.path),
                     LinkStateText(status.link));
  }
  if (pair_.Timeline().Log().Active()) text += QStringLiteral(" \u00b7 logging");
  return text;
}

void PairPane::ShowState() {
  QString mode =
      pair_.Mode() == PairMode::kBridge ? QStringLiteral("Bridge") : QStringLiteral("Monitor");
  title_->setText(
      QStringLiteral("<b>%1</b> %2")
          .arg(mode, pair_.Running() ? QStringLiteral("running") : QStringLiteral("stopped")));
  for (PairSide side : kPaneSides) sides_[static_cast<int>(side)]->setText(SideText(side));
  stop_->setEnabled(pair_.Running());
  if (changed_) changed_();
}

void PairPane::TakeNews(PairSide side) {
  LinkNews& news = pair_.Session(side).Hub().news;
  for (const std::string& text : news.Take()) {
    // A side's message goes into the timeline with the rest, never a box:
    // a capture left running unattended must not stop for one.
    QString message =
        QStringLiteral("%1: %2").arg(QLatin1String(SideName(side)), QString::fromStdString(text));
    std::string reason = pair_.Session(side).OpenFailure();
    if (!reason.empty()) message += QStringLiteral(" %1").arg(QString::fromStdString(reason));
    pair_.Timeline().Note(message.toStdString());
    Say(message);
    news.Dismissed(text);
  }
}

void PairPane::Say(const QString& text) {
  said_->setText(text);
  said_->show();
}

void PairPane::PlotSide(std::optional<PairSide> side) {
  delete plot_;
  plot_ = nullptr;
  plotChoice_->setCurrentIndex(!side ? 0 : *side == PairSide::kA ? 1 : 2);
  plotHolder_->setVisible(side.has_value());
  if (!side) return;
  plotTitle_->setText(
      QStringLiteral("Plot of what %1 reads (%1\u2192)").arg(QLatin1String(SideName(*side))));
  plot_ = new PlotPane(pair_.Session(*side).Hub().listeners, nullptr, settingsFile_, plotHolder_);
  plotHolder_->layout()->addWidget(plot_);
}

void PairPane::AskAndStartLog() {
  std::optional<LogChoice> choice = AskLogFile(this, LoadLogSettings(settingsFile_));
  if (!choice) return;
  LogRequest request{choice->path.toStdString(), choice->settings.format, true, true};
  if (QFileInfo(choice->path).isFile() && QFileInfo(choice->path).size() > 0) {
    std::optional<bool> append = AskAppend(this, choice->path);
    if (!append) return;
    request.append = *append;
  }
  if (Done started = pair_.Timeline().Log().Start(request, kPairLabels); !started) {
    Say(QStringLiteral("Cannot log to %1").arg(QString::fromStdString(started.Reason())));
  } else {
    pair_.Timeline().Note("Logging both sides to " + request.path);
  }
  ShowState();
}

bool PairPane::Take(Command command, bool checked) {
  (void)checked;
  switch (command) {
    case Command::kFind:
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
      return true;
    case Command::kLogToFile:
      AskAndStartLog();
      return true;
    case Command::kStopLogging:
      if (pair_.Timeline().Log().Active()) pair_.Timeline().Note("Logging stopped");
      pair_.Timeline().Log().Stop();
      ShowState();
      return true;
    case Command::kDtr:
    case Command::kRts:
    case Command::kPulseDtr:
    case Command::kPulseRts:
    case Command::kBreak:
    case Command::kSendFile:
    case Command::kReceiveFile:
    case Command::kCancelFileSend:
      Say(pair_.Mode() == PairMode::kBridge
              ? QStringLiteral("A bridge writes only what it forwards: nothing else is sent.")
              : QStringLiteral("A monitor only reads: nothing is sent on A or B."));
      return true;
    default:
      return false;
  }
}

}  // namespace quorvel
