// What the window does when the worker calls, a control is used or the
// window is asked to close; its set-up is in main_window.cpp.
#include "ui/main_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QShowEvent>
#include <QTimer>

#include "engine/render.h"
#include "engine/transmit.h"
#include "sending/hex.h"
#include "ui/about_dialog.h"
#include "ui/form_exchange.h"
#include "ui/link_sends.h"
#include "ui/message_box.h"
#include "ui/modem_menu.h"
#include "ui/publish_pacer.h"
#include "ui/send_tools.h"
#include "ui/session_viewer.h"
#include "ui/status_line.h"
#include "ui/transfer_tools.h"
#include "ui/two_ports.h"

namespace quorvel {

// WindowServices

void MainWindow::Refresh(RefreshPhase phase) {
  link_.Hub().uiCalls.Run([this, phase] { HandleRefresh(phase); });
}

bool MainWindow::CaptureDue() {
  return exchange_->TakeCaptureDue();
}

void MainWindow::ReceivedChanged() {
  publisher_->Request();
}

void MainWindow::ReceivedQuiet() {
  publisher_->Quiet();
}

void MainWindow::PublishReceived() {
  // What was typed since the last capture goes to the state first, or the
  // publish would put the older values back into the boxes.
  exchange_->CaptureIfEdited();
  HandleRefresh(RefreshPhase::kPublish);
  if (session_) session_->Publish();
}

bool MainWindow::PublishSettled() const {
  return !publisher_->Busy();
}

void MainWindow::HandleRefresh(RefreshPhase phase) {
  {
    std::lock_guard guard(state_.lock);
    // Rendered into the old text's storage: a refresh allocates nothing.
    state_.receiveText.clear();
    AppendReceiveText(state_.receiveText, state_.rxBuffer.data(), state_.rxLength,
                      state_.hexDisplay != 0);
  }
  if (phase == RefreshPhase::kCapture) {
    exchange_->Capture();
  } else {
    exchange_->Publish();
  }
}

// The event table's handlers

void MainWindow::OnSend() {
  exchange_->Capture();
  // The door sends it in turn, and the window stays the user's meanwhile.
  if (SendOrTell(this, link_, ComposedBytes(state_))) sendTools_->RecordSendBox();
}

void MainWindow::OnOpenClose() {
  transfers_->StopForLinkChange();
  ShowLinkStatus(link_.Wanted() ? link_.Close() : OpenSelected());
  TakeLinkNews();
}

void MainWindow::OnClearReceive() {
  exchange_->Capture();
  {
    std::lock_guard guard(state_.lock);
    state_.ClearReceived();
  }
  exchange_->Publish();
}

void MainWindow::OnEchoToggled() {
  bool on;
  {
    std::lock_guard guard(state_.lock);
    state_.echoFrame = !state_.echoFrame;
    on = state_.echoFrame;
  }
  state_.FrameRulesChanged();
  Enable(kTimerCheck, !on);
  Enable(kReplyCheck, !on);
  if (!on) return;
  exchange_->Capture();
  {
    std::lock_guard guard(state_.lock);
    state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
  }
  state_.FrameRulesChanged();
}

void MainWindow::OnReplyToggled() {
  bool on;
  {
    std::lock_guard guard(state_.lock);
    state_.replyAfterFrame = !state_.replyAfterFrame;
    on = state_.replyAfterFrame != 0;
  }
  state_.FrameRulesChanged();
  Enable(kTimerCheck, !on);
  Enable(kEchoCheck, !on);
  if (on) exchange_->Capture();
}

void MainWindow::OnTimerToggled() {
  bool on;
  {
    std::lock_guard guard(state_.lock);
    state_.timerSend = !state_.timerSend;
    on = state_.timerSend != 0;
  }
  Enable(kEchoCheck, !on);
  Enable(kReplyCheck, !on);
  if (!on) {
    sendTimer_->stop();
    return;
  }
  exchange_->Capture();
  int32_t period;
  {
    std::lock_guard guard(state_.lock);
    period = state_.timerIntervalMs;
  }
  // The period is taken now; changing the box later changes nothing until
  // the timer is switched off and on again.
  sendTimer_->start(PlatformTimerPeriod(period));
}

void MainWindow::OnSendAsHexToggled() {
  std::lock_guard guard(state_.lock);
  state_.sendAsHex = !state_.sendAsHex;
}

void MainWindow::OnHexDisplayToggled() {
  // The receive box changes form at the next refresh.
  std::lock_guard guard(state_.lock);
  state_.hexDisplay = !state_.hexDisplay;
}

void MainWindow::OnLineSettingChanged() {
  LineSelection selection = CurrentSelection();
  LineParameters asked = ReadLineSelections(selection);
  if (!link_.ApplyLineSettings(asked)) {
    ShowWarning(this, QStringLiteral("The driver refused these line settings (%1 baud); "
                                     "the line keeps the ones it had.")
                          .arg(asked.baudRate.value_or(0)));
    ShowSelection(applied_);
  } else {
    applied_ = selection;
  }
  ShowLinkStatus(link_.Status());
}

void MainWindow::OnBaudChosen() {
  typedBaud_ = 0;  // an entry of the list replaces a typed rate
  OnLineSettingChanged();
}

void MainWindow::OnBaudTyped() {
  QComboBox* baud = Selector(kBaudSelector);
  QString text = baud->currentText();
  // What the selector shows already (an entry, or the typed rate) is no news:
  // focus leaving after Enter, or a message box taking it, ends here.
  QString shown = typedBaud_ != 0             ? QString::number(typedBaud_)
                  : baud->currentIndex() >= 0 ? baud->itemText(baud->currentIndex())
                                              : QString();
  if (text.trimmed() == shown) return;
  std::optional<uint32_t> rate = ParseBaudRate(text.toStdString());
  if (!rate) {
    baud->setEditText(shown);
    ShowWarning(this, QStringLiteral("'%1' is no baud rate: type a whole number of bits per "
                                     "second from 1 to %2.")
                          .arg(text)
                          .arg(kHighestBaudRate));
    return;
  }
  LineSelection selection = CurrentSelection();
  selection.typedBaud = *rate;
  ShowSelection(selection);
  OnLineSettingChanged();
}

void MainWindow::OnPortChanged() {
  // A closed link stays closed: the new port opens with the next "Open com".
  if (!link_.Wanted()) return;
  transfers_->StopForLinkChange();
  ShowLinkStatus(OpenSelected());
  TakeLinkNews();
}

void MainWindow::OnFlowControlChanged() {
  OnLineSettingChanged();  // its status refreshes the flow control the driver took
}

void MainWindow::OnResetCounters() {
  exchange_->Capture();
  link_.Hub().counters.Reset();
  exchange_->Publish();
}

void MainWindow::OnTimer() {
  // A tick whose previous send still goes is skipped: sends never pile up.
  // A file transfer has the line meanwhile: the timer holds.
  // A device that is away makes no tick fail: the port reads closed.
  if (link_.Port().IsOpen() && !link_.Door().Busy() && !transfers_->Running()) {
    (void)link_.Send(ComposedBytes(state_));
  }
}

// Window events

void MainWindow::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // The window ends only through the OK ending below.
  event->ignore();
  SaveSettingsOnClose();
  // A failed capture shows its message a second time and keeps the window open.
  if (!exchange_->Capture()) return;
  // A transfer still running, or whose end the window has not taken yet,
  // ends with the window: nothing of it stays on screen or asks anything.
  transfers_->EndForClose();
  twoPorts_->EndForClose();
  QDialog::done(QDialog::Accepted);
}

void MainWindow::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  // From the event loop: the window is on screen first, and its link runs
  // while a message waits to be dismissed.
  if (!startNotices_.isEmpty()) QTimer::singleShot(0, this, &MainWindow::TellStartNotices);
}

void MainWindow::TellStartNotices() {
  QStringList notices = std::move(startNotices_);
  startNotices_.clear();
  if (notices.isEmpty()) return;
  constexpr int kStatusWidth = 100;
  QString text =
      QStringLiteral("start: %1")
          .arg(ElideMiddle(notices.front().section(QLatin1Char('\n'), 0, 0), kStatusWidth));
  if (notices.size() > 1) text += QStringLiteral(" (and %1 more)").arg(notices.size() - 1);
  statusLine_->SetText(StatusLine::Field::kNotices, text);
  // Names from outside are shown as they are, never as markup.
  QString tip = ShownMessageText(notices.join(QStringLiteral("\n\n"))).toHtmlEscaped();
  statusLine_->Label(StatusLine::Field::kNotices)
      ->setToolTip(QStringLiteral("<qt>%1</qt>")
                       .arg(tip.replace(QLatin1Char('\n'), QStringLiteral("<br>"))));
  for (const QString& notice : notices) ShowWarning(this, notice);
}

void MainWindow::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
      // No default button: Enter reaches here from boxes and check boxes and
      // does nothing; on a push button it clicks that button.
      if (auto* button = qobject_cast<QPushButton*>(focusWidget());
          button && button->isEnabled() && !(event->modifiers() & ~Qt::KeypadModifier)) {
        button->click();
      }
      event->accept();
      return;
    case Qt::Key_Escape:
      event->accept();
      return;
    default:
      QDialog::keyPressEvent(event);
  }
}

}  // namespace quorvel
