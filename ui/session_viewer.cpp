#include "ui/session_viewer.h"

#include <QAbstractButton>
#include <QAction>
#include <QBoxLayout>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QWidget>

#include "history/session_save.h"
#include "settings/tool_settings.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "ui/session_find_bar.h"
#include "ui/session_view.h"
#include "ui/view_settings_dialog.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

SessionEncoding EncodingOf(DisplayEncoding encoding) {
  return encoding == DisplayEncoding::kUtf8 ? SessionEncoding::kUtf8 : SessionEncoding::kLatin1;
}

}  // namespace

SessionViewer::SessionViewer(Parts parts)
    : QObject(parts.window), parts_(std::move(parts)), store_(kSessionLimitDefault) {
  settings_ = LoadViewSettings(parts_.settingsFile);
  // Sends and events are shown at the window's publish, as received bytes
  // are; logging's start and end come with the tools' status.
  news_ = new QSocketNotifier(store_.NewsDescriptor(), QSocketNotifier::Read, this);
  connect(news_, &QSocketNotifier::activated, this, [this] {
    store_.TakeNews();
    parts_.requestPublish();
  });

  auto* clear = qobject_cast<QAbstractButton*>(parts_.control(kClearReceiveButton));
  connect(clear, &QAbstractButton::clicked, this, [this] {
    store_.Clear();
    if (!view_) return;
    view_->SetMatch(0, 0);
    view_->Follow();
    view_->Sync();
  });
  auto* hex = qobject_cast<QAbstractButton*>(parts_.control(kHexDisplayCheck));
  connect(hex, &QAbstractButton::clicked, this, [this] { Tick(); });
  ApplyToView();
  SetOn(settings_.sessionView);
}

SessionViewer::~SessionViewer() {
  if (saver_.joinable()) {
    // The file keeps what was written; the window is going.
    stopSaving_.store(true);
    saver_.join();
  }
  Shutdown();
  delete news_;  // before the store closes the descriptor it watches
  // They draw from the store, which goes with this object.
  delete findBar_;
  delete view_;
}

void SessionViewer::EnsureView() {
  // Made when first wanted: a window that never shows the view starts as
  // quickly as before.
  if (view_) return;
  // In the receive box's pane, whose column shows the view in the box's
  // place and the find bar above it.
  QWidget* pane = parts_.control(kReceiveBox)->parentWidget();
  view_ = new SessionView(store_, pane);
  view_->hide();
  findBar_ = new SessionFindBar(
      store_, *view_, [this] { return EncodingOf(settings_.encoding); }, pane);
  findBar_->hide();
  auto* column = static_cast<QBoxLayout*>(pane->layout());
  column->insertWidget(0, findBar_);
  column->addWidget(view_, 1);
  connect(findBar_, &SessionFindBar::Closed, this, [this] {
    Place();
    view_->setFocus(Qt::OtherFocusReason);
  });
  ApplyToView();
}

SessionView* SessionViewer::View() {
  EnsureView();
  return view_;
}

SessionFindBar* SessionViewer::FindBar() {
  EnsureView();
  return findBar_;
}

void SessionViewer::Shutdown() {
  parts_.listeners.Remove(store_);
}

void SessionViewer::BindCommands(WindowCommands& commands) {
  mode_ = commands.Action(Command::kSessionView);
  mode_->setChecked(On());
  connect(mode_, &QAction::toggled, this, [this](bool on) {
    if (on == On()) return;
    ViewSettings changed = settings_;
    changed.sessionView = on;
    Apply(changed);
  });
  commands.Bind(Command::kViewSettings, this, &SessionViewer::AskSettings);
  commands.Bind(Command::kFind, this, &SessionViewer::OpenFind);
  commands.Bind(Command::kCopyAsHex, this, &SessionViewer::CopyAsHex);
  commands.Bind(Command::kSaveSession, this, &SessionViewer::AskAndSave);
  viewActions_ = {commands.Action(Command::kCopyAsHex), commands.Action(Command::kSaveSession)};
  save_ = commands.Action(Command::kSaveSession);
  find_ = commands.Action(Command::kFind);
  for (QAction* action : viewActions_) action->setEnabled(On());
  find_->setEnabled(On() || covered_);
  ShowSaving();
}

void SessionViewer::SetOn(bool on) {
  settings_.sessionView = on;
  QWidget* receiveBox = parts_.control(kReceiveBox);
  // The history listens before the view shows, so nothing the line carries
  // from now on is missed; the receive box keeps the receive text while
  // hidden, and shows it when shown again.
  if (on) {
    parts_.listeners.Add(store_);
  } else {
    parts_.listeners.Remove(store_);
  }
  if (on) {
    EnsureView();
    if (!covered_) {
      // The box first: a view shown beside it would share the pane for a
      // moment, and the hidden box would keep half of it.
      receiveBox->hide();
      view_->show();
      Place();
    }
    Tick();
  } else {
    if (view_) {
      findBar_->hide();
      view_->hide();
    }
    if (!covered_) receiveBox->show();
  }
  if (mode_) mode_->setChecked(on);
  for (QAction* action : viewActions_) action->setEnabled(on);
  if (find_) find_->setEnabled(on || covered_);
  ShowSaving();
}

void SessionViewer::SetCovered(bool covered) {
  if (covered == covered_) return;
  covered_ = covered;
  QWidget* receiveBox = parts_.control(kReceiveBox);
  if (covered) {
    receiveBox->hide();
    if (view_) {
      findBar_->hide();
      view_->hide();
    }
  } else if (On()) {
    view_->show();
    Place();
    Tick();
  } else {
    receiveBox->show();
  }
  if (find_) find_->setEnabled(On() || covered_);
}

void SessionViewer::Apply(const ViewSettings& settings) {
  bool modeChanged = settings.sessionView != settings_.sessionView;
  settings_ = settings;
  ApplyToView();
  if (modeChanged) SetOn(settings.sessionView);
  SaveViewSettings(settings_, parts_.settingsFile);
  if (settingsWatcher_) settingsWatcher_(settings_);
}

void SessionViewer::WatchSettings(std::function<void(const ViewSettings&)> watcher) {
  settingsWatcher_ = std::move(watcher);
  settingsWatcher_(settings_);
}

void SessionViewer::ApplyToView() {
  store_.SetLimit(static_cast<uint64_t>(settings_.historyMiB) << 20);
  store_.SetFrameCheck(settings_.check);
  DecodeOptions decode;
  decode.encoding = EncodingOf(settings_.encoding);
  decode.controlSymbols = settings_.controlSymbols;
  decode.hideAnsi = settings_.hideAnsi;
  if (view_) view_->SetOptions(settings_.stamps, settings_.showTx, decode);
  SessionSplit split = store_.Split();
  split.textSilenceMs = settings_.silenceMs;
  split.hexSilenceMs = settings_.silenceMs;
  store_.SetSplit(split);
}

void SessionViewer::Place() {
  // The pane's column places them; at once, not at the next pass of the
  // event loop, so the view has its size before it is first drawn.
  view_->parentWidget()->layout()->activate();
}

void SessionViewer::Publish() {
  Tick();
}

void SessionViewer::Tick() {
  if (!On()) return;
  bool hex = false;
  int frameEnd = -1;
  if (TerminalState* state = parts_.state) {
    std::lock_guard guard(state->lock);
    hex = state->hexDisplay != 0;
    frameEnd = state->frameEndText.empty() ? -1 : state->frameEndByte;
  }
  SessionSplit split = store_.Split();
  if (split.frameEndByte != frameEnd) {
    split.frameEndByte = frameEnd;
    store_.SetSplit(split);
  }
  view_->SetDisplay(hex ? SessionDisplay::kHex : SessionDisplay::kText);
  bool logging = parts_.logger.Active();
  if (logging != wasLogging_) {
    wasLogging_ = logging;
    Record(logging ? SessionEvent::kLoggingStarted : SessionEvent::kLoggingStopped,
           logging
               ? QStringLiteral("Logging to %1").arg(QString::fromStdString(parts_.logger.Path()))
               : QStringLiteral("Logging stopped"));
  }
  view_->Sync();
}

void SessionViewer::Record(SessionEvent event, const QString& text) {
  if (!On()) return;  // the history is of what happened while the view was on
  store_.RecordEvent(event, text.toStdString());
  view_->Sync();
}

void SessionViewer::AskSettings() {
  if (std::optional<ViewSettings> chosen = AskViewSettings(parts_.window, settings_)) {
    Apply(*chosen);
  }
}

void SessionViewer::OpenFind() {
  if (!On() || covered_) return;
  findBar_->show();
  Place();
  findBar_->Open();
}

void SessionViewer::CopyAsHex() {
  if (view_) view_->CopySelection(true);
}

void SessionViewer::AskAndSave() {
  if (Saving()) return;  // one at a time; the entry waits meanwhile
  LogSettings stored = LoadLogSettings(parts_.settingsFile);
  std::optional<SaveSessionChoice> choice = AskSaveSession(parts_.window, stored);
  if (!choice) return;
  stopSaving_.store(false);
  saver_ = std::thread(
      [this, path = choice->path.toStdString(), format = choice->format, csv = choice->csv] {
        std::string error;
        bool saved = csv ? SaveSessionCsv(store_, path, LogLabels{}, error, &stopSaving_)
                         : SaveSession(store_, path, format, error, &stopSaving_);
        // Posted to this object: dropped with it if the window goes first (its
        // destructor waits for this thread).
        QMetaObject::invokeMethod(
            this, [this, saved, error] { FinishSave(saved, error); }, Qt::QueuedConnection);
      });
  ShowSaving();
}

void SessionViewer::FinishSave(bool saved, const std::string& error) {
  saver_.join();
  ShowSaving();
  if (!saved) {
    ShowWarning(parts_.window,
                QStringLiteral("Cannot save the session: %1").arg(QString::fromStdString(error)));
  }
}

void SessionViewer::ShowSaving() {
  if (!save_) return;
  save_->setText(Saving() ? QStringLiteral("Saving session…")
                          : QString::fromUtf8(RowOf(Command::kSaveSession).text));
  save_->setEnabled(On() && !Saving());
}

}  // namespace quorvel
