// The form exchange: both directions, its checks and how a failed check ends
// it; the close request that saves the settings; the text forms of numbers.
#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QTest>

#include "sending/hex.h"
#include "settings/settings.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/form_exchange.h"
#include "ui/form_values.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

struct Fields {
  std::string sendText;
  int32_t sendAsHex, hexDisplay, timerIntervalMs, timerSend;
  double lastIntervalMs;
  uint32_t rxCount, txCount;
  double averageMs;
  std::string frameEndText;
  int32_t replyAfterFrame;
  uint8_t frameEndByte;
};

Fields Read(TerminalHarness& harness) {
  CounterValues c = harness.Counters();
  return harness.Field([&](TerminalState& s) {
    return Fields{s.sendText,  s.sendAsHex,      s.hexDisplay,      s.timerIntervalMs,
                  s.timerSend, c.lastIntervalMs, c.rxCount,         c.txCount,
                  c.averageMs, s.frameEndText,   s.replyAfterFrame, s.frameEndByte};
  });
}

void Write(TerminalHarness& harness, const Fields& f) {
  harness.Field([&](TerminalState& s) {
    s.sendText = f.sendText;
    s.sendAsHex = f.sendAsHex;
    s.hexDisplay = f.hexDisplay;
    s.timerIntervalMs = f.timerIntervalMs;
    s.timerSend = f.timerSend;
    s.frameEndText = f.frameEndText;
    s.replyAfterFrame = f.replyAfterFrame;
    return 0;
  });
  harness.Window().Link().Hub().counters.Update([&](CounterValues& c) {
    c.lastIntervalMs = f.lastIntervalMs;
    c.rxCount = f.rxCount;
    c.txCount = f.txCount;
    c.averageMs = f.averageMs;
  });
}

}  // namespace

class FormExchangeTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void roundTripsThroughTheControls_data();
  void roundTripsThroughTheControls();
  void capturesTypedValues();
  void keepsCountsAddedSinceTheyWereShown();
  void rejectsAPeriodOutOfRangeButKeepsIt_data();
  void rejectsAPeriodOutOfRangeButKeepsIt();
  void leavesThePeriodUnchangedWhenItIsNoNumber();
  void sendStillSendsWithAnInvalidPeriod();
  void closeSavesAndEnds();
  void closeWithABadPeriodSavesItAndStaysOpen();
  void readsNumbersAsTheBoxesShowThem_data();
  void readsNumbersAsTheBoxesShowThem();
};

void FormExchangeTest::roundTripsThroughTheControls_data() {
  QTest::addColumn<QString>("sendText");
  QTest::addColumn<int>("period");
  QTest::addColumn<QString>("frameEnd");
  QTest::addColumn<double>("interval");
  QTest::addColumn<uint>("count");
  QTest::addColumn<bool>("flags");
  QTest::newRow("defaults") << "" << 80 << "00" << 0.0 << 0u << false;
  QTest::newRow("lowest period") << "AB\r\nCD" << 0 << "0d" << 12.5 << 7u << true;
  QTest::newRow("highest period") << "01 02 03" << 65536 << "7e" << 1234.0625 << 4000000000u
                                  << false;
  QTest::newRow("one digit frame end") << "x" << 1000 << "D" << 0.001 << 1u << true;
  QTest::newRow("latin-1 text") << QStringLiteral("caf\u00e9 \u00a0!") << 5 << "ff" << 99.75 << 12u
                                << true;
}

void FormExchangeTest::roundTripsThroughTheControls() {
  QFETCH(QString, sendText);
  QFETCH(int, period);
  QFETCH(QString, frameEnd);
  QFETCH(double, interval);
  QFETCH(uint, count);
  QFETCH(bool, flags);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  Fields written{BytesFromText(sendText),
                 flags,
                 !flags,
                 period,
                 flags,
                 interval,
                 count,
                 count / 2,
                 interval / 4,
                 frameEnd.toStdString(),
                 !flags,
                 0};
  Write(harness, written);
  window.Refresh(RefreshPhase::kPublish);
  QCOMPARE(harness.Text(kPeriodBox), QString::number(period));
  QCOMPARE(harness.Text(kFrameEndBox), frameEnd);
  QCOMPARE(harness.Get<QCheckBox>(kSendAsHexCheck)->isChecked(), flags);
  QCOMPARE(harness.Get<QCheckBox>(kHexDisplayCheck)->isChecked(), !flags);
  QCOMPARE(harness.Text(kRxBox), QString::number(count));

  // Everything comes back as it went out; the counters pass through their
  // text form.
  Fields cleared = written;
  cleared.sendText.clear();
  cleared.sendAsHex = cleared.hexDisplay = cleared.timerSend = cleared.replyAfterFrame = 0;
  cleared.timerIntervalMs = -5;
  cleared.frameEndText = "ab";
  Write(harness, cleared);
  window.Refresh(RefreshPhase::kCapture);
  Fields read = Read(harness);
  QCOMPARE(read.sendText, written.sendText);
  QCOMPARE(read.sendAsHex, written.sendAsHex);
  QCOMPARE(read.hexDisplay, written.hexDisplay);
  QCOMPARE(read.timerIntervalMs, written.timerIntervalMs);
  QCOMPARE(read.timerSend, written.timerSend);
  QCOMPARE(read.lastIntervalMs, written.lastIntervalMs);
  QCOMPARE(read.rxCount, written.rxCount);
  QCOMPARE(read.txCount, written.txCount);
  QCOMPARE(read.averageMs, written.averageMs);
  QCOMPARE(read.frameEndText, written.frameEndText);
  QCOMPARE(read.replyAfterFrame, written.replyAfterFrame);
  QCOMPARE(read.frameEndByte, FrameEndByteOf(written.frameEndText));
  QVERIFY(harness.Messages().isEmpty());
}

void FormExchangeTest::capturesTypedValues() {
  TerminalHarness harness;
  harness.Window();
  harness.Type(kPeriodBox, QStringLiteral(" 125 "));
  harness.Type(kFrameEndBox, QStringLiteral("zz"));
  harness.Click(kSendAsHexCheck);
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  QTest::keyClicks(sendBox, QStringLiteral("AB"));
  QTest::keyClick(sendBox, Qt::Key_Return, Qt::ControlModifier);
  TerminalHarness::TypeKeys(sendBox, QStringLiteral("\u00e9\u20ac\U0001F600"));
  harness.Click(kResetButton);  // capture, reset, publish
  Fields read = Read(harness);
  QCOMPARE(read.timerIntervalMs, 125);
  QCOMPARE(read.frameEndText, std::string("zz"));
  QCOMPARE(read.frameEndByte, uint8_t{0x53});  // 35 * 16 + 35
  QCOMPARE(read.sendAsHex, 1);
  // In Latin-1, the send options' default, the euro and the emoji are refused
  // as they are typed, each with a message, never kept as "?".
  QCOMPARE(read.sendText, std::string("AB\r\n\xe9"));
  QCOMPARE(harness.Text(kPeriodBox), QStringLiteral("125"));
  QCOMPARE(harness.Messages().size(), 2);
}

void FormExchangeTest::keepsCountsAddedSinceTheyWereShown() {
  // A burst counted (or a transmission made) by the worker after the last
  // publish must not be set back to the older number in its box by a capture
  // that runs in between, e.g. a click on "Send".
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  LinkCounters& counters = window.Link().Hub().counters;
  counters.Update([](CounterValues& c) { c.rxCount = 10; });
  window.Refresh(RefreshPhase::kPublish);
  counters.CountReceived(5);
  counters.CountSent(2);
  window.Refresh(RefreshPhase::kCapture);
  QCOMPARE(harness.Counters().rxCount, 15u);
  QCOMPARE(harness.Counters().txCount, 2u);
  window.Refresh(RefreshPhase::kPublish);
  QCOMPARE(harness.Text(kRxBox), QStringLiteral("15"));
  QCOMPARE(harness.Text(kTxBox), QStringLiteral("2"));
}

void FormExchangeTest::rejectsAPeriodOutOfRangeButKeepsIt_data() {
  QTest::addColumn<QString>("typed");
  QTest::addColumn<int>("kept");
  QTest::newRow("below 0") << "-1" << -1;
  QTest::newRow("above 65536") << "65537" << 65537;
  QTest::newRow("beyond 32 bits") << "99999999999" << 2147483647;
}

void FormExchangeTest::rejectsAPeriodOutOfRangeButKeepsIt() {
  QFETCH(QString, typed);
  QFETCH(int, kept);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  harness.Type(kPeriodBox, typed);
  harness.Type(kFrameEndBox, QStringLiteral("41"));
  harness.Click(kReplyCheck);  // switches auto-reply on and captures
  QCOMPARE(harness.Messages(), QStringList{QString::fromLatin1(kPeriodRangeMessage)});
  QCOMPARE(QApplication::focusWidget(), window.Control(kPeriodBox));
  Fields read = Read(harness);
  QCOMPARE(read.timerIntervalMs, kept);
  // The exchange ended at the period: later fields keep their values and the
  // frame-end byte is not recomputed.
  QCOMPARE(read.frameEndText, std::string("00"));
  QCOMPARE(read.frameEndByte, uint8_t{0});
  // The toggle flipped its field all the same.
  QCOMPARE(read.replyAfterFrame, 1);
}

void FormExchangeTest::leavesThePeriodUnchangedWhenItIsNoNumber() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  harness.Type(kPeriodBox, QStringLiteral("abc"));
  harness.Type(kFrameEndBox, QStringLiteral("41"));
  window.Refresh(RefreshPhase::kCapture);
  QCOMPARE(harness.Messages(), QStringList{QString::fromLatin1(kPeriodNotIntegerMessage)});
  Fields read = Read(harness);
  QCOMPARE(read.timerIntervalMs, 80);
  QCOMPARE(read.frameEndText, std::string("00"));
  // The next publish puts the period back.
  window.Refresh(RefreshPhase::kPublish);
  QCOMPARE(harness.Text(kPeriodBox), QStringLiteral("80"));
}

void FormExchangeTest::sendStillSendsWithAnInvalidPeriod() {
  TerminalHarness harness;
  harness.Window();
  harness.Type(kPeriodBox, QStringLiteral("70000"));
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("hi"));
  harness.Click(kSendButton);
  QCOMPARE(harness.Messages().size(), 1);
  QCOMPARE(harness.Receive(0, 2), (std::vector<uint8_t>{'h', 'i'}));
}

void FormExchangeTest::closeSavesAndEnds() {
  TerminalHarness harness("[COMConfig]\nFLOWCONTROL=1\n[Other]\nKEEP=me\n");
  MainWindow& window = harness.Window();
  harness.Choose(kBaudSelector, 15);
  harness.Type(kPeriodBox, QStringLiteral("300"));
  harness.Type(kFrameEndBox, QStringLiteral("D"));
  harness.Click(kHexDisplayCheck);
  QVERIFY(!window.close());
  QVERIFY(!window.isVisible());
  QCOMPARE(window.result(), int(QDialog::Accepted));
  QVERIFY(harness.Messages().isEmpty());

  Settings saved = LoadSettings(harness.Directory().toStdString());
  QCOMPARE(saved.selection.baudPos, 15);
  QCOMPARE(saved.selection.flowPos, 1);
  QCOMPARE(saved.timerIntervalMs, 300);
  QCOMPARE(saved.hexDisplay, 1);
  QCOMPARE(saved.frameEndByte, uint8_t{0x0d});
  QCOMPARE(saved.portMap.at(1), harness.Device().Path());
  QVERIFY(harness.IniText().find("FRAMEEND=0d") != std::string::npos);
  QVERIFY(harness.IniText().find("KEEP=me") != std::string::npos);
}

void FormExchangeTest::closeWithABadPeriodSavesItAndStaysOpen() {
  TerminalHarness harness("[SendConfig]\nFRAMEEND=0a\n");
  MainWindow& window = harness.Window();
  harness.Type(kPeriodBox, QStringLiteral("70000"));
  harness.Type(kFrameEndBox, QStringLiteral("7e"));
  window.close();
  // Once for the capture of the save, once for the OK ending.
  QCOMPARE(harness.Messages(), QStringList(2, QString::fromLatin1(kPeriodRangeMessage)));
  QVERIFY(window.isVisible());
  Settings saved = LoadSettings(harness.Directory().toStdString());
  QCOMPARE(saved.timerIntervalMs, 70000);
  // The frame end keeps the byte of the last exchange that ran to its end.
  QCOMPARE(saved.frameEndByte, uint8_t{0x0a});
  QVERIFY(window.Link().Port().IsOpen());
}

void FormExchangeTest::readsNumbersAsTheBoxesShowThem_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<bool>("isInteger");
  QTest::addColumn<int>("value");
  QTest::newRow("plain") << "80" << true << 80;
  QTest::newRow("blanks around") << "  42 " << true << 42;
  QTest::newRow("signs") << "-7" << true << -7;
  QTest::newRow("plus") << "+7" << true << 7;
  QTest::newRow("lowest") << "-2147483648" << true << int(INT32_MIN);
  QTest::newRow("below lowest") << "-9999999999" << true << int(INT32_MIN);
  QTest::newRow("empty") << "" << false << 0;
  QTest::newRow("letters") << "abc" << false << 0;
  QTest::newRow("trailing letters") << "12ms" << false << 0;
  QTest::newRow("inner blank") << "1 2" << false << 0;
  QTest::newRow("sign alone") << "-" << false << 0;
  QTest::newRow("decimal") << "1.5" << false << 0;
}

void FormExchangeTest::readsNumbersAsTheBoxesShowThem() {
  QFETCH(QString, text);
  QFETCH(bool, isInteger);
  QFETCH(int, value);
  std::optional<int32_t> parsed = ParseInteger(text.toStdString());
  QCOMPARE(parsed.has_value(), isInteger);
  if (isInteger) QCOMPARE(*parsed, value);
  // Doubles pass through their text form with 15 significant digits.
  for (double d : {0.0, 12.5, 1796.97612345678, 1e-5, 123456789.123}) {
    std::optional<double> back = ParseDouble(FormatDouble(d));
    QVERIFY(back);
    QCOMPARE(*back, d);
  }
  QCOMPARE(ParseUnsigned("4294967295"), std::optional<uint32_t>(4294967295u));
  QVERIFY(!ParseUnsigned("-1"));
}

QTEST_MAIN(FormExchangeTest)
#include "form_exchange_test.moc"
