#include "ui/history_pane.h"

#include <QVBoxLayout>

#include "history/session_save.h"
#include "settings/tool_settings.h"
#include "ui/file_dialogs.h"
#include "ui/message_box.h"
#include "ui/session_find_bar.h"
#include "ui/session_view.h"

namespace quorvel {
namespace {

constexpr int kHistoryFrameMs = 16;

}  // namespace

HistoryPane::HistoryPane(SessionStore& store, const LogLabels& labels, const DirectionMarks& marks,
                         bool gaps, std::filesystem::path settingsFile, QWidget* parent)
    : QWidget(parent), store_(store), labels_(labels), settingsFile_(std::move(settingsFile)) {
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(0, 0, 0, 0);
  column->setSpacing(0);
  view_ = new SessionView(store_, this);
  view_->SetMarks(marks, gaps);
  findBar_ = new SessionFindBar(
      store_, *view_, [] { return SessionEncoding::kLatin1; }, this);
  findBar_->hide();
  column->addWidget(findBar_);
  column->addWidget(view_, 1);
  connect(findBar_, &SessionFindBar::Closed, this,
          [this] { view_->setFocus(Qt::OtherFocusReason); });
  sync_.setSingleShot(true);
  sync_.setInterval(kHistoryFrameMs);
  connect(&sync_, &QTimer::timeout, this, [this] { view_->Sync(); });
  setFocusProxy(view_);
}

HistoryPane::~HistoryPane() {
  if (saver_.joinable()) {
    stopSaving_.store(true);
    saver_.join();
  }
}

void HistoryPane::Changed() {
  if (!sync_.isActive()) sync_.start();
}

void HistoryPane::OpenFind() {
  findBar_->Open();
}

void HistoryPane::Clear() {
  store_.Clear();
  view_->SetMatch(0, 0);
  view_->Follow();
  view_->Sync();
}

void HistoryPane::CopyAsHex() {
  view_->CopySelection(true);
}

void HistoryPane::AskAndSave() {
  if (Saving()) return;
  std::optional<SaveSessionChoice> choice = AskSaveSession(this, LoadLogSettings(settingsFile_));
  if (!choice) return;
  stopSaving_.store(false);
  saver_ = std::thread([this, path = choice->path.toStdString(), choice = *choice] {
    std::string error;
    bool saved = choice.csv
                     ? SaveSessionCsv(store_, path, labels_, error, &stopSaving_)
                     : SaveSession(store_, path, choice.format, labels_, error, &stopSaving_);
    // Posted to this object: dropped with it if the pane goes first (its
    // destructor waits for this thread).
    QMetaObject::invokeMethod(
        this, [this, saved, error] { FinishSave(saved, error); }, Qt::QueuedConnection);
  });
}

void HistoryPane::FinishSave(bool saved, const std::string& error) {
  saver_.join();
  if (!saved) {
    ShowWarning(this,
                QStringLiteral("Cannot save the session: %1").arg(QString::fromStdString(error)));
  }
}

}  // namespace quorvel
