// Start-up of the window: lists, stored settings, the link opening on them,
// the focus; and the layout that the template table gives.
#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTest>

#include "link/line_settings.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/dialog_template.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::AnnouncedName;
using quorvel::testing::TerminalHarness;

class StartupTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void fillsTheSelectorLists();
  void appliesStoredSettingsAndOpensTheLinkOnThem();
  void startsFromDefaultsWithoutASettingsFile();
  void leavesASelectorEmptyForAPositionOutsideItsList();
  void reportsAPortThatCannotBeOpened();
  void startsWithTheFocusOnSend();
  void showsTheMappedDeviceAsThePortToolTip();
  void layoutFollowsTheTemplate();
  void tabOrderIsTheTemplateOrder();
  void everyControlHasAnAccessibleName();
  void buttonsAreAnnouncedByTheirCurrentText();
};

void StartupTest::fillsTheSelectorLists() {
  TerminalHarness harness;
  struct List {
    ControlId id;
    std::vector<std::string> entries;
  };
  const List lists[] = {
      {kPortSelector, PortEntries()},
      {kBaudSelector, BaudEntries()},
      {kDataBitsSelector, {std::begin(kDataBitsEntries), std::end(kDataBitsEntries)}},
      {kStopBitsSelector, {std::begin(kStopBitsEntries), std::end(kStopBitsEntries)}},
      {kParitySelector, {std::begin(kParityEntries), std::end(kParityEntries)}},
      {kFlowSelector, {std::begin(kFlowEntries), std::end(kFlowEntries)}},
  };
  for (const List& list : lists) {
    auto* selector = harness.Get<QComboBox>(list.id);
    QVERIFY(selector);
    QVERIFY(selector->isEditable());
    QCOMPARE(selector->count(), static_cast<int>(list.entries.size()));
    for (int i = 0; i < selector->count(); ++i) {
      QCOMPARE(selector->itemText(i), QString::fromStdString(list.entries[static_cast<size_t>(i)]));
    }
  }
  QCOMPARE(harness.Get<QComboBox>(kPortSelector)->itemText(254), QStringLiteral("COM255"));
}

void StartupTest::appliesStoredSettingsAndOpensTheLinkOnThem() {
  TerminalHarness harness(
      "[COMConfig]\nCOM=0\nBRATE=7\nBYTESIZE=2\nSTOPBITS=2\nPARITY=1\nFLOWCONTROL=2\n"
      "[RecvConfig]\nRECVHEX=1\n[SendConfig]\nSENDHEX=1\nTIMEGAP=250\nFRAMEEND=7e\n");
  MainWindow& window = harness.Window();
  LineSelection selection = window.CurrentSelection();
  QCOMPARE(selection.portPos, 0);
  QCOMPARE(selection.baudPos, 7);
  QCOMPARE(selection.dataBitsPos, 2);
  QCOMPARE(selection.stopBitsPos, 2);
  QCOMPARE(selection.parityPos, 1);
  QCOMPARE(selection.flowPos, 2);
  QVERIFY(harness.Get<QCheckBox>(kHexDisplayCheck)->isChecked());
  QVERIFY(harness.Get<QCheckBox>(kSendAsHexCheck)->isChecked());
  QCOMPARE(harness.Text(kPeriodBox), QStringLiteral("250"));
  QCOMPARE(harness.Text(kFrameEndBox), QStringLiteral("7e"));
  QCOMPARE(harness.Field([](TerminalState& s) { return s.frameEndByte; }), uint8_t{0x7e});
  QCOMPARE(harness.Field([](TerminalState& s) { return s.timerIntervalMs; }), 250);
  QCOMPARE(harness.Text(kSendBox), QString());
  QVERIFY(harness.Field([](TerminalState& s) { return s.sendText.empty(); }));

  QVERIFY(window.Link().Port().IsOpen());
  QVERIFY(window.Link().WorkerRunning());
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  // A pseudo-terminal keeps speed, stop bits and the parity kind; it always
  // reports 8 data bits and no parity checking.
  LineSnapshot line = harness.Device().Line();
  QCOMPARE(line.outputSpeed, 9600u);
  QVERIFY(line.twoStopBits);
  QVERIFY(line.parityOdd);
  QVERIFY(harness.Messages().isEmpty());
}

void StartupTest::startsFromDefaultsWithoutASettingsFile() {
  // Only the port map: every other key takes its default.
  TerminalHarness harness;
  LineSelection selection = harness.Window().CurrentSelection();
  QCOMPARE(selection.baudPos, 6);
  QCOMPARE(selection.dataBitsPos, 3);
  QCOMPARE(selection.parityPos, 2);
  QCOMPARE(harness.Text(kPeriodBox), QStringLiteral("80"));
  QCOMPARE(harness.Text(kFrameEndBox), QStringLiteral("00"));
  QVERIFY(!harness.Get<QCheckBox>(kHexDisplayCheck)->isChecked());
  LineSnapshot line = harness.Device().Line();
  QCOMPARE(line.outputSpeed, 7200u);
  QVERIFY(!line.twoStopBits);
  QVERIFY(!line.parityOdd);
}

void StartupTest::leavesASelectorEmptyForAPositionOutsideItsList() {
  TerminalHarness harness("[COMConfig]\nBRATE=99\nPARITY=-1\n");
  QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentIndex(), -1);
  QCOMPARE(harness.Get<QComboBox>(kParitySelector)->currentIndex(), -1);
  QCOMPARE(harness.Text(kBaudSelector), QString());
  // The link still opens; the device keeps the speed it had.
  QVERIFY(harness.Window().Link().Port().IsOpen());
}

void StartupTest::reportsAPortThatCannotBeOpened() {
  TerminalHarness harness("[COMConfig]\nCOM=4\n[PortMap]\nCOM5=/nonexistent/tty\n", 0);
  harness.Window();
  // Told once the window is up, so that the start holds nothing.
  QTRY_COMPARE(harness.Messages(), QStringList{QStringLiteral("Open com fail!")});
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QVERIFY(!harness.Window().Link().Port().IsOpen());
}

void StartupTest::startsWithTheFocusOnSend() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  QCOMPARE(QApplication::focusWidget(), harness.Window().Control(kSendButton));
}

void StartupTest::showsTheMappedDeviceAsThePortToolTip() {
  TerminalHarness harness("", 2);
  auto* port = harness.Get<QComboBox>(kPortSelector);
  QCOMPARE(port->toolTip(), QString::fromStdString(harness.Device(0).Path()));
  port->setCurrentIndex(1);
  QCOMPARE(port->toolTip(), QString::fromStdString(harness.Device(1).Path()));
  port->setCurrentIndex(6);
  QCOMPARE(port->toolTip(), QStringLiteral("/dev/ttyS6"));
}

void StartupTest::layoutFollowsTheTemplate() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  DialogUnits units(window.font());
  QVERIFY(QFontInfo(window.font()).pointSize() == 9);
  // The menu bar, the template's area below it, and the status line below
  // that: the window's minimum, and the size it opens with.
  QSize templateSize = units.ToPixels(kMainDialogDlu);
  QMenuBar* bar = window.findChild<QMenuBar*>();
  QVERIFY(bar->height() > 0);
  QCOMPARE(bar->geometry(), QRect(0, 0, window.width(), bar->height()));
  QCOMPARE(window.minimumSize(), QSize(templateSize.width(), bar->height() + templateSize.height() +
                                                                 window.Status()->height()));
  QCOMPARE(window.size(), window.minimumSize());
  QCOMPARE(window.Status()->y(), bar->height() + templateSize.height());
  for (const ControlTemplate& item : MainDialogTemplate()) {
    if (item.id == kNoControl) continue;
    QWidget* control = window.Control(item.id);
    QVERIFY2(control, qPrintable(QString::number(item.id)));
    QRect expected = units.ToPixels(item.rect);
    QPoint at = control->mapTo(&window, QPoint(0, 0));
    QCOMPARE(at, expected.topLeft() + QPoint(0, bar->height()));
    QCOMPARE(control->width(), expected.width());
    // A selector's template height is its opened list's.
    if (item.kind != ControlKind::kSelector) QCOMPARE(control->height(), expected.height());
  }
  // No label clips its text.
  for (QLabel* label : window.findChildren<QLabel*>()) {
    QVERIFY2(label->width() >= label->fontMetrics().horizontalAdvance(label->text()),
             qPrintable(label->text()));
  }
}

void StartupTest::tabOrderIsTheTemplateOrder() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  std::vector<QWidget*> expected;
  for (const ControlTemplate& item : MainDialogTemplate()) {
    if (item.id != kNoControl) expected.push_back(window.Control(item.id));
  }
  // Walk the focus chain once round; a control's inner parts (a combo box's
  // line edit, a text box's viewport) count as the control.
  std::vector<QWidget*> order;
  QWidget* at = expected.front();
  do {
    for (QWidget* control : expected) {
      if (control == at || control->isAncestorOf(at)) {
        if (order.empty() || order.back() != control) order.push_back(control);
        break;
      }
    }
    at = at->nextInFocusChain();
  } while (at != expected.front());
  QCOMPARE(order.size(), expected.size());
  for (size_t i = 0; i < order.size(); ++i)
    QCOMPARE(order[i]->objectName(), expected[i]->objectName());
}

void StartupTest::everyControlHasAnAccessibleName() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  const std::pair<ControlId, const char*> names[] = {
      {kSendButton, "Send"},
      {kSendBox, "Send box"},
      {kReceiveBox, "Receive box"},
      {kPortSelector, "COM number:"},
      {kBaudSelector, "Baud rate:"},
      {kDataBitsSelector, "Data bits:"},
      {kStopBitsSelector, "Stop bits:"},
      {kParitySelector, "Parity:"},
      {kFlowSelector, "Flow control:"},
      {kEchoCheck, "Send received frame"},
      {kTimerCheck, "Send with timer"},
      {kPeriodBox, "Timer"},
      {kIntervalBox, "Interval of send - ack:"},
      {kTxBox, "Count TX:"},
      {kRxBox, "RX:"},
      {kAverageBox, "Average:"},
      {kFrameEndBox, "Frame rear char 0x"},
      {kReplyCheck, "Send after receive frame"},
      {kResetButton, "Reset cnt"},
  };
  for (auto [id, name] : names) {
    // A selector announces its entry as its name; its label is the widget's own name.
    QWidget* control = window.Control(id);
    QCOMPARE(qobject_cast<QComboBox*>(control) ? control->accessibleName() : AnnouncedName(control),
             QString::fromLatin1(name));
  }
  for (const ControlTemplate& item : MainDialogTemplate()) {
    if (item.id != kNoControl) {
      QVERIFY2(!AnnouncedName(window.Control(item.id)).isEmpty(),
               qPrintable(QString::number(item.id)));
    }
  }
  // Each selector is labelled by its label and described by it; the port
  // selector is described by the device behind the chosen number.
  QCOMPARE(window.Control(kPortSelector)->accessibleDescription(),
           QString::fromStdString(harness.Device().Path()));
  for (ControlId id : {kPortSelector, kBaudSelector, kDataBitsSelector, kStopBitsSelector,
                       kParitySelector, kFlowSelector}) {
    QWidget* selector = window.Control(id);
    if (id != kPortSelector) {
      QCOMPARE(selector->accessibleDescription(), selector->accessibleName());
    }
    bool labelled = false;
    for (QLabel* label : window.findChildren<QLabel*>()) {
      if (label->buddy() == selector) labelled = label->text() == selector->accessibleName();
    }
    QVERIFY2(labelled, qPrintable(selector->accessibleName()));
  }
}

void StartupTest::buttonsAreAnnouncedByTheirCurrentText() {
  // COM5 cannot be opened, so the window starts after a failed open.
  TerminalHarness harness("[COMConfig]\nCOM=4\n[PortMap]\nCOM5=/nonexistent/tty\n");
  MainWindow& window = harness.Window();
  struct Step {
    const char* what;
    std::function<void()> act;
    const char* caption;
    const char* link;
  };
  const Step steps[] = {
      {"failed open", [] {}, "Open com", "/nonexistent/tty closed"},
      {"open", [&] { harness.Choose(kPortSelector, 0), harness.Click(kOpenCloseButton); },
       "Close com", nullptr},
      {"close", [&] { harness.Click(kOpenCloseButton); }, "Open com", nullptr},
  };
  for (const Step& step : steps) {
    step.act();
    QCOMPARE(harness.Text(kOpenCloseButton), QString::fromLatin1(step.caption));
    QVERIFY2(AnnouncedName(window.Control(kOpenCloseButton)) == QString::fromLatin1(step.caption),
             step.what);
    QLabel* link = window.Status()->Label(StatusLine::Field::kLink);
    QVERIFY2(AnnouncedName(link).endsWith(link->text()), step.what);
    if (step.link) QCOMPARE(link->text(), QString::fromLatin1(step.link));
    for (ControlId id : {kSendButton, kResetButton, kClearReceiveButton, kEchoCheck, kTimerCheck,
                         kReplyCheck, kSendAsHexCheck, kHexDisplayCheck}) {
      auto* button = harness.Get<QAbstractButton>(id);
      QCOMPARE(AnnouncedName(button), QString(button->text()).remove(QLatin1Char('&')));
    }
  }
}

QTEST_MAIN(StartupTest)
#include "startup_test.moc"
