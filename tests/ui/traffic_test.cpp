// Traffic through the window: the send paths as the device sees them, the
// automatic modes and their interlocks, refreshes while data arrives, the
// receive box, the counters, and line settings reaching the line.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <thread>

#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

std::vector<uint8_t> Bytes(std::string_view text) {
  return {text.begin(), text.end()};
}

}  // namespace

class TrafficTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void sendsALineBreakAsCrLf();
  void sendsHexAndShowsTheTxCount();
  void sendsOnTheTimerUntilSwitchedOff();
  void timerKeepsItsPeriodUntilRestarted();
  void timerPeriodFollowsThePlatform_data();
  void timerPeriodFollowsThePlatform();
  void echoesFramesFromTheDevice();
  void repliesToFramesFromTheDevice();
  void modesExcludeEachOther_data();
  void modesExcludeEachOther();
  void typedTextSurvivesRefreshes();
  void showsReceivedBytesAsLatin1();
  void hexDisplayChangesAtTheNextBurst();
  void showsTheReceiveBoxFromItsFirstLine();
  void clearReceiveEmptiesTheLogButKeepsTheCount();
  void resetCountersKeepsTheInterval();
  void lineSettingsReachTheLineAtOnce();
  void keyboardChoiceReachesTheLine();
  void portChangeMovesTheLink();
  void openCloseTogglesTheLink();
  void workerNewsIsShownOnTheUiThread();
};

void TrafficTest::sendsALineBreakAsCrLf() {
  TerminalHarness harness;
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  QTest::keyClicks(sendBox, QStringLiteral("AB"));
  QTest::keyClick(sendBox, Qt::Key_Return, Qt::ControlModifier);
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 4), (std::vector<uint8_t>{0x41, 0x42, 0x0d, 0x0a}));
  QTRY_COMPARE(harness.Text(kTxBox), QStringLiteral("4"));
}

void TrafficTest::sendsHexAndShowsTheTxCount() {
  TerminalHarness harness;
  harness.Window();
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("01 03 00 00 00 0A C5 CD"));
  harness.Click(kSendAsHexCheck);
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 8),
           (std::vector<uint8_t>{0x01, 0x03, 0x00, 0x00, 0x00, 0x0a, 0xc5, 0xcd}));
  QTRY_COMPARE(harness.Text(kTxBox), QStringLiteral("8"));
  QCOMPARE(harness.Counters().sendCount, 1u);
}

void TrafficTest::sendsOnTheTimerUntilSwitchedOff() {
  TerminalHarness harness;
  harness.Window();
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("T"));
  harness.Type(kPeriodBox, QStringLiteral("10"));
  harness.Click(kTimerCheck);
  QVERIFY(harness.Window().SendTimer().isActive());
  QCOMPARE(harness.Receive(0, 3), Bytes("TTT"));
  harness.Click(kTimerCheck);
  QVERIFY(!harness.Window().SendTimer().isActive());
  harness.Drain(0, std::chrono::milliseconds(30));  // what was under way
  QVERIFY(harness.Drain(0, std::chrono::milliseconds(50)).empty());
}

void TrafficTest::timerKeepsItsPeriodUntilRestarted() {
  TerminalHarness harness;
  const QTimer& timer = harness.Window().SendTimer();
  harness.Type(kPeriodBox, QStringLiteral("500"));
  harness.Click(kTimerCheck);
  QCOMPARE(timer.interval(), 500);
  harness.Type(kPeriodBox, QStringLiteral("700"));
  harness.Click(kResetButton);  // captures the new period
  QCOMPARE(harness.Field([](TerminalState& s) { return s.timerIntervalMs; }), 700);
  QCOMPARE(timer.interval(), 500);
  harness.Click(kTimerCheck);
  harness.Click(kTimerCheck);
  QCOMPARE(timer.interval(), 700);
  // A period out of range is reported and still used, as it was read.
  harness.Click(kTimerCheck);
  harness.Type(kPeriodBox, QStringLiteral("70000"));
  harness.Click(kTimerCheck);
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(timer.isActive());
  QCOMPARE(timer.interval(), 70000);
  harness.Click(kTimerCheck);
}

void TrafficTest::timerPeriodFollowsThePlatform_data() {
  QTest::addColumn<int>("requested");
  QTest::addColumn<int>("runs");
  QTest::newRow("zero") << 0 << 10;
  QTest::newRow("below shortest") << 9 << 10;
  QTest::newRow("shortest") << 10 << 10;
  QTest::newRow("ordinary") << 80 << 80;
  QTest::newRow("highest accepted") << 65536 << 65536;
  QTest::newRow("negative never fires") << -1 << std::numeric_limits<int>::max();
}

void TrafficTest::timerPeriodFollowsThePlatform() {
  QFETCH(int, requested);
  QFETCH(int, runs);
  QCOMPARE(PlatformTimerPeriod(requested), runs);
}

void TrafficTest::echoesFramesFromTheDevice() {
  TerminalHarness harness;
  harness.Window();
  harness.Type(kFrameEndBox, QStringLiteral("0d"));
  harness.Click(kEchoCheck);
  QCOMPARE(harness.Field([](TerminalState& s) { return s.echoFrame; }), true);
  harness.Device().Send(std::string("ab\r"));
  QCOMPARE(harness.Receive(0, 3), Bytes("ab\r"));
  // The worker set the TX box from its own thread.
  QTRY_COMPARE(harness.Text(kTxBox), QStringLiteral("3"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("3"));
}

void TrafficTest::repliesToFramesFromTheDevice() {
  TerminalHarness harness("[SendConfig]\nFRAMEEND=0a\n");
  harness.Window();
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("OK"));
  harness.Click(kReplyCheck);
  harness.Device().Send(std::string("x\n"));
  QCOMPARE(harness.Receive(0, 2), Bytes("OK"));
  harness.Device().Send(std::string("1\n"));
  QCOMPARE(harness.Receive(0, 2), Bytes("OK"));
  QTRY_COMPARE(harness.Text(kTxBox), QStringLiteral("4"));
}

void TrafficTest::modesExcludeEachOther_data() {
  QTest::addColumn<int>("mode");
  QTest::addColumn<int>("other1");
  QTest::addColumn<int>("other2");
  QTest::newRow("echo") << int(kEchoCheck) << int(kTimerCheck) << int(kReplyCheck);
  QTest::newRow("auto-reply") << int(kReplyCheck) << int(kTimerCheck) << int(kEchoCheck);
  QTest::newRow("timer") << int(kTimerCheck) << int(kEchoCheck) << int(kReplyCheck);
}

void TrafficTest::modesExcludeEachOther() {
  QFETCH(int, mode);
  QFETCH(int, other1);
  QFETCH(int, other2);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  auto modes = [&] {
    return harness.Field([](TerminalState& s) {
      return std::tuple(s.echoFrame, s.replyAfterFrame != 0, s.timerSend != 0);
    });
  };
  harness.Click(ControlId(mode));
  QVERIFY(!window.Control(ControlId(other1))->isEnabled());
  QVERIFY(!window.Control(ControlId(other2))->isEnabled());
  QVERIFY(window.Control(kSendButton)->isEnabled());
  // A disabled mode cannot be switched on.
  auto before = modes();
  harness.Click(ControlId(other1));
  harness.Click(ControlId(other2));
  QCOMPARE(modes(), before);
  QCOMPARE(int(std::get<0>(before)) + int(std::get<1>(before)) + int(std::get<2>(before)), 1);
  // "Send" works in every mode.
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("S"));
  harness.Click(kSendButton);
  QVERIFY(!harness.Receive(0, 1).empty());

  harness.Click(ControlId(mode));
  QVERIFY(window.Control(ControlId(other1))->isEnabled());
  QVERIFY(window.Control(ControlId(other2))->isEnabled());
  QCOMPARE(modes(), std::tuple(false, false, false));
  QVERIFY(!window.SendTimer().isActive());
}

void TrafficTest::typedTextSurvivesRefreshes() {
  TerminalHarness harness;
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  QTest::keyClicks(sendBox, QStringLiteral("hel"));
  for (int burst = 1; burst <= 3; ++burst) {
    harness.Device().Send(std::string("data"));
    QTRY_COMPARE(harness.Text(kRxBox), QString::number(4 * burst));
    QTest::keyClicks(sendBox, burst == 1 ? QStringLiteral("lo") : QString());
  }
  QCOMPARE(sendBox->toPlainText(), QStringLiteral("hello"));
  QCOMPARE(sendBox->textCursor().position(), 5);
  QCOMPARE(harness.Field([](TerminalState& s) { return s.sendText; }), std::string("hello"));
}

void TrafficTest::showsReceivedBytesAsLatin1() {
  TerminalHarness harness;
  harness.Window();
  harness.Device().Send(std::vector<uint8_t>{'A', 0xe9, 0x00, 'B', '\r', '\n', 'C'});
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("7"));
  // Zero bytes are left out; CR LF is one line break.
  QCOMPARE(harness.Text(kReceiveBox), QStringLiteral("A\u00e9B\nC"));
  QCOMPARE(harness.Field([](TerminalState& s) { return s.receiveText; }), std::string("A\xe9"
                                                                                      "B\r\nC"));
}

void TrafficTest::hexDisplayChangesAtTheNextBurst() {
  TerminalHarness harness;
  harness.Window();
  harness.Device().Send(std::string("AB"));
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("AB"));
  harness.Click(kHexDisplayCheck);
  QCOMPARE(harness.Text(kReceiveBox), QStringLiteral("AB"));
  harness.Device().Send(std::vector<uint8_t>{0x01, 0xab});
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("41 42 01 ab "));
}

void TrafficTest::showsTheReceiveBoxFromItsFirstLine() {
  TerminalHarness harness;
  auto* receiveBox = harness.Get<ByteTextBox>(kReceiveBox);
  std::string lines;
  for (int i = 0; i < 100; ++i) lines += "line " + std::to_string(i) + "\r\n";
  harness.Device().Send(lines);
  QTRY_COMPARE(harness.Text(kRxBox), QString::number(lines.size()));
  QScrollBar* scroll = receiveBox->verticalScrollBar();
  QVERIFY(scroll->maximum() > 0);
  QCOMPARE(scroll->value(), 0);
  scroll->setValue(scroll->maximum());
  harness.Device().Send(std::string("more\r\n"));
  QTRY_COMPARE(harness.Text(kRxBox), QString::number(lines.size() + 6));
  QCOMPARE(scroll->value(), 0);
}

void TrafficTest::clearReceiveEmptiesTheLogButKeepsTheCount() {
  TerminalHarness harness;
  harness.Window();
  harness.Device().Send(std::string("abc"));
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("abc"));
  harness.Click(kClearReceiveButton);
  QCOMPARE(harness.Text(kReceiveBox), QString());
  QCOMPARE(harness.Text(kRxBox), QStringLiteral("3"));
  QCOMPARE(harness.Field([](TerminalState& s) { return s.rxLength; }), 0);
  harness.Device().Send(std::string("d"));
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("d"));
  QCOMPARE(harness.Text(kRxBox), QStringLiteral("4"));
}

void TrafficTest::resetCountersKeepsTheInterval() {
  TerminalHarness harness;
  harness.Window();
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("?"));
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 1), Bytes("?"));
  harness.Device().Send(std::string("!!"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("2"));
  QString interval = harness.Text(kIntervalBox);
  QVERIFY(interval != QStringLiteral("0"));
  QVERIFY(harness.Text(kAverageBox) != QStringLiteral("0"));
  harness.Click(kResetButton);
  QCOMPARE(harness.Text(kTxBox), QStringLiteral("0"));
  QCOMPARE(harness.Text(kRxBox), QStringLiteral("0"));
  QCOMPARE(harness.Text(kAverageBox), QStringLiteral("0"));
  QCOMPARE(harness.Text(kIntervalBox), interval);
  QCOMPARE(harness.Counters().sendCount, 0u);
}

void TrafficTest::lineSettingsReachTheLineAtOnce() {
  TerminalHarness harness;
  harness.Window();
  harness.Choose(kBaudSelector, 15);
  QCOMPARE(harness.Device().Line().outputSpeed, 115200u);
  // A pseudo-terminal shows the parity kind but not the data bits.
  harness.Choose(kParitySelector, 3);
  QVERIFY(harness.Device().Line().parityOdd);
  QVERIFY(harness.Device().Line().parityMarkSpace);
  harness.Choose(kStopBitsSelector, 2);
  QVERIFY(harness.Device().Line().twoStopBits);
  harness.Choose(kFlowSelector, 2);
  QVERIFY(harness.Device().Line().hardwareFlow);
  QVERIFY(!harness.Device().Line().softwareFlow);
  QCOMPARE(harness.Window().Status()->Text(StatusLine::Field::kFlow),
           QStringLiteral("flow: RTS/CTS"));
}

void TrafficTest::keyboardChoiceReachesTheLine() {
  TerminalHarness harness;
  QVERIFY(harness.ShowActive());
  auto* baud = harness.Get<QComboBox>(kBaudSelector);
  baud->setFocus();
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
  QCOMPARE(baud->currentIndex(), 7);
  QCOMPARE(harness.Device().Line().outputSpeed, 9600u);
}

void TrafficTest::portChangeMovesTheLink() {
  TerminalHarness harness("", 2);
  harness.Window();
  harness.Choose(kPortSelector, 1);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("Z"));
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(1, 1), Bytes("Z"));
  harness.Device(1).Send(std::string("from 2"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("6"));
  QVERIFY(harness.Drain(0, std::chrono::milliseconds(20)).empty());
  QVERIFY(!harness.Window().Link().Hub().workersOverlapped.load());
  // A port that cannot be opened leaves the link closed.
  harness.Choose(kPortSelector, 200);
  QCOMPARE(harness.Messages(), QStringList{QStringLiteral("Open com fail!")});
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  // With the link closed, a change of port opens nothing.
  harness.Choose(kPortSelector, 0);
  QVERIFY(!harness.Window().Link().Port().IsOpen());
}

void TrafficTest::openCloseTogglesTheLink() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QVERIFY(!window.Link().Port().IsOpen());
  QVERIFY(!window.Link().WorkerRunning());
  // A closed link sends nothing, and counts nothing.
  harness.Click(kSendButton);
  QCOMPARE(harness.Text(kTxBox), QStringLiteral("0"));
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  harness.Device().Send(std::string("back"));
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("back"));
}

void TrafficTest::workerNewsIsShownOnTheUiThread() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QThread* uiThread = QThread::currentThread();
  QThread* shownOn = nullptr;
  SetMessagePresenter([&](QWidget*, const QString&) { shownOn = QThread::currentThread(); });
  // A thread of the line posts and goes on at once, without the UI thread
  // running anything meanwhile.
  LinkHub& hub = window.Link().Hub();
  std::thread worker([&] {
    hub.news.PostMessage("Write com fail!");
    hub.counters.CountSent(42);
    hub.news.CountersMoved();
  });
  worker.join();
  QVERIFY(shownOn == nullptr);
  QTRY_COMPARE(shownOn, uiThread);
  QTRY_COMPARE(harness.Text(kTxBox), QStringLiteral("42"));
}

QTEST_MAIN(TrafficTest)
#include "traffic_test.moc"
