#include "ui/dialog_template.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QStyle>
#include <QStyleFactory>
#include <algorithm>
#include <vector>

#include "link/line_settings.h"
#include "ui/byte_text_box.h"
#include "ui/receive_box.h"

namespace quorvel {
namespace {

using enum ControlKind;

// Template 102. The six selectors' heights are those of their opened lists.
constexpr ControlTemplate kMainDialog[] = {
    {kSendButton, kPushButton, "Send", {335, 204, 43, 41}},
    {kOpenCloseButton, kPushButton, "Open COM", {33, 100, 49, 14}},
    {kSendBox, kTextBox, "Send box", {119, 205, 212, 41}},
    {kReceiveBox, kLogBox, "Receive box", {119, 7, 257, 194}},
    {kPortSelector, kSelector, "", {61, 14, 48, 63}},
    {kNoControl, kLabel, "COM number:", {13, 17, 47, 8}, kPortSelector},
    {kNoControl, kGroupBox, "Serial setting", {7, 7, 109, 111}},
    {kNoControl, kLabel, "Baud rate:", {13, 31, 45, 8}, kBaudSelector},
    {kNoControl, kLabel, "Data bits:", {13, 45, 47, 8}, kDataBitsSelector},
    {kNoControl, kLabel, "Stop bits:", {13, 59, 43, 8}, kStopBitsSelector},
    {kNoControl, kLabel, "Parity:", {13, 73, 40, 8}, kParitySelector},
    {kNoControl, kLabel, "Flow control:", {13, 87, 43, 8}, kFlowSelector},
    {kBaudSelector, kSelector, "", {61, 28, 48, 124}},
    {kDataBitsSelector, kSelector, "", {61, 42, 48, 103}, kNoControl, kDataBitsEntries},
    {kStopBitsSelector, kSelector, "", {61, 56, 48, 103}, kNoControl, kStopBitsEntries},
    {kParitySelector, kSelector, "", {61, 70, 48, 121}},
    {kFlowSelector, kSelector, "", {61, 84, 48, 119}},
    {kClearReceiveButton, kPushButton, "Clear receive", {33, 143, 49, 14}},
    {kEchoCheck, kCheckBox, "Send received frame", {13, 209, 92, 10}},
    {kNoControl, kGroupBox, "Receive setting", {7, 120, 109, 41}},
    {kNoControl, kGroupBox, "Send setting", {7, 161, 109, 85}},
    {kHexDisplayCheck, kCheckBox, "Hex display", {13, 131, 64, 10}},
    {kSendAsHexCheck, kCheckBox, "Send as Hex", {13, 171, 72, 10}},
    {kNoControl, kLabel, "Frame rear char 0x", {13, 222, 61, 9}, kFrameEndBox},
    {kTimerCheck, kCheckBox, "Send with timer", {13, 184, 69, 10}},
    {kNoControl, kLabel, "Timer", {13, 197, 19, 9}, kPeriodBox},
    {kPeriodBox, kEdit, "", {35, 195, 33, 12}},
    {kNoControl, kLabel, "(ms)", {72, 196, 19, 9}},
    {kNoControl, kLabel, "Interval of send - ack:", {9, 249, 66, 9}, kIntervalBox},
    {kIntervalBox, kReadOnlyEdit, "", {82, 248, 31, 12}},
    {kNoControl, kLabel, "(ms)", {120, 249, 16, 9}},
    {kNoControl, kLabel, "Count TX:", {224, 248, 31, 12}, kTxBox},
    {kTxBox, kReadOnlyEdit, "", {257, 248, 33, 12}},
    {kNoControl, kLabel, "RX:", {294, 248, 14, 12}, kRxBox},
    {kRxBox, kReadOnlyEdit, "", {308, 248, 33, 12}},
    {kResetButton, kPushButton, "Reset cnt", {342, 248, 34, 12}},
    {kAverageBox, kReadOnlyEdit, "", {168, 248, 28, 12}},
    {kNoControl, kLabel, "Average:", {138, 249, 26, 9}, kAverageBox},
    {kNoControl, kLabel, "(ms)", {204, 250, 16, 9}},
    {kFrameEndBox, kEdit, "", {79, 220, 33, 12}},
    {kReplyCheck, kCheckBox, "Send after receive frame", {13, 234, 89, 10}},
};

// A closed selector is as high as a single-line edit of the template.
constexpr int kClosedSelectorDlu = 12;

// A read-only box that shows a value has the window's colour behind it, in
// whatever palette the desktop has now: a switch to a dark theme brings the
// new window colour, so the value never stands light on light.
class ValueBox : public QLineEdit {
 public:
  explicit ValueBox(QWidget* parent) : QLineEdit(parent) {
    setReadOnly(true);
    FollowWindowColour();
  }

 protected:
  void changeEvent(QEvent* event) override {
    QLineEdit::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) FollowWindowColour();
  }

 private:
  void FollowWindowColour() {
    QColor window = palette().color(QPalette::Window);
    if (palette().color(QPalette::Base) == window) return;  // also ends the change it makes
    // Only the base is the box's own; every other role still follows the
    // window's palette.
    QPalette own;
    own.setColor(QPalette::Base, window);
    setPalette(own);
  }
};

int MulDiv(int value, int numerator, int denominator) {
  long long product = static_cast<long long>(value) * numerator;
  long long half = denominator / 2;
  return static_cast<int>(product >= 0 ? (product + half) / denominator
                                       : (product - half) / denominator);
}

QWidget* CreateControl(QWidget* parent, const ControlTemplate& entry) {
  QString text = QString::fromLatin1(entry.text);
  switch (entry.kind) {
    case kPushButton: {
      auto* button = new QPushButton(text, parent);
      // No default button: Enter clicks only the button that has the focus
      // (the window does that), so Enter in a box or on a check box does nothing.
      button->setAutoDefault(false);
      button->setDefault(false);
      return button;
    }
    case kCheckBox:
      return new QCheckBox(text, parent);
    case kLabel: {
      auto* label = new QLabel(text, parent);
      label->setTextFormat(Qt::PlainText);
      label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
      return label;
    }
    case kGroupBox: {
      auto* group = new QGroupBox(text, parent);
      // The classic style puts the title on the frame's top line, as the
      // template's rectangles expect; others put it above and crowd the
      // first control.
      static QStyle* const classic = QStyleFactory::create(QStringLiteral("Windows"));
      if (classic) group->setStyle(classic);
      return group;
    }
    case kSelector: {
      auto* selector = new QComboBox(parent);
      selector->setEditable(true);
      // Typed text is never added, and entries stay in the order they were
      // appended; the program reads only the selected position.
      selector->setInsertPolicy(QComboBox::NoInsert);
      selector->setDuplicatesEnabled(true);
      for (const char* item : entry.entries) selector->addItem(QString::fromLatin1(item));
      return selector;
    }
    case kEdit:
      return new QLineEdit(parent);
    case kReadOnlyEdit:
      return new ValueBox(parent);
    case kTextBox:
      return new ByteTextBox(parent);
    case kLogBox:
      return new ReceiveBox(parent);
  }
  return nullptr;
}

void Place(QWidget* widget, const ControlTemplate& entry, const DialogUnits& units) {
  if (entry.kind == kLabel) {
    // A label never clips its text: where the font runs a little wider than
    // the template allowed, it grows to the right (no label has a neighbour
    // that close).
    QRect rect = units.ToPixels(entry.rect);
    rect.setWidth(std::max(rect.width(), widget->sizeHint().width()));
    widget->setGeometry(rect);
    return;
  }
  if (entry.kind != kSelector) {
    widget->setGeometry(units.ToPixels(entry.rect));
    return;
  }
  DluRect closed{entry.rect.x, entry.rect.y, entry.rect.w, kClosedSelectorDlu};
  QRect closedRect = units.ToPixels(closed);
  widget->setGeometry(closedRect);
  // The template's height is the opened list's: as many rows as fit below.
  auto* selector = static_cast<QComboBox*>(widget);
  int listHeight = units.ToPixels(entry.rect).height() - closedRect.height();
  int rowHeight =
      std::max(1, selector->view()->sizeHintForRow(0) > 0 ? selector->view()->sizeHintForRow(0)
                                                          : selector->fontMetrics().height() + 2);
  selector->setMaxVisibleItems(std::max(1, listHeight / rowHeight));
}

}  // namespace

std::span<const ControlTemplate> MainDialogTemplate() {
  return kMainDialog;
}

QFont DialogFont(int points) {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(points);
  font.setStyleHint(QFont::SansSerif);
  return font;
}

DialogUnits::DialogUnits(const QFont& font) {
  QFontMetrics metrics(font);
  // The average width of the 52 letters, rounded as the dialog manager does.
  int letters = metrics.horizontalAdvance(
      QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = std::max(1, (letters / 26 + 1) / 2);
  baseY_ = std::max(1, metrics.height());
}

int DialogUnits::X(int dlu) const {
  return MulDiv(dlu, baseX_, 4);
}
int DialogUnits::Y(int dlu) const {
  return MulDiv(dlu, baseY_, 8);
}

QRect DialogUnits::ToPixels(const DluRect& rect) const {
  int left = X(rect.x);
  int top = Y(rect.y);
  return QRect(left, top, X(rect.x + rect.w) - left, Y(rect.y + rect.h) - top);
}

QSize DialogUnits::ToPixels(QSize size) const {
  return QSize(X(size.width()), Y(size.height()));
}

std::map<int, QWidget*> BuildControls(QWidget* parent,
                                      std::span<const ControlTemplate> dialogTemplate,
                                      const DialogUnits& units) {
  std::map<int, QWidget*> controls;
  std::vector<std::pair<QWidget*, const ControlTemplate*>> created;
  QWidget* previousInTabOrder = nullptr;
  for (const ControlTemplate& entry : dialogTemplate) {
    QWidget* widget = CreateControl(parent, entry);
    Place(widget, entry, units);
    created.emplace_back(widget, &entry);
    if (entry.id != kNoControl) {
      widget->setObjectName(QStringLiteral("control%1").arg(static_cast<int>(entry.id)));
      controls[entry.id] = widget;
    }
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previousInTabOrder) QWidget::setTabOrder(previousInTabOrder, widget);
      previousInTabOrder = widget;
    }
  }
  for (auto [widget, entry] : created) {
    switch (entry->kind) {
      case kGroupBox:
        // A group box only frames its neighbours; below them it never takes
        // their clicks.
        widget->lower();
        break;
      case kLabel:
        if (auto named = controls.find(entry->labels); named != controls.end()) {
          QString label = QString::fromLatin1(entry->text);
          static_cast<QLabel*>(widget)->setBuddy(named->second);
          named->second->setAccessibleName(label);
          // A combo box is announced by its current entry; the description
          // still tells what it chooses.
          if (qobject_cast<QComboBox*>(named->second))
            named->second->setAccessibleDescription(label);
        }
        break;
      case kTextBox:
      case kLogBox:
        widget->setAccessibleName(QString::fromLatin1(entry->text));
        break;
      case kPushButton:
      case kCheckBox:
        // No name of their own: a button is announced by the text it shows
        // now, which for the Open/Close button changes with the link.
        break;
      default:
        break;
    }
  }
  return controls;
}

}  // namespace quorvel
