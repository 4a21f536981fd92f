// The window's sends while the device does not read, the file send and the
// line's log, driven through the context menu and the keys as a user would.
#include <sys/resource.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include "support/seeded_bytes.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/line_tools.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

using Bytes = std::vector<uint8_t>;
using quorvel::testing::SeededBytes;

std::string Text(const Bytes& bytes) {
  return {bytes.begin(), bytes.end()};
}

QString PathIn(TerminalHarness& harness, const char* name) {
  return QDir(harness.Directory()).filePath(QString::fromLatin1(name));
}

void WriteFile(const QString& path, const Bytes& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
}

std::string ReadFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll().toStdString();
}

// The context menu's entry whose text starts with `prefix`.
QAction* Entry(MainWindow& window, const QString& prefix) {
  return quorvel::testing::MenuEntry(window.WindowMenu(), prefix);
}

QString Status(TerminalHarness& harness, StatusLine::Field field) {
  return harness.Window().Status()->Text(field);
}

// Fills the send box with a paste too big for a device that does not read.
void PasteLarge(TerminalHarness& harness) {
  Bytes bytes = SeededBytes(100'000, 1);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(0x20 + byte % 0x5f);
  harness.Get<ByteTextBox>(kSendBox)->SetBytes(Text(bytes));
}

// Answers the log dialog: `path`, the format at `formatIndex`, and sent bytes too.
std::function<void(QWidget*)> AnswerLogDialog(const QString& path, int formatIndex, bool sent) {
  return [=](QWidget* open) {
    open->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
    open->findChild<QComboBox*>(QStringLiteral("format"))->setCurrentIndex(formatIndex);
    open->findChild<QCheckBox*>(QStringLiteral("includeSent"))->setChecked(sent);
    static_cast<QDialog*>(open)->accept();
  };
}

}  // namespace

class LineToolsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void windowAnswersWhileAStalledSendWaits();
  void timedSendingSkipsTicksWhileASendStalls();
  void sendsAFileChosenFromTheMenu();
  void fileSendShowsProgressAndCancelsOnItsKey();
  void unreadableFileSendsNothing_data();
  void unreadableFileSendsNothing();
  void logsTheLineFromTheMenu();
  void keepsTheChoicesInTheSettingsFileInUse();
  void existingLogIsAppendedOrReplaced_data();
  void existingLogIsAppendedOrReplaced();
  void failingLogEndsWithOneMessageAndTheLinkGoesOn_data();
  void failingLogEndsWithOneMessageAndTheLinkGoesOn();
  void fileLabelNamesItsBox_data();
  void fileLabelNamesItsBox();
  void cancelAndStopAreEnabledOnlyWhileTheyCanAct();
};

void LineToolsTest::windowAnswersWhileAStalledSendWaits() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  PasteLarge(harness);
  harness.Click(kSendButton);  // returns though the device reads nothing
  QTRY_VERIFY(harness.Text(kTxBox) != QStringLiteral("0"));
  QVERIFY(window.Link().Door().Busy());
  // The window is the user's: a toggle, bytes from the device, a Clear.
  harness.Click(kHexDisplayCheck);
  QCOMPARE(harness.Field([](TerminalState& s) { return s.hexDisplay; }), 1);
  harness.Device().Send(std::string("abc"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("3"));
  harness.Click(kClearReceiveButton);
  QCOMPARE(harness.Text(kReceiveBox), QString());
  // "Close com" ends the send at once; the count is what the device gets.
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QVERIFY(!window.Link().Door().Busy());
  size_t got = harness.Drain(0).size();
  QVERIFY(got < 100'000);
  QTRY_COMPARE(harness.Text(kTxBox), QString::number(got));
  QVERIFY(harness.Messages().isEmpty());
}

void LineToolsTest::timedSendingSkipsTicksWhileASendStalls() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  PasteLarge(harness);
  harness.Type(kPeriodBox, QStringLiteral("10"));
  QSignalSpy ticks(&window.SendTimer(), &QTimer::timeout);
  harness.Click(kTimerCheck);
  QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 20, 20000);
  QCOMPARE(harness.Counters().sendCount, 1u);
  harness.Click(kTimerCheck);
  harness.Click(kOpenCloseButton);
}

void LineToolsTest::sendsAFileChosenFromTheMenu() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  const Bytes content = SeededBytes(1 << 20, 2);
  QString path = PathIn(harness, "image.bin");
  WriteFile(path, content);
  QAction* sendFile = Entry(window, QStringLiteral("Send file"));
  QVERIFY(sendFile);
  QCOMPARE(sendFile->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+F")));
  ModalWatcher chooser(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    open->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
    open->findChild<QSpinBox*>(QStringLiteral("lineDelay"))->setValue(0);
    open->findChild<QSpinBox*>(QStringLiteral("byteDelay"))->setValue(0);
    static_cast<QDialog*>(open)->accept();
  });
  sendFile->trigger();
  QVERIFY(chooser.Ran());
  QVERIFY(harness.Receive(0, content.size(), std::chrono::seconds(60)) == content);
  QTRY_COMPARE(harness.Text(kTxBox), QString::number(content.size()));
  QTRY_COMPARE(Status(harness, StatusLine::Field::kTransfer), QString());
  std::string ini = harness.IniText();
  QVERIFY(ini.find("[FileSend]") != std::string::npos);
  QVERIFY(ini.find("Directory=" + harness.Directory().toStdString()) != std::string::npos);
  QVERIFY(harness.Messages().isEmpty());
}

void LineToolsTest::fileSendShowsProgressAndCancelsOnItsKey() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  QString path = PathIn(harness, "big.bin");
  // 20,000 lines with a millisecond after each: the cancel always comes
  // while the file is still going, however busy the machine is.
  Bytes lines(200'000, 'x');
  for (size_t end = 9; end < lines.size(); end += 10) lines[end] = '\n';
  WriteFile(path, lines);
  QVERIFY(window.Tools().SendFile(path, {.lineDelayMs = 1}));
  QTRY_VERIFY(
      Status(harness, StatusLine::Field::kTransfer).contains(QStringLiteral("of 200000 bytes")));
  QVERIFY(Status(harness, StatusLine::Field::kTransfer)
              .startsWith(QStringLiteral("Sending big.bin: ")));
  QTRY_VERIFY(harness.Text(kTxBox).toInt() > 0);
  QTest::keyClick(&window, Qt::Key_X, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_VERIFY(!window.Link().Door().Busy());
  QTRY_COMPARE(Status(harness, StatusLine::Field::kTransfer), QString());
  size_t got = harness.Drain(0).size();
  QVERIFY(got > 0 && got < 200'000);
  QTRY_COMPARE(harness.Text(kTxBox), QString::number(got));
  QVERIFY(harness.Messages().isEmpty());
}

void LineToolsTest::unreadableFileSendsNothing_data() {
  QTest::addColumn<QString>("name");
  QTest::newRow("missing") << QStringLiteral("missing.bin");
  QTest::newRow("a directory") << QStringLiteral(".");
}

void LineToolsTest::unreadableFileSendsNothing() {
  QFETCH(QString, name);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QString path = QDir(harness.Directory()).filePath(name);
  QVERIFY(!window.Tools().SendFile(path, {}));
  QCOMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages().front().startsWith(QStringLiteral("Cannot read ") + path));
  QVERIFY(harness.Drain(0).empty());
  QCOMPARE(harness.Text(kTxBox), QStringLiteral("0"));
}

void LineToolsTest::keepsTheChoicesInTheSettingsFileInUse() {
  TerminalHarness harness;
  const std::string file = harness.Directory().toStdString() + "/other.ini";
  harness.Options().settingsFile = file;
  MainWindow& window = harness.Window();
  {
    ModalWatcher dialog(ModalWatcher::Kind::kDialog,
                        AnswerLogDialog(PathIn(harness, "line.log"), 0, false));
    Entry(window, QStringLiteral("Log to file"))->trigger();
    QVERIFY(dialog.Ran());
  }
  Entry(window, QStringLiteral("Stop logging"))->trigger();
  QVERIFY(ReadFile(QString::fromStdString(file)).find("Format=raw") != std::string::npos);
  QVERIFY(harness.IniText().find("[Logging]") == std::string::npos);
}

void LineToolsTest::logsTheLineFromTheMenu() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QString path = PathIn(harness, "line.log");
  {
    ModalWatcher dialog(ModalWatcher::Kind::kDialog, AnswerLogDialog(path, 0, true));
    Entry(window, QStringLiteral("Log to file"))->trigger();
    QVERIFY(dialog.Ran());
  }
  QVERIFY(
      Status(harness, StatusLine::Field::kLog).startsWith(QStringLiteral("Logging to line.log")));
  harness.Device().Send(std::string("hello\n"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("6"));
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("ok");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 2), (Bytes{'o', 'k'}));
  // The device may read the bytes before the writer has told the log: the
  // send is over once the door is idle.
  QTRY_VERIFY(!window.Link().Door().Busy());
  harness.Click(kClearReceiveButton);  // the log is no receive box
  Entry(window, QStringLiteral("Stop logging"))->trigger();
  QCOMPARE(Status(harness, StatusLine::Field::kLog), QString());
  QCOMPARE(ReadFile(path), std::string("hello\nok"));
  std::string ini = harness.IniText();
  QVERIFY(ini.find("[Logging]") != std::string::npos);
  QVERIFY(ini.find("Format=raw") != std::string::npos);
  QVERIFY(ini.find("IncludeSent=1") != std::string::npos);
  // The next dialog starts from what was chosen.
  int format = -1;
  bool sent = false;
  ModalWatcher again(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    format = open->findChild<QComboBox*>(QStringLiteral("format"))->currentIndex();
    sent = open->findChild<QCheckBox*>(QStringLiteral("includeSent"))->isChecked();
    static_cast<QDialog*>(open)->reject();
  });
  Entry(window, QStringLiteral("Log to file"))->trigger();
  QCOMPARE(format, 0);
  QVERIFY(sent);
  QVERIFY(!window.Tools().Logger().Active());
}

void LineToolsTest::existingLogIsAppendedOrReplaced_data() {
  QTest::addColumn<QString>("button");
  QTest::addColumn<QString>("expected");
  QTest::newRow("append") << QStringLiteral("&Append") << QStringLiteral("before|after");
  QTest::newRow("replace") << QStringLiteral("&Replace") << QStringLiteral("after");
}

void LineToolsTest::existingLogIsAppendedOrReplaced() {
  QFETCH(QString, button);
  QFETCH(QString, expected);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QString path = PathIn(harness, "line.log");
  WriteFile(path, Bytes{'b', 'e', 'f', 'o', 'r', 'e', '|'});
  std::unique_ptr<ModalWatcher> question;
  ModalWatcher dialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    question = std::make_unique<ModalWatcher>(ModalWatcher::Kind::kDialog, [&](QWidget* box) {
      for (QAbstractButton* choice : static_cast<QMessageBox*>(box)->buttons()) {
        if (choice->text() == button) choice->click();
      }
    });
    AnswerLogDialog(path, 0, false)(open);
  });
  Entry(window, QStringLiteral("Log to file"))->trigger();
  QVERIFY(question && question->Ran());
  harness.Device().Send(std::string("after"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("5"));
  window.Tools().StopLog();
  QCOMPARE(QString::fromStdString(ReadFile(path)), expected);
}

void LineToolsTest::failingLogEndsWithOneMessageAndTheLinkGoesOn_data() {
  QTest::addColumn<bool>("sizeLimit");
  QTest::newRow("unwritable path") << false;
  QTest::newRow("full file") << true;
}

void LineToolsTest::failingLogEndsWithOneMessageAndTheLinkGoesOn() {
  QFETCH(bool, sizeLimit);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QString plain = PathIn(harness, "plain");
  WriteFile(plain, Bytes{'x'});
  QString path = sizeLimit ? PathIn(harness, "line.log") : plain + QStringLiteral("/line.log");
  rlimit before{};
  getrlimit(RLIMIT_FSIZE, &before);
  rlimit small = before;
  small.rlim_cur = 4096;
  if (sizeLimit) QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
  window.Tools().StartLog({path.toStdString(), LogFormat::kRaw, false, true});
  harness.Device().Send(Bytes(8192, 'y'));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("8192"));
  QTRY_COMPARE(harness.Messages().size(), 1);
  if (sizeLimit) setrlimit(RLIMIT_FSIZE, &before);
  QVERIFY(harness.Messages().front().contains(path));
  QVERIFY(!window.Tools().Logger().Active());
  QCOMPARE(Status(harness, StatusLine::Field::kLog), QString());
  // The line goes on.
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("on");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 2), (Bytes{'o', 'n'}));
  QCOMPARE(harness.Messages().size(), 1);
}

void LineToolsTest::fileLabelNamesItsBox_data() {
  QTest::addColumn<QString>("entry");
  QTest::newRow("send file") << QStringLiteral("Send file");
  QTest::newRow("log to file") << QStringLiteral("Log to file");
}

void LineToolsTest::fileLabelNamesItsBox() {
  QFETCH(QString, entry);
  TerminalHarness harness;
  QWidget* buddy = nullptr;
  QWidget* path = nullptr;
  ModalWatcher dialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    for (QLabel* label : open->findChildren<QLabel*>()) {
      if (label->text() == QStringLiteral("&File:")) buddy = label->buddy();
    }
    path = open->findChild<QLineEdit*>(QStringLiteral("path"));
    static_cast<QDialog*>(open)->reject();
  });
  Entry(harness.Window(), entry)->trigger();
  QVERIFY(dialog.Ran());
  QVERIFY(path);
  QCOMPARE(buddy, path);  // Alt+F reaches the box, and the "&" does not show
}

void LineToolsTest::cancelAndStopAreEnabledOnlyWhileTheyCanAct() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QAction* cancel = Entry(window, QStringLiteral("Cancel file send"));
  QAction* stop = Entry(window, QStringLiteral("Stop logging"));
  QVERIFY(!cancel->isEnabled());
  QVERIFY(!stop->isEnabled());
  QVERIFY(window.Tools().StartLog(
      {PathIn(harness, "line.log").toStdString(), LogFormat::kRaw, false, true}));
  QVERIFY(stop->isEnabled());
  stop->trigger();
  QVERIFY(!stop->isEnabled());
  // The device reads nothing, so the file stays queued or in progress.
  QString path = PathIn(harness, "big.bin");
  WriteFile(path, Bytes(200'000, 'x'));
  QVERIFY(window.Tools().SendFile(path, {}));
  QVERIFY(cancel->isEnabled());
  cancel->trigger();
  QTRY_VERIFY(!cancel->isEnabled());
  QVERIFY(!window.Link().Door().Busy());
}

QTEST_MAIN(LineToolsTest)
#include "line_tools_test.moc"
