// The Script pane in the real window against a pseudo-terminal device: a
// script opened from a file and run by its key, its sends and the device's
// answers, its line settings run on the UI thread, its steps in the output
// and the status line; and every way a running script ends from outside (a
// runaway stopped by Stop, the port closed, the window closed while the
// script waits for the UI thread), each promptly and cleanly.
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QtTest>
#include <chrono>

#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/command_table.h"
#include "ui/script_editor.h"
#include "ui/script_pane.h"
#include "ui/script_viewer.h"
#include "ui/status_line.h"
#include "ui/window_commands.h"

namespace quorvel {
namespace {

using testing::TerminalHarness;

QString ScriptStatus(MainWindow& window) {
  return window.Status()->Text(StatusLine::Field::kScript);
}

QString Output(MainWindow& window) {
  return window.Script().Pane()->Output().toPlainText();
}

}  // namespace

class ScriptPaneTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void runsAFileAgainstTheLine();
  void aScriptErrorNamesItsLine();
  void endsWhenStoppedFromOutside_data();
  void endsWhenStoppedFromOutside();
};

void ScriptPaneTest::runsAFileAgainstTheLine() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QVERIFY(!window.Script().Pane());  // nothing made until first shown
  QVERIFY(harness.ShowActive());
  QTest::keyClick(&window, Qt::Key_U, Qt::ControlModifier | Qt::ShiftModifier);
  ScriptPane* pane = window.Script().Pane();
  QVERIFY(pane && pane->isVisible());
  QVERIFY(harness.IniText().find("[Script]\nShown=1\n") != std::string::npos);

  QString path = harness.Directory() + QStringLiteral("/board.lua");
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(
      "send('ping\\n')\n"
      "check(expect('pong', 5000), 'answered')\n"
      "check(set{baud = 19200}, 'rate')\n"
      "print('done')\n"
      "sleep(200)\n");
  file.close();
  QString problem;
  QVERIFY2(pane->OpenFile(path, problem), qPrintable(problem));
  QVERIFY(harness.IniText().find("File=" + path.toStdString() + "\n") != std::string::npos);

  QTest::keyClick(&window, Qt::Key_F5);
  QVERIFY(window.Script().Running());
  QVERIFY(ScriptStatus(window).startsWith(QStringLiteral("script: running ")));
  QVERIFY(!pane->RunButton()->isEnabled());
  QVERIFY(window.Commands().Action(Command::kStopScript)->isEnabled());
  QCOMPARE(harness.Receive(0, 5), std::vector<uint8_t>({'p', 'i', 'n', 'g', '\n'}));
  // The user's own send goes while the script waits.
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("user");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 4), std::vector<uint8_t>({'u', 's', 'e', 'r'}));
  harness.Device().Send("pong");
  QTRY_COMPARE(ScriptStatus(window), QStringLiteral("script: 2 passed"));
  QCOMPARE(harness.Device().Line().outputSpeed, 19200u);
  QCOMPARE(harness.Get<QComboBox>(kBaudSelector)->currentText(), QStringLiteral("19200"));
  QString output = Output(window);
  QVERIFY2(output.contains(QStringLiteral("PASS answered")), qPrintable(output));
  QVERIFY2(output.contains(QStringLiteral("PASS rate")), qPrintable(output));
  QVERIFY2(output.contains(QStringLiteral("done")), qPrintable(output));
  QVERIFY(pane->RunButton()->isEnabled());

  // Across a restart the pane shows again with the same file.
  harness.CloseWindow();
  QTRY_VERIFY(harness.Window().Script().Shown());
  QCOMPARE(harness.Window().Script().Pane()->File(), path);
  QVERIFY(harness.Window().Script().Pane()->Code().contains(QStringLiteral("pong")));
}

void ScriptPaneTest::aScriptErrorNamesItsLine() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  window.Script().SetShown(true);
  ScriptPane* pane = window.Script().Pane();
  pane->Editor().setPlainText(QStringLiteral("check(true)\n\nx = = 1\n"));
  QVERIFY(!window.Script().Run());
  QVERIFY2(Output(window).contains(QStringLiteral("script.lua:3:")), qPrintable(Output(window)));
  QCOMPARE(pane->Editor().textCursor().blockNumber(), 2);
  QCOMPARE(ScriptStatus(window), QStringLiteral("script: error"));

  pane->Editor().setPlainText(QStringLiteral("check(true)\nlocal f\nf()\n"));
  QVERIFY(window.Script().Run());
  QTRY_VERIFY2(Output(window).contains(QStringLiteral("script.lua:3: attempt to call")),
               qPrintable(Output(window)));
  QCOMPARE(ScriptStatus(window), QStringLiteral("script: error"));
}

void ScriptPaneTest::endsWhenStoppedFromOutside_data() {
  QTest::addColumn<QString>("code");
  QTest::addColumn<int>("how");  // 0 Stop, 1 the port closed, 2 the window closed
  QTest::newRow("a runaway loop, Stop") << QStringLiteral("while true do end") << 0;
  QTest::newRow("a wait, the port closed")
      << QStringLiteral("while true do expect('never', 100000) end") << 1;
  // Each set{} waits for the UI thread, which waits for the script's end.
  QTest::newRow("line settings in a loop, the window closed")
      << QStringLiteral("while true do set{baud = 9600} set{baud = 19200} end") << 2;
  QTest::newRow("sends in a loop, the window closed")
      << QStringLiteral("while true do send(string.rep('x', 4096)) end") << 2;
}

void ScriptPaneTest::endsWhenStoppedFromOutside() {
  QFETCH(QString, code);
  QFETCH(int, how);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  window.Script().SetShown(true);
  window.Script().Pane()->Editor().setPlainText(code);
  QVERIFY(window.Script().Run());
  QTest::qWait(100);  // well inside its loop
  QVERIFY(window.Script().Running());
  auto began = std::chrono::steady_clock::now();
  if (how == 2) {
    harness.CloseWindow();
    QVERIFY(std::chrono::steady_clock::now() - began < std::chrono::seconds(5));
    return;
  }
  if (how == 0) window.Commands().Action(Command::kStopScript)->trigger();
  if (how == 1) harness.Click(kOpenCloseButton);
  QTRY_COMPARE(ScriptStatus(window), QStringLiteral("script: stopped"));
  QVERIFY(std::chrono::steady_clock::now() - began < std::chrono::seconds(5));
  QVERIFY2(Output(window).contains(QStringLiteral("FAIL stopped")), qPrintable(Output(window)));
  QVERIFY(!window.Commands().Action(Command::kStopScript)->isEnabled());
}

}  // namespace quorvel

QTEST_MAIN(quorvel::ScriptPaneTest)
#include "script_pane_test.moc"
