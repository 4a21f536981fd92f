// The session view as a user meets it: the mode and its [View] keys, the
// lines a device's answer makes, following and pausing, the find bar, and
// the receive box going on as before behind the view.
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QScrollBar>
#include <QSpinBox>
#include <QTest>
#include <QToolButton>

#include "engine/render.h"
#include "history/session_store.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/receive_box.h"
#include "ui/session_find_bar.h"
#include "ui/session_rows.h"
#include "ui/session_view.h"
#include "ui/session_viewer.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

SessionView& ViewOf(TerminalHarness& harness) {
  return *harness.Window().Session().View();
}

// The rows on screen without their prefixes' stamps, as "RX text".
QStringList Lines(TerminalHarness& harness) {
  QStringList lines;
  for (const QString& row : ViewOf(harness).ShownRows()) lines << row.simplified();
  return lines;
}

uint64_t LineCount(TerminalHarness& harness) {
  SessionView& view = ViewOf(harness);
  SessionCounts counts = harness.Window().Session().Store().Counts(view.Display());
  return counts.endLine - counts.firstLine;
}

std::string MatchedBytes(TerminalHarness& harness) {
  auto [from, to] = ViewOf(harness).Match();
  std::vector<uint8_t> bytes;
  harness.Window().Session().Store().CopyBytes(from, static_cast<size_t>(to - from), bytes);
  return {bytes.begin(), bytes.end()};
}

// Counts the paints a widget gets.
class PaintCounter : public QObject {
 public:
  int paints = 0;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return false;
  }
};

const std::string kOn = "[View]\nSessionView=1\nStamps=none\n";

}  // namespace

class SessionViewTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void modeTogglesAndIsRememberedInView_data();
  void modeTogglesAndIsRememberedInView();
  void answerShowsAsSentThenReceivedLines_data();
  void answerShowsAsSentThenReceivedLines();
  void scrollingUpPausesFollowingUntilResumed_data();
  void scrollingUpPausesFollowingUntilResumed();
  void findGoesRoundTheHistory_data();
  void findGoesRoundTheHistory();
  void receiveBoxKeepsItsRuleBehindTheView_data();
  void receiveBoxKeepsItsRuleBehindTheView();
  void linkEventsAreLinesAndClearEmptiesTheView();
  void copiesAndSavesWhatTheLineCarried_data();
  void copiesAndSavesWhatTheLineCarried();
  void viewSettingsApplyAndAreKept();
  void frameTallerThanTheViewEndsAtItsBottom();
  void fullHistorySaysWhatWasDropped();
  void receivedFramesAreMarkedByTheCheck_data();
  void receivedFramesAreMarkedByTheCheck();
  void stampsReadAsChosen_data();
  void stampsReadAsChosen();
  void scrollBarRepaintsOnlyWhenItsHandleMoves();
};

void SessionViewTest::modeTogglesAndIsRememberedInView_data() {
  QTest::addColumn<bool>("byKey");
  QTest::newRow("Ctrl+Shift+V") << true;
  QTest::newRow("menu entry") << false;
}

void SessionViewTest::modeTogglesAndIsRememberedInView() {
  QFETCH(bool, byKey);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QWidget* receiveBox = window.Control(kReceiveBox);
  QVERIFY(receiveBox->isVisible());  // no [View]: today's window
  QVERIFY(!ViewOf(harness).isVisible());
  QAction* mode = window.Session().ModeAction();
  QAction* entry = quorvel::testing::MenuEntry(window.WindowMenu(), "Session view");
  QVERIFY(entry);
  QVERIFY(!entry->isChecked());
  if (byKey) {
    QVERIFY(harness.ShowActive());
    QTest::keyClick(&window, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  } else {
    entry->trigger();
  }
  QVERIFY(mode->isChecked());
  QVERIFY(entry->isChecked());  // the context menu's entry follows the mode
  QVERIFY(ViewOf(harness).isVisible());
  QVERIFY(!receiveBox->isVisible());
  QCOMPARE(ViewOf(harness).geometry(), receiveBox->geometry());
  QVERIFY(harness.IniText().find("[View]\nSessionView=1\n") != std::string::npos);

  harness.CloseWindow();  // and a restart
  QVERIFY(harness.Window().Session().On());
  QVERIFY(ViewOf(harness).isVisible());
  QVERIFY(harness.Window().Session().ModeAction()->isChecked());
  harness.Window().Session().ModeAction()->trigger();
  QVERIFY(harness.Window().Control(kReceiveBox)->isVisible());
  QVERIFY(harness.IniText().find("SessionView=0") != std::string::npos);
}

void SessionViewTest::answerShowsAsSentThenReceivedLines_data() {
  QTest::addColumn<bool>("showTx");
  QTest::newRow("TX shown") << true;
  QTest::newRow("TX hidden") << false;
}

void SessionViewTest::answerShowsAsSentThenReceivedLines() {
  QFETCH(bool, showTx);
  TerminalHarness harness(kOn + "ShowTx=" + (showTx ? "1" : "0") + "\n");
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("ping\r\n");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 6).size(), size_t{6});
  harness.Device().Send(std::string("pong\r\n"));
  QTRY_VERIFY(Lines(harness).contains(QStringLiteral("RX pong")));
  QStringList lines = Lines(harness);
  QVERIFY2(lines.front().startsWith(QStringLiteral("-- Opened")), qPrintable(lines.join('|')));
  qsizetype sent = lines.indexOf(QStringLiteral("TX ping"));
  if (showTx) {
    QVERIFY2(sent > 0 && sent < lines.indexOf(QStringLiteral("RX pong")),
             qPrintable(lines.join('|')));
  } else {
    QCOMPARE(sent, -1);
  }
}

void SessionViewTest::scrollingUpPausesFollowingUntilResumed_data() {
  QTest::addColumn<bool>("byKey");
  QTest::newRow("End") << true;
  QTest::newRow("indicator") << false;
}

void SessionViewTest::scrollingUpPausesFollowingUntilResumed() {
  QFETCH(bool, byKey);
  TerminalHarness harness(kOn);
  SessionView& view = ViewOf(harness);
  std::string many;
  for (int i = 0; i < 200; ++i) many += "line " + std::to_string(i) + "\n";
  harness.Device().Send(many);
  QTRY_VERIFY(Lines(harness).contains(QStringLiteral("RX line 199")));
  QVERIFY(view.Following());
  view.verticalScrollBar()->setValue(0);  // as a drag or the wheel would
  QVERIFY(!view.Following());
  QVERIFY(!Lines(harness).contains(QStringLiteral("RX line 199")));
  auto* indicator = view.findChild<QToolButton*>(QStringLiteral("pausedIndicator"));
  QVERIFY(indicator->isVisible());
  uint64_t before = LineCount(harness);
  harness.Device().Send(std::string("more 1\nmore 2\nmore 3\n"));
  QTRY_COMPARE(LineCount(harness), before + 3);
  QTRY_COMPARE(view.LinesSincePaused(), uint64_t{3});
  QTRY_VERIFY(indicator->text().contains(QStringLiteral("3 new lines")));
  QVERIFY(!Lines(harness).contains(QStringLiteral("RX more 3")));
  if (byKey) {
    view.setFocus();
    QTest::keyClick(&view, Qt::Key_End);
  } else {
    QTest::mouseClick(indicator, Qt::LeftButton);
  }
  QVERIFY(view.Following());
  QVERIFY(!indicator->isVisible());
  QVERIFY(Lines(harness).contains(QStringLiteral("RX more 3")));
}

void SessionViewTest::findGoesRoundTheHistory_data() {
  QTest::addColumn<bool>("hex");
  QTest::addColumn<QString>("typed");
  QTest::addColumn<bool>("matchCase");
  QTest::addColumn<bool>("found");
  QTest::newRow("text") << false << QStringLiteral("needle") << true << true;
  QTest::newRow("text, either case") << false << QStringLiteral("NEEDLE") << false << true;
  QTest::newRow("text, case kept") << false << QStringLiteral("NEEDLE") << true << false;
  QTest::newRow("hex") << true << QStringLiteral("6E 65 65 64 6C 65") << true << true;
  QTest::newRow("hex, not hex") << true << QStringLiteral("6E 6") << true << false;
}

void SessionViewTest::findGoesRoundTheHistory() {
  QFETCH(bool, hex);
  QFETCH(QString, typed);
  QFETCH(bool, matchCase);
  QFETCH(bool, found);
  TerminalHarness harness(kOn);
  MainWindow& window = harness.Window();
  if (hex) harness.Click(kHexDisplayCheck);
  harness.Device().Send(std::string("a needle\nnothing\nneedle b\n"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("26"));
  SessionFindBar& bar = *window.Session().FindBar();
  window.Session().OpenFind();
  QVERIFY(bar.isVisible());
  bar.TextBox()->setText(typed);
  bar.findChild<QWidget*>(QStringLiteral("matchCase"))->setProperty("checked", matchCase);
  QCOMPARE(bar.Find(true), found);
  if (!found) {
    QVERIFY(!bar.StatusText().isEmpty());
    return;
  }
  QCOMPARE(MatchedBytes(harness), std::string("needle"));
  uint64_t first = ViewOf(harness).Match().first;
  QTest::keyClick(bar.TextBox(), Qt::Key_Return);  // Enter finds the next
  uint64_t second = ViewOf(harness).Match().first;
  QVERIFY(second > first);
  QCOMPARE(bar.StatusText(), QString());
  QVERIFY(bar.Find(true));  // round the end
  QCOMPARE(ViewOf(harness).Match().first, first);
  QCOMPARE(bar.StatusText(), QStringLiteral("Wrapped"));
  QVERIFY(bar.Find(false));  // and back round the start
  QCOMPARE(ViewOf(harness).Match().first, second);
  QVERIFY(!ViewOf(harness).Following());
}

void SessionViewTest::receiveBoxKeepsItsRuleBehindTheView_data() {
  QTest::addColumn<bool>("hex");
  QTest::newRow("text") << false;
  QTest::newRow("hex") << true;
}

// Behind the view the box only keeps its text; turned off, the view gives
// the box back showing what it would have shown all along.
void SessionViewTest::receiveBoxKeepsItsRuleBehindTheView() {
  QFETCH(bool, hex);
  TerminalHarness harness(kOn);
  MainWindow& window = harness.Window();
  auto* box = static_cast<ReceiveBox*>(window.Control(kReceiveBox));
  if (hex) harness.Click(kHexDisplayCheck);
  std::string first(9'000, 'a'), second(1'500, 'b');
  harness.Device().Send(first);
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("9000"));
  QTRY_VERIFY(window.PublishSettled());
  QCOMPARE(box->Shown().size(), hex ? first.size() * 3 : first.size());
  harness.Device().Send(second);
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("10500"));
  QTRY_VERIFY(window.PublishSettled());
  // The log was emptied before it reached 10,000 bytes, as without the view.
  int kept = harness.Field([](TerminalState& s) { return s.rxLength; });
  QVERIFY(kept > 0 && kept < 10'000);
  std::string rule = (first + second).substr(first.size() + second.size() - kept);
  std::string expected;
  AppendReceiveText(expected, reinterpret_cast<const uint8_t*>(rule.data()),
                    static_cast<int>(rule.size()), hex);
  QCOMPARE(box->Shown(), expected);
  // The view keeps everything.
  SessionCounts counts = window.Session().Store().Counts(SessionDisplay::kText);
  QVERIFY(counts.keptBytes >= 10'500);

  window.Session().ModeAction()->trigger();
  QVERIFY(box->isVisible());
  QString shown = harness.Text(kReceiveBox);
  if (hex) shown.remove(QLatin1Char('\n'));  // one paragraph per line of groups
  QCOMPARE(shown, QString::fromStdString(expected));
  QVERIFY(!box->Edited());
}

void SessionViewTest::linkEventsAreLinesAndClearEmptiesTheView() {
  TerminalHarness harness(kOn);
  harness.Click(kOpenCloseButton);  // closed
  harness.Click(kOpenCloseButton);  // open again
  harness.Choose(kBaudSelector, 3);
  QString baud = harness.Text(kBaudSelector);
  QTRY_VERIFY(Lines(harness).size() >= 4);
  QStringList lines = Lines(harness);
  QVERIFY2(lines[0].startsWith(QStringLiteral("-- Opened")), qPrintable(lines.join('|')));
  QVERIFY2(lines[1].startsWith(QStringLiteral("-- Closed")), qPrintable(lines.join('|')));
  QVERIFY2(lines[2].startsWith(QStringLiteral("-- Opened")), qPrintable(lines.join('|')));
  QVERIFY2(lines[3].startsWith(QStringLiteral("-- Settings ")) &&
               lines[3].contains(QLatin1Char(' ') + baud + QLatin1Char(',')),
           qPrintable(lines.join('|')));
  harness.Click(kClearReceiveButton);
  QCOMPARE(LineCount(harness), uint64_t{0});
  QVERIFY(Lines(harness).isEmpty());
}

void SessionViewTest::copiesAndSavesWhatTheLineCarried_data() {
  QTest::addColumn<int>("format");
  QTest::addColumn<QByteArray>("saved");  // what the file starts with
  QTest::newRow("raw") << 0 << QByteArray("ping\r\npong\r\n");
  QTest::newRow("text") << 1 << QByteArray();
}

void SessionViewTest::copiesAndSavesWhatTheLineCarried() {
  QFETCH(int, format);
  QFETCH(QByteArray, saved);
  TerminalHarness harness(kOn);
  MainWindow& window = harness.Window();
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("ping\r\n");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 6).size(), size_t{6});
  harness.Device().Send(std::string("pong\r\n"));
  QTRY_VERIFY(Lines(harness).contains(QStringLiteral("RX pong")));
  // A selection made by a find's match, copied as shown and as hex.
  window.Session().OpenFind();
  window.Session().FindBar()->TextBox()->setText(QStringLiteral("ong"));
  QVERIFY(window.Session().FindBar()->Find(true));
  auto [from, to] = ViewOf(harness).Match();
  ViewOf(harness).SelectRange(from, to);  // a part of the line: its text alone
  QCOMPARE(ViewOf(harness).SelectedText(), QStringLiteral("ong"));
  ViewOf(harness).SelectRange(from - 1, to + 1);  // "pong\r", from the line's start
  QCOMPARE(ViewOf(harness).SelectedText(), QStringLiteral("RX  pong"));
  QCOMPARE(ViewOf(harness).SelectedHex(), QStringLiteral("70 6F 6E 67 0D"));
  ViewOf(harness).setFocus();
  QTest::keyClick(&ViewOf(harness), Qt::Key_C, Qt::ControlModifier);
  QCOMPARE(QApplication::clipboard()->text(), QStringLiteral("RX  pong"));
  QTest::keyClick(&ViewOf(harness), Qt::Key_A, Qt::ControlModifier);  // everything kept
  QVERIFY2(ViewOf(harness).SelectedHex().contains(QStringLiteral("70 69 6E 67 0D 0A")) &&
               ViewOf(harness).SelectedHex().contains(QStringLiteral("70 6F 6E 67 0D 0A")),
           qPrintable(ViewOf(harness).SelectedHex()));
  ViewOf(harness).SelectRange(from - 1, to + 1);

  QString path = QDir(harness.Directory()).filePath(QStringLiteral("session.txt"));
  quorvel::testing::ModalWatcher dialog(
      quorvel::testing::ModalWatcher::Kind::kDialog, [&](QWidget* open) {
        open->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
        open->findChild<QComboBox*>(QStringLiteral("format"))->setCurrentIndex(format);
        static_cast<QDialog*>(open)->accept();
      });
  quorvel::testing::MenuEntry(window.WindowMenu(), "Save session")->trigger();
  QVERIFY(dialog.Ran());
  QTRY_VERIFY(!window.Session().Saving());  // written on a thread of its own
  QFile file(path);
  QVERIFY(file.open(QIODevice::ReadOnly));
  QByteArray written = file.readAll();
  if (!saved.isEmpty()) QCOMPARE(written, saved);
  QVERIFY(written.contains("ping") && written.contains("pong"));
  QVERIFY(harness.Messages().isEmpty());
}

void SessionViewTest::viewSettingsApplyAndAreKept() {
  TerminalHarness harness(kOn);
  MainWindow& window = harness.Window();
  quorvel::testing::ModalWatcher dialog(
      quorvel::testing::ModalWatcher::Kind::kDialog, [&](QWidget* open) {
        open->findChild<QComboBox*>(QStringLiteral("stamps"))->setCurrentIndex(3);
        open->findChild<QCheckBox*>(QStringLiteral("showTx"))->setChecked(false);
        open->findChild<QSpinBox*>(QStringLiteral("history"))->setValue(2);
        static_cast<QDialog*>(open)->accept();
      });
  quorvel::testing::MenuEntry(window.WindowMenu(), "View settings")->trigger();
  QVERIFY(dialog.Ran());
  QCOMPARE(window.Session().Store().Limit(), uint64_t{2} << 20);
  QVERIFY2(Lines(harness).front().startsWith(QStringLiteral("+0 -- Opened")),
           qPrintable(Lines(harness).join('|')));
  std::string ini = harness.IniText();
  for (const char* line : {"Stamps=delta\n", "ShowTx=0\n", "HistoryMiB=2\n", "SessionView=1\n"}) {
    QVERIFY2(ini.find(line) != std::string::npos, line);
  }
}

void SessionViewTest::frameTallerThanTheViewEndsAtItsBottom() {
  TerminalHarness harness(kOn + "SilenceMs=300\n");
  harness.Click(kHexDisplayCheck);
  SessionView& view = ViewOf(harness);
  harness.Device().Send(std::string(1999, 'A') + "Z");
  QTRY_VERIFY(!Lines(harness).isEmpty() && Lines(harness).last().endsWith(QStringLiteral("5A")));
  QVERIFY(!Lines(harness).front().startsWith(QStringLiteral("RX")));  // its start is above
  QVERIFY(view.Following());
  view.setFocus();
  QTest::keyClick(&view, Qt::Key_Up);  // a row up, within the frame
  QVERIFY(!view.Following());
  QVERIFY(!Lines(harness).last().endsWith(QStringLiteral("5A")));
  QTest::keyClick(&view, Qt::Key_Down);
  QVERIFY(view.Following());
}

void SessionViewTest::fullHistorySaysWhatWasDropped() {
  TerminalHarness harness(kOn + "HistoryMiB=1\n");
  SessionView& view = ViewOf(harness);
  auto* banner = view.findChild<QLabel*>(QStringLiteral("droppedBanner"));
  QVERIFY(!banner->isVisible());
  SessionStore& store = harness.Window().Session().Store();
  std::string line(99, 'x');
  line += '\n';
  for (int i = 0; i < 30'000; ++i) {  // 3 MB through a 1 MiB history
    store.AppendAt(SessionKind::kReceived, SessionEvent::kNone,
                   reinterpret_cast<const uint8_t*>(line.data()), line.size(), i, i);
  }
  view.Sync();
  QVERIFY(banner->isVisible());
  QVERIFY2(banner->text().contains(QStringLiteral("dropped")), qPrintable(banner->text()));
  QVERIFY(view.Following());
  QVERIFY(Lines(harness).last().endsWith(QString::fromStdString(line.substr(0, 99))));
  harness.Click(kClearReceiveButton);  // a new history drops nothing yet
  QVERIFY(!banner->isVisible());
}

void SessionViewTest::receivedFramesAreMarkedByTheCheck_data() {
  QTest::addColumn<QByteArray>("frame");
  QTest::addColumn<QString>("shown");
  QTest::newRow("valid") << QByteArray("\x01\x02\x03\x06", 4)
                         << QStringLiteral("RX\u2713 01 02 03 06");
  QTest::newRow("bad") << QByteArray("\x01\x02\x03\x07", 4)
                       << QStringLiteral("RX\u2717 01 02 03 07");
}

void SessionViewTest::receivedFramesAreMarkedByTheCheck() {
  QFETCH(QByteArray, frame);
  QFETCH(QString, shown);
  TerminalHarness harness(kOn + "Check=sum8\n");
  harness.Click(kHexDisplayCheck);
  harness.Device().Send(frame.toStdString());
  QTRY_VERIFY2(Lines(harness).contains(shown), qPrintable(Lines(harness).join('|')));
}

void SessionViewTest::stampsReadAsChosen_data() {
  QTest::addColumn<int>("kind");
  QTest::addColumn<qint64>("wallMs");
  QTest::addColumn<qint64>("ns");
  QTest::addColumn<QString>("expected");  // empty: the local time of wallMs
  QTest::newRow("time, now") << int(StampKind::kTimeOfDay) << QDateTime::currentMSecsSinceEpoch()
                             << qint64{0} << QString();
  QTest::newRow("time, a summer's day")
      << int(StampKind::kTimeOfDay) << qint64{1'751'371'199'999} << qint64{0} << QString();
  QTest::newRow("time, before 1970")
      << int(StampKind::kTimeOfDay) << qint64{-1'500} << qint64{0} << QString();
  QTest::newRow("since open") << int(StampKind::kSinceOpen) << qint64{0} << qint64{1'234'567'890}
                              << QStringLiteral("     1.235");
  QTest::newRow("since previous") << int(StampKind::kSincePrevious) << qint64{0}
                                  << qint64{12'345'678} << QStringLiteral("      +12");
  QTest::newRow("none") << int(StampKind::kNone) << qint64{0} << qint64{5} << QString();
}

void SessionViewTest::stampsReadAsChosen() {
  QFETCH(int, kind);
  QFETCH(qint64, wallMs);
  QFETCH(qint64, ns);
  QFETCH(QString, expected);
  SessionLine line;
  line.wallMs = wallMs;
  line.sinceOpenNs = ns;
  line.sincePreviousNs = ns;
  auto stamps = static_cast<StampKind>(kind);
  if (stamps == StampKind::kTimeOfDay) {
    expected = QDateTime::fromMSecsSinceEpoch(wallMs).toString(QStringLiteral("hh:mm:ss.zzz"));
  }
  QString stamp = StampText(stamps, line);
  QCOMPARE(stamp, expected);
  QCOMPARE(ShapeLine(line, {stamps, {}, SessionDisplay::kText, 80, {}, false}).prefix.size(),
           PrefixWidth(stamps));
}

// While following, a publish grows the range and moves the value with it, and
// the handle stays put: the bar is not repainted. Paused at the top, it is.
void SessionViewTest::scrollBarRepaintsOnlyWhenItsHandleMoves() {
  SessionStore store;
  SessionView view(store, nullptr);
  view.resize(450, 330);
  view.show();
  QVERIFY(QTest::qWaitForWindowExposed(&view));
  auto add = [&](int lines) {
    std::string text;
    for (int i = 0; i < lines; ++i) text += "a line of text\r\n";
    store.Received(reinterpret_cast<const uint8_t*>(text.data()), static_cast<int>(text.size()));
    view.Sync();
    QApplication::processEvents();
  };
  add(5'000);
  PaintCounter bar;
  view.verticalScrollBar()->installEventFilter(&bar);
  for (int i = 0; i < 10; ++i) add(50);
  QCOMPARE(bar.paints, 0);
  QVERIFY(view.Following());
  view.ShowLine(0);
  QTRY_VERIFY(bar.paints > 0);
  QCOMPARE(view.verticalScrollBar()->value(), 0);
}

QTEST_MAIN(SessionViewTest)
#include "session_view_test.moc"
