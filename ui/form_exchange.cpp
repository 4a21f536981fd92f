#include "ui/form_exchange.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QTextDocument>

#include "sending/hex.h"
#include "ui/byte_text_box.h"
#include "ui/form_values.h"
#include "ui/message_box.h"
#include "ui/receive_box.h"

namespace quorvel {

const char kPeriodNotIntegerMessage[] = "The timer period must be a whole number of milliseconds.";
const char kPeriodRangeMessage[] = "The timer period must be between 0 and 65536 ms.";
const char kFrameEndLengthMessage[] = "The frame end takes at most 2 hex digits.";

namespace {

constexpr char kNotNumberMessage[] = "This box must hold a number.";

std::string LineText(const QLineEdit* edit) {
  return BytesFromText(edit->text());
}

void SetLineText(QLineEdit* edit, const QString& text, RepaintPacer* pacer = nullptr) {
  if (edit->text() == text) return;
  if (pacer) pacer->Changing(edit);
  edit->setText(text);
  // Show a long value from its start, as the box's first characters matter.
  edit->setCursorPosition(0);
}

}  // namespace

FormExchange::FormExchange(TerminalState& state, LinkCounters& counters,
                           const FormControls& controls)
    : state_(state), counters_(counters), controls_(controls) {
  WatchEdits();
}

void FormExchange::WatchEdits() {
  // Program changes count as well as the user's: a box set by code before a
  // burst must reach the state just as a typed one. The check boxes need no
  // watching: a click stores its check in the state at once.
  auto mark = [this] {
    if (publishing_) return;
    uncaptured_ = true;
    captureDue_.store(true);
  };
  for (ByteTextBox* box : {static_cast<ByteTextBox*>(controls_.receiveBox), controls_.sendBox}) {
    QObject::connect(box, &ByteTextBox::textChanged, box, mark);
  }
  for (QLineEdit* edit : {controls_.period, controls_.interval, controls_.rxCount,
                          controls_.txCount, controls_.average, controls_.frameEnd}) {
    QObject::connect(edit, &QLineEdit::textChanged, edit, mark);
  }
}

bool FormExchange::Fail(QWidget* control, const char* message) {
  control->setFocus(Qt::OtherFocusReason);
  if (auto* edit = qobject_cast<QLineEdit*>(control)) edit->selectAll();
  ShowWarning(control->window(), QString::fromLatin1(message));
  return false;
}

void FormExchange::CaptureIfEdited() {
  if (uncaptured_) Capture();
}

bool FormExchange::Capture() {
  uncaptured_ = false;
  // Everything the controls hold, read before the lock is taken.
  bool receiveEdited = controls_.receiveBox->Edited();
  std::string receiveText = receiveEdited ? controls_.receiveBox->Bytes() : std::string();
  // Nothing when the box holds what its encoding cannot carry (only code puts
  // such text there): the state keeps the text it had, never a replacement.
  std::optional<std::string> sendText = controls_.sendBox->TypedBytes();
  bool sendAsHex = controls_.sendAsHex->isChecked();
  bool hexDisplay = controls_.hexDisplay->isChecked();
  std::optional<int32_t> period = ParseInteger(LineText(controls_.period));
  bool timerSend = controls_.timerSend->isChecked();
  std::optional<double> interval = ParseDouble(LineText(controls_.interval));
  std::optional<uint32_t> rxCount = ParseUnsigned(LineText(controls_.rxCount));
  std::optional<uint32_t> txCount = ParseUnsigned(LineText(controls_.txCount));
  std::optional<double> average = ParseDouble(LineText(controls_.average));
  std::string frameEnd = LineText(controls_.frameEnd);
  bool replyAfterFrame = controls_.replyAfterFrame->isChecked();

  QWidget* failedControl = nullptr;
  const char* message = nullptr;
  auto fail = [&](QWidget* control, const char* text) {
    failedControl = control;
    message = text;
  };
  bool rulesChanged;
  {
    std::lock_guard guard(state_.lock);
    const FrameRules rulesBefore = state_.CurrentFrameRules();
    if (receiveEdited) {
      state_.receiveText = std::move(receiveText);
    } else {
      state_.receiveText = controls_.receiveBox->Shown();
    }
    if (sendText) state_.sendText = std::move(*sendText);
    state_.sendAsHex = sendAsHex;
    state_.hexDisplay = hexDisplay;
    [&] {
      if (!period) return fail(controls_.period, kPeriodNotIntegerMessage);
      state_.timerIntervalMs = *period;
      if (*period < 0 || *period > kMaxTimerPeriodMs) {
        return fail(controls_.period, kPeriodRangeMessage);
      }
      state_.timerSend = timerSend;

      QWidget* badCounter = nullptr;
      counters_.Update([&](CounterValues& values) {
        auto take = [&](auto& field, auto& shown, const auto& parsed, QWidget* box) {
          if (badCounter || field != shown) return;
          if (!parsed) {
            badCounter = box;
            return;
          }
          field = shown = *parsed;
        };
        take(values.lastIntervalMs, shown_.interval, interval, controls_.interval);
        take(values.rxCount, shown_.rxCount, rxCount, controls_.rxCount);
        take(values.txCount, shown_.txCount, txCount, controls_.txCount);
        take(values.averageMs, shown_.average, average, controls_.average);
      });
      if (badCounter) return fail(badCounter, kNotNumberMessage);

      state_.frameEndText = frameEnd;
      if (frameEnd.size() > kMaxFrameEndLength) {
        return fail(controls_.frameEnd, kFrameEndLengthMessage);
      }
      state_.replyAfterFrame = replyAfterFrame;
      state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
    }();
    rulesChanged = state_.CurrentFrameRules() != rulesBefore;
  }
  if (rulesChanged) state_.FrameRulesChanged();
  if (failedControl) return Fail(failedControl, message);
  return true;
}

void FormExchange::Publish() {
  enum class ReceiveUpdate { kNone, kAppend, kShow } receiveUpdate;
  std::string receiveText;  // the tail to append, or the whole text to show
  std::string sendText;
  bool sendAsHex, hexDisplay, timerSend, replyAfterFrame, rulesChanged;
  int32_t period;
  Shown shown;
  std::string frameEnd;
  {
    std::lock_guard guard(state_.lock);
    hexDisplay = state_.hexDisplay != 0;
    // Comparing is far cheaper than handing an unchanged log to the box again.
    if (!controls_.receiveBox->Edited() && state_.receiveText == controls_.receiveBox->Shown()) {
      receiveUpdate = ReceiveUpdate::kNone;
    } else if (controls_.receiveBox->CanAppend(state_.receiveText, hexDisplay)) {
      receiveUpdate = ReceiveUpdate::kAppend;
      receiveText = state_.receiveText.substr(controls_.receiveBox->Shown().size());
    } else {
      receiveUpdate = ReceiveUpdate::kShow;
      receiveText = state_.receiveText;
    }
    sendText = state_.sendText;
    sendAsHex = state_.sendAsHex != 0;
    period = state_.timerIntervalMs;
    timerSend = state_.timerSend != 0;
    CounterValues counters = counters_.Read();
    shown = {counters.lastIntervalMs, counters.rxCount, counters.txCount, counters.averageMs};
    frameEnd = state_.frameEndText;
    replyAfterFrame = state_.replyAfterFrame != 0;
    const FrameRules rulesBefore = state_.CurrentFrameRules();
    state_.frameEndByte = FrameEndByteOf(state_.frameEndText);
    rulesChanged = state_.CurrentFrameRules() != rulesBefore;
  }
  if (rulesChanged) state_.FrameRulesChanged();

  publishing_ = true;
  // The box shows the text from its first line after every publish.
  switch (receiveUpdate) {
    case ReceiveUpdate::kNone:
      controls_.receiveBox->ScrollToTop();
      break;
    case ReceiveUpdate::kAppend:
      controls_.receiveBox->Append(receiveText);
      break;
    case ReceiveUpdate::kShow:
      controls_.receiveBox->Show(receiveText, hexDisplay);
      break;
  }
  // An unchanged send box is left alone, so the caret of someone typing stays.
  if (controls_.sendBox->TypedBytes() != sendText) controls_.sendBox->SetBytes(sendText);
  controls_.sendAsHex->setChecked(sendAsHex);
  controls_.hexDisplay->setChecked(hexDisplay);
  SetLineText(controls_.period, QString::number(period));
  controls_.timerSend->setChecked(timerSend);
  SetLineText(controls_.interval, QString::fromStdString(FormatDouble(shown.interval)),
              &counterPacer_);
  SetLineText(controls_.rxCount, QString::number(shown.rxCount), &counterPacer_);
  SetLineText(controls_.txCount, QString::number(shown.txCount), &counterPacer_);
  SetLineText(controls_.average, QString::fromStdString(FormatDouble(shown.average)),
              &counterPacer_);
  shown_ = shown;
  controls_.frameEnd->setMaxLength(kMaxFrameEndLength);
  SetLineText(controls_.frameEnd, TextFromBytes(frameEnd));
  controls_.replyAfterFrame->setChecked(replyAfterFrame);
  publishing_ = false;
}

void FormExchange::ShowTxCount(uint32_t txCount) {
  publishing_ = true;
  SetLineText(controls_.txCount, QString::number(txCount), &counterPacer_);
  publishing_ = false;
  shown_.txCount = txCount;
}

HistoryEntry FormExchange::Contents() const {
  return {controls_.sendBox->TypedBytes().value_or(std::string()),
          controls_.sendAsHex->isChecked()};
}

void FormExchange::Put(const HistoryEntry& entry) {
  Capture();
  {
    std::lock_guard guard(state_.lock);
    state_.sendText = entry.text;
    state_.sendAsHex = entry.hex;
  }
  Publish();
}

QWidget* FormExchange::Widget() const {
  return controls_.sendBox;
}

}  // namespace quorvel
