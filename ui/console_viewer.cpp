#include "ui/console_viewer.h"

#include <QAction>
#include <QKeySequence>
#include <QLayout>
#include <QShortcut>
#include <QVBoxLayout>

#include "console/console.h"
#include "core/line_listener.h"
#include "core/strings.h"
#include "ui/command_table.h"
#include "ui/console_find_bar.h"
#include "ui/console_settings_dialog.h"
#include "ui/console_view.h"
#include "ui/message_box.h"
#include "ui/session_viewer.h"
#include "ui/status_line.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

namespace quorvel {
namespace {

// The grid the console starts with, until the view has its size.
constexpr int kStartRows = 24;
constexpr int kStartColumns = 80;

}  // namespace

// The console's place in the line's listener list: what the device sends
// goes to the console's inbox (a short lock and a copy, on the receive
// worker's thread); what was sent is the console's own doing, or another
// sender's, which a terminal does not show.
class ConsoleViewer::Feed : public LineListener {
 public:
  explicit Feed(Console& console) : console_(console) {}
  void Received(const uint8_t* bytes, int count) override { console_.Received(bytes, count); }
  void Sent(const uint8_t*, int) override {}

 private:
  Console& console_;
};

ConsoleViewer::ConsoleViewer(Parts parts) : QObject(parts.window), parts_(std::move(parts)) {
  settings_ = LoadConsoleSettings(parts_.settingsFile);
  if (settings_.shown) SetShown(true);
}

ConsoleViewer::~ConsoleViewer() {
  if (!console_) return;
  parts_.link.Hub().listeners.Remove(*feed_);
  // The view draws from the console, which goes after it.
  delete findBar_;
  delete view_;
  console_.reset();
}

void ConsoleViewer::EnsureConsole() {
  if (console_) return;
  LinkSession& link = parts_.link;
  // Keys, the stty command and the emulator's answers to the device's
  // queries, from the window's thread and the console's: a device that is
  // away is told once however many keys went (the news keeps a text once);
  // a closed port takes them silently, as the Send button's sends.
  auto send = [&link](std::vector<uint8_t> bytes) {
    Done queued = link.Send(std::move(bytes));
    if (!queued && queued.Reason() == LoadString(StringId::kWriteFail)) {
      link.Hub().news.PostMessage(queued.Reason());
    }
  };
  auto sendPiece = [&link](std::vector<uint8_t> piece, Console::PieceWritten written) {
    Done queued = link.Send(std::move(piece),
                            [written](const SendResult& result) { written(result.complete); });
    if (!queued) written(false);
  };
  console_ =
      std::make_unique<Console>(kStartRows, kStartColumns, settings_.options, send, sendPiece);
  feed_ = std::make_unique<Feed>(*console_);
  // The terminal's own traffic: a file transfer's bytes are not shown.
  link.Hub().listeners.Add(*feed_, Hearing{});

  QWidget* pane = parts_.layout.ViewPane();
  view_ = new ConsoleView(*console_, pane);
  view_->hide();
  findBar_ = new ConsoleFindBar(*view_, pane);
  findBar_->hide();
  auto* column = static_cast<QBoxLayout*>(pane->layout());
  column->insertWidget(0, findBar_);
  column->addWidget(view_, 1);
  connect(view_, &ConsoleView::SizeChanged, this, [this] { ShowSize(); });
  connect(view_, &ConsoleView::Refused, this,
          [this](const QString& message) { ShowWarning(parts_.window, message); });
  connect(findBar_, &ConsoleFindBar::Closed, this,
          [this] { view_->setFocus(Qt::OtherFocusReason); });
}

void ConsoleViewer::BindCommands(WindowCommands& commands) {
  // Ctrl+Q goes to the device while the console has the focus; this quits
  // wherever the focus is.
  auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Q), parts_.window);
  connect(quit, &QShortcut::activated, commands.Action(Command::kQuit), &QAction::trigger);
  mode_ = commands.Action(Command::kConsole);
  commands.Bind(Command::kConsole, this, [this](bool on) {
    if (on != Shown()) SetShown(on);
  });
  commands.Bind(Command::kConsoleSettings, this, &ConsoleViewer::AskSettings);
  commands.Bind(Command::kSendTerminalSize, this, &ConsoleViewer::SendSize);
  // The window's Find finds in the console while it shows (the session
  // view's find stays quiet then: it is covered).
  commands.Bind(Command::kFind, this, &ConsoleViewer::OpenFind);
  size_ = commands.Action(Command::kSendTerminalSize);
  find_ = commands.Action(Command::kFind);
  ShowState();  // a console shown from the start came before its entries
}

bool ConsoleViewer::Shown() const {
  return view_ && !view_->isHidden();
}

void ConsoleViewer::SetShown(bool shown) {
  if (shown) {
    EnsureConsole();
    parts_.session.SetCovered(true);
    view_->show();
    // At once, so the grid has its size before it is first drawn.
    view_->parentWidget()->layout()->activate();
    view_->setFocus(Qt::OtherFocusReason);
  } else if (view_) {
    findBar_->hide();
    view_->ClearMatch();
    view_->hide();
    parts_.session.SetCovered(false);
  }
  ShowState();
  if (settings_.shown != shown) {
    settings_.shown = shown;
    Save();
  }
}

void ConsoleViewer::FocusIfShown() {
  if (Shown()) view_->setFocus(Qt::OtherFocusReason);
}

void ConsoleViewer::ShowState() {
  bool shown = Shown();
  ShowSize();
  if (mode_) mode_->setChecked(shown);
  if (size_) size_->setEnabled(shown);
  if (find_) {
    find_->setText(QString::fromUtf8(shown ? "&Find in console…" : RowOf(Command::kFind).text));
    if (shown) find_->setEnabled(true);
  }
}

void ConsoleViewer::ShowSize() {
  parts_.status.SetText(
      StatusLine::Field::kConsole,
      Shown() ? QStringLiteral("console %1\u00d7%2").arg(view_->Columns()).arg(view_->Rows())
              : QString());
}

void ConsoleViewer::Apply(const ConsoleOptions& options) {
  settings_.options = options;
  if (console_) console_->SetOptions(options);
  Save();
}

void ConsoleViewer::Save() {
  // The stored file keeps the choices of both, whichever changed.
  SaveConsoleSettings(settings_, parts_.settingsFile);
}

void ConsoleViewer::AskSettings() {
  if (std::optional<ConsoleOptions> chosen = AskConsoleSettings(parts_.window, settings_.options)) {
    Apply(*chosen);
  }
  FocusIfShown();
}

void ConsoleViewer::OpenFind() {
  if (!Shown()) return;
  findBar_->show();
  view_->parentWidget()->layout()->activate();
  findBar_->Open();
}

void ConsoleViewer::SendSize() {
  if (Shown()) view_->SendSize();
}

}  // namespace quorvel
