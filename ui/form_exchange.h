// The form exchange: copies the bound fields of the terminal state between the
// state and the window's controls, in one of two directions.
//
// Capture (controls to fields) takes, in this order: the receive and send
// texts (the send box's in its encoding; a text it cannot carry leaves the
// field as it was), "Send as Hex", "Hex display", the timer period (an
// integer, then the check 0 to 65,536), "Send with timer", the interval, RX
// and TX counts and the average, the frame-end text (then the check of at
// most 2 characters) and "Send after receive frame"; finally frameEndByte
// from the frame-end text. A failed check shows one modal message, puts the
// focus on its control and ends the exchange there: a value read and then
// rejected is already in its field, a text that is no number leaves its field
// unchanged, every later field keeps its value and frameEndByte is not
// recomputed.
//
// Publish (fields to controls) shows the same fields in the same order and
// then recomputes frameEndByte too; it cannot fail.
//
// UI thread only. The state's lock is taken only around the field copies; the
// controls are read before and written after, and the message is shown with
// the lock released.
#pragma once

#include <QString>
#include <atomic>
#include <cstdint>
#include <optional>
#include <string>

#include "core/link_counters.h"
#include "core/terminal_state.h"
#include "ui/repaint_pacer.h"
#include "ui/send_box.h"

class QCheckBox;
class QLineEdit;
class QWidget;

namespace quorvel {

class ByteTextBox;
class ReceiveBox;

struct FormControls {
  ReceiveBox* receiveBox;
  ByteTextBox* sendBox;
  QCheckBox* sendAsHex;
  QCheckBox* hexDisplay;
  QLineEdit* period;
  QCheckBox* timerSend;
  QLineEdit* interval;
  QLineEdit* rxCount;
  QLineEdit* txCount;
  QLineEdit* average;
  QLineEdit* frameEnd;
  QCheckBox* replyAfterFrame;
};

inline constexpr int32_t kMaxTimerPeriodMs = 65536;
inline constexpr int kMaxFrameEndLength = 2;

// The validation messages.
extern const char kPeriodNotIntegerMessage[];
extern const char kPeriodRangeMessage[];
extern const char kFrameEndLengthMessage[];

class FormExchange : public SendBox {
 public:
  // `counters` are the counters of the state's line.
  FormExchange(TerminalState& state, LinkCounters& counters, const FormControls& controls);

  // Controls to fields; false when a check failed (its message was shown).
  bool Capture();

  // Fields to controls.
  void Publish();

  // Shows `txCount` in the TX box at once, outside an exchange.
  void ShowTxCount(uint32_t txCount);

  // Any thread: whether a control changed other than by a publish since the
  // last call, so that a capture may find something new; clears the mark.
  // Set at first, so the first burst captures. The receive worker asks it
  // before every burst.
  bool TakeCaptureDue() { return captureDue_.exchange(false); }

  // Captures when a control changed since the last capture. A publish runs
  // it first, or it would put the state's older values over what the user
  // typed since.
  void CaptureIfEdited();

  // SendBox. Put runs a capture (whatever its outcome), puts the entry into
  // the state and publishes it.
  HistoryEntry Contents() const override;
  void Put(const HistoryEntry& entry) override;
  QWidget* Widget() const override;

 private:
  // What the read-only boxes last showed: the field's value at that moment.
  // A capture reads a box back only while its field still holds that value;
  // a field the worker changed since (a burst counted between its two
  // refreshes, a transmission not yet shown) keeps its newer value instead of
  // being set back to the older text.
  struct Shown {
    double interval = 0;
    uint32_t rxCount = 0;
    uint32_t txCount = 0;
    double average = 0;
  };

  bool Fail(QWidget* control, const char* message);
  // Marks every change of a bound control that does not come from a publish.
  void WatchEdits();

  TerminalState& state_;
  LinkCounters& counters_;
  FormControls controls_;
  RepaintPacer counterPacer_{nullptr};  // the counters change with every burst
  Shown shown_;
  std::atomic<bool> captureDue_{true};  // for the worker
  bool uncaptured_ = false;             // for the UI thread: an edit no capture took yet
  bool publishing_ = false;             // the controls change because of a publish
};

}  // namespace quorvel
