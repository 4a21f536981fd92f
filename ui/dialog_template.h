// The main window's dialog template as data: every control in template order
// (which is also the tab order) with its rectangle in dialog units, and the
// conversion of dialog units to pixels through the dialog font.
#pragma once

#include <QFont>
#include <QRect>
#include <QSize>
#include <map>
#include <span>

class QWidget;

namespace quorvel {

enum ControlId : int {
  kNoControl = 0,  // labels and group boxes
  kSendButton = 1000,
  kOpenCloseButton = 1001,
  kSendBox = 1002,
  kReceiveBox = 1003,
  kPortSelector = 1005,
  kClearReceiveButton = 1006,
  kBaudSelector = 1007,
  kDataBitsSelector = 1008,
  kStopBitsSelector = 1009,
  kParitySelector = 1010,
  kFlowSelector = 1011,
  kEchoCheck = 1013,
  kHexDisplayCheck = 1014,
  kSendAsHexCheck = 1015,
  kTimerCheck = 1016,
  kPeriodBox = 1017,
  kIntervalBox = 1018,
  kTxBox = 1019,
  kRxBox = 1020,
  kResetButton = 1021,
  kReplyCheck = 1022,
  kAverageBox = 1023,
  kFrameEndBox = 1024,
};

enum class ControlKind {
  kPushButton,
  kCheckBox,
  kLabel,
  kGroupBox,
  kSelector,      // editable drop-down combo box; the height is its opened list's
  kEdit,          // single line
  kReadOnlyEdit,  // single line, shows a value
  kTextBox,       // multi-line byte text with a vertical scroll bar
  kLogBox,        // the same, showing the receive log
};

struct DluRect {
  int x, y, w, h;
};

struct ControlTemplate {
  ControlId id;
  ControlKind kind;
  const char* text;  // caption or label; for a text box its accessible name
  DluRect rect;
  ControlId labels = kNoControl;              // a label: the control it names
  std::span<const char* const> entries = {};  // a selector's entries from the template
};

inline constexpr QSize kMainDialogDlu{385, 267};

// The main window's controls in template order.
std::span<const ControlTemplate> MainDialogTemplate();

// The dialog font: "Arial" (Liberation Sans through fontconfig) at `points`.
QFont DialogFont(int points);

// Dialog units of a font: a horizontal unit is a quarter of the font's average
// character width, a vertical unit an eighth of its height.
class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

  // Corners are converted separately and rounded, so adjacent rectangles in
  // dialog units stay adjacent in pixels.
  QRect ToPixels(const DluRect& rect) const;
  QSize ToPixels(QSize size) const;
  int X(int dlu) const;
  int Y(int dlu) const;

  int BaseX() const { return baseX_; }
  int BaseY() const { return baseY_; }

 private:
  int baseX_;
  int baseY_;
};

// Creates every control of `dialogTemplate` as a child of `parent`, in order,
// places it, names it for assistive tools and chains the tab order. Returns the
// controls that have an id.
std::map<int, QWidget*> BuildControls(QWidget* parent,
                                      std::span<const ControlTemplate> dialogTemplate,
                                      const DialogUnits& units);

}  // namespace quorvel
