// The console in the window, as a user meets it: a real bash on the far
// side of the line (support/shell_peer.h) driven by keys typed into the
// console view, the console as a view of the link session (its traffic
// counted, in the session history, a transfer taking its bytes), the mode
// with its [Console] keys, its commands and the window's keys around it.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "console/console.h"
#include "support/fake_modem.h"
#include "support/lrzsz_peer.h"
#include "support/shell_peer.h"
#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/console_find_bar.h"
#include "ui/console_view.h"
#include "ui/console_viewer.h"
#include "ui/session_view.h"
#include "ui/session_viewer.h"
#include "ui/status_line.h"
#include "ui/transfer_tools.h"
#include "ui/window_commands.h"
#include "ui/window_layout.h"

using namespace quorvel;
using quorvel::testing::FakeModem;
using quorvel::testing::ModalWatcher;
using quorvel::testing::ShellPeer;
using quorvel::testing::TempDir;
using quorvel::testing::TerminalHarness;

namespace {

constexpr int kShellMs = 20'000;
const std::string kShown = "[Console]\nShown=1\n";

std::string PortMap(const std::string& path) {
  return "[PortMap]\nCOM1=" + path + "\n";
}

QString RowOfView(const ConsoleView& view, int row) {
  const ScreenCopy& screen = view.Screen();
  if (row < 0 || row >= static_cast<int>(screen.screen.size())) return {};
  return QString::fromStdString(RowText(screen.screen[static_cast<size_t>(row)]));
}

QString ScreenText(const ConsoleView& view) {
  QStringList rows;
  for (int r = 0; r < view.Rows(); ++r) rows << RowOfView(view, r);
  return rows.join(QLatin1Char('\n'));
}

// Types `text` into the console as keys; LF is Enter.
void Type(QWidget* view, const QString& text) {
  for (QChar c : text) {
    if (c == QLatin1Char('\n')) {
      QTest::keyClick(view, Qt::Key_Return);
    } else {
      QTest::keyClicks(view, QString(c));
    }
  }
}

// The window with its console shown over bash.
struct ShellWindow {
  explicit ShellWindow(const std::string& ini = "",
                       const std::map<std::string, std::string>& env = {})
      : shell(home.path(), env), harness(kShown + ini + PortMap(shell.DevicePath()), 0) {}

  bool Start() {
    if (!shell.Running() || !harness.ShowActive()) return false;
    View()->setFocus();
    if (!View()->hasFocus()) return false;
    // The first prompt may have come before the port opened, which empties
    // the line: Enter asks for another.
    QTest::keyClick(View(), Qt::Key_Return);
    if (WaitForPrompt()) return true;
    qWarning("no prompt; the screen:\n%s", qPrintable(Text()));
    return false;
  }
  ConsoleView* View() { return harness.Window().ConsoleMode().View(); }
  QString Cursor() { return RowOfView(*View(), View()->Screen().cursor.row); }
  QString Text() { return ScreenText(*View()); }
  bool WaitFor(const std::function<bool()>& holds, int ms = kShellMs) {
    return QTest::qWaitFor(holds, ms);
  }
  bool WaitForText(const QString& text) {
    return WaitFor([&] { return Text().contains(text); });
  }
  // The prompt, nothing typed after it.
  bool WaitForPrompt() {
    return WaitFor([&] { return Cursor() == "qv$" && View()->Screen().cursor.column == 4; });
  }

  TempDir home;
  ShellPeer shell;
  TerminalHarness harness;
};

}  // namespace

class ConsoleWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void tabCompletesAndUpRecalls();
  void ctrlCEndsAProgramAndCtrlQReachesTheDevice();
  void lessPagesAndQRestoresTheScreen();
  void aLongCatArrivesWhole();
  void szInTheConsoleStartsTheReceive();
  void trafficCountsAndGoesIntoTheHistory();
  void modeIsKeptAndShownInTheStatusLine();
  void settingsDialogChoosesWhatKeysSend();
  void windowKeysAroundTheConsole();
  void aLargePasteArrivesWhole();
  void findActsOnTheConsoleWhileItShows();
};

void ConsoleWindowTest::tabCompletesAndUpRecalls() {
  ShellWindow window;
  QVERIFY(window.Start());
  Type(window.View(), QStringLiteral("ech"));
  QTest::keyClick(window.View(), Qt::Key_Tab);
  QVERIFY2(window.WaitFor([&] { return window.Cursor() == "qv$ echo"; }),
           qPrintable(window.Text()));
  Type(window.View(), QStringLiteral("completed-$((40+2))\n"));
  QVERIFY2(window.WaitForText("\ncompleted-42\nqv$"), qPrintable(window.Text()));
  QVERIFY(window.WaitForPrompt());
  QTest::keyClick(window.View(), Qt::Key_Up);
  QVERIFY2(window.WaitFor([&] { return window.Cursor() == "qv$ echo completed-$((40+2))"; }),
           qPrintable(window.Text()));
  QTest::keyClick(window.View(), Qt::Key_Return);
  QVERIFY2(window.WaitFor([&] { return window.Text().count("\ncompleted-42\n") == 2; }),
           qPrintable(window.Text()));
}

void ConsoleWindowTest::ctrlCEndsAProgramAndCtrlQReachesTheDevice() {
  ShellWindow window;
  QVERIFY(window.Start());
  Type(window.View(), QStringLiteral("sleep 100; echo not-reached\n"));
  QVERIFY(window.WaitForText("qv$ sleep 100"));
  QTest::keyClick(window.View(), Qt::Key_C, Qt::ControlModifier);
  QVERIFY2(window.WaitForText("^C\nqv$"), qPrintable(window.Text()));
  QVERIFY(window.WaitForPrompt());
  QVERIFY(!window.Text().contains("\nnot-reached"));

  // Ctrl+Q and Ctrl+F are the device's while the console has the keys: the
  // window stays, and cat shows what came.
  // The line's own echo of Enter comes before bash has run stty: a Ctrl+Q
  // sent then would be the line's XON still. Waited for what stty's end says.
  Type(window.View(), QStringLiteral("stty -ixon; echo cat-$((6*7)); cat -v\n"));
  QVERIFY2(window.WaitForText("\ncat-42\n"), qPrintable(window.Text()));
  QTest::keyClick(window.View(), Qt::Key_Q, Qt::ControlModifier);
  QTest::keyClick(window.View(), Qt::Key_F, Qt::ControlModifier);
  QTest::keyClick(window.View(), Qt::Key_Return);
  QVERIFY2(window.WaitForText("\n^Q^F\n"), qPrintable(window.Text()));
  QVERIFY(window.harness.Window().isVisible());
  QTest::keyClick(window.View(), Qt::Key_D, Qt::ControlModifier);
  QVERIFY(window.WaitForPrompt());
}

void ConsoleWindowTest::lessPagesAndQRestoresTheScreen() {
  ShellWindow window;
  std::string lines;
  for (int i = 1; i <= 300; ++i) lines += "paged line " + std::to_string(i) + "\n";
  quorvel::testing::WriteFile(window.home / "pages.txt", lines);
  QVERIFY(window.Start());
  // The shell's line starts at 24 x 80, whatever room the window gives the
  // grid: less learns the grid's size as a user's shell would.
  window.View()->SendSize();
  QVERIFY(window.WaitForPrompt());
  Type(window.View(), QStringLiteral("echo before-less\n"));
  QVERIFY(window.WaitForPrompt());
  Type(window.View(), QStringLiteral("less pages.txt\n"));
  QVERIFY2(window.WaitFor([&] {
    return window.View()->Screen().altScreen && window.Text().contains("paged line 3\n");
  }),
           qPrintable(window.Text()));
  QVERIFY(!window.Text().contains("before-less"));
  int rows = window.View()->Rows();
  Type(window.View(), QStringLiteral(" "));  // the next page
  QString next = QStringLiteral("paged line %1\n").arg(2 * (rows - 1));
  QVERIFY2(window.WaitForText(next), qPrintable(window.Text()));
  Type(window.View(), QStringLiteral("q"));
  QVERIFY(window.WaitFor([&] { return !window.View()->Screen().altScreen; }));
  QVERIFY(window.WaitForPrompt());
  QVERIFY2(window.Text().contains("before-less"), qPrintable(window.Text()));
  QVERIFY(!window.Text().contains("paged line"));
}

void ConsoleWindowTest::aLongCatArrivesWhole() {
  ShellWindow window;
  constexpr int kLines = 20'000;
  std::string lines;
  for (int i = 1; i <= kLines; ++i) {
    lines += "\x1b[01;34mrow\x1b[0m " + std::to_string(i) + " \x1b[32mok\x1b[0m\n";
  }
  quorvel::testing::WriteFile(window.home / "rows.txt", lines);
  QVERIFY(window.Start());
  Type(window.View(), QStringLiteral("cat rows.txt; echo listing-done\n"));
  QVERIFY2(window.WaitForText("\nlisting-done\nqv$"), qPrintable(window.Text()));

  // Every row in order, in the scrollback and on the screen, and the
  // receive box behind the console got the same bytes.
  Console& console = *window.harness.Window().ConsoleMode().Terminal();
  const ScreenCopy& screen = window.View()->Screen();
  int expected = 1;
  ConsoleRow row;
  for (uint64_t line = screen.firstLine;
       line < screen.screenLine + static_cast<uint64_t>(screen.rows) && expected <= kLines;
       ++line) {
    QVERIFY(console.ReadLine(line, row));
    std::string text = RowText(row);
    if (expected == 1 && text != "row 1 ok") continue;
    QCOMPARE(QString::fromStdString(text), QStringLiteral("row %1 ok").arg(expected));
    ++expected;
  }
  QCOMPARE(expected, kLines + 1);
  QVERIFY(window.harness.Counters().rxCount > lines.size());
  QCOMPARE(console.DroppedBytes(), uint64_t(0));
}

void ConsoleWindowTest::szInTheConsoleStartsTheReceive() {
  if (!quorvel::testing::LrzszProcess::Available()) {
    QSKIP(quorvel::testing::LrzszProcess::kMissing);
  }
  TempDir folder;
  std::string content;
  for (int i = 0; i < 400; ++i) content += "zmodem-payload-" + std::to_string(i) + "\n";
  ShellWindow window(
      "[View]\nZmodemAutoStart=1\n[Transfer]\nReceiveDirectory=" + folder.path().string() + "\n",
      {{"QV_SHIM", QUORVEL_LRZSZ_SHIM}});
  quorvel::testing::WriteFile(window.home / "data.txt", content);
  QVERIFY(window.Start());
  // lrzsz's programs throw away their last answer on a pseudo-terminal
  // unless the shim keeps it (support/lrzsz_shim.c).
  Type(window.View(), QStringLiteral("LD_PRELOAD=$QV_SHIM sz -q data.txt\n"));
  QString received = QString::fromStdString((folder / "data.txt").string());
  QVERIFY(QTest::qWaitFor([&] { return QFile::exists(received); }, 30'000));
  QVERIFY(QTest::qWaitFor([&] { return !window.harness.Window().Transfers().Running(); }, 30'000));
  QCOMPARE(quorvel::testing::ReadAll(folder / "data.txt"), content);
  // The transfer took the bytes: the console heard the request, not the
  // file, and has the shell again once it ended. (What the shell says in
  // the moment after sz ends stays with the transfer's reader: Enter asks
  // for a prompt of its own.)
  QTest::keyClick(window.View(), Qt::Key_Return);
  Type(window.View(), QStringLiteral("echo after-$((1+1))\n"));
  QVERIFY2(window.WaitForText("\nafter-2\nqv$"), qPrintable(window.Text()));
  QVERIFY(!window.Text().contains("zmodem-payload"));
}

void ConsoleWindowTest::trafficCountsAndGoesIntoTheHistory() {
  ShellWindow window("[View]\nSessionView=1\nStamps=none\n");
  QVERIFY(window.Start());
  MainWindow& main = window.harness.Window();
  // The session view is on, behind the console: its history goes on.
  QVERIFY(main.Session().On());
  QVERIFY(main.Session().View()->isHidden());
  // What the start sent is counted once its send is over.
  QTRY_VERIFY(!main.Link().Door().Busy());
  uint64_t txBefore = window.harness.Counters().txCount;
  uint64_t rxBefore = window.harness.Counters().rxCount;
  Type(window.View(), QStringLiteral("echo history-$((6*7))\n"));
  QVERIFY(window.WaitForText("\nhistory-42\n"));
  QVERIFY(window.WaitForPrompt());
  QTRY_COMPARE(window.harness.Counters().txCount, txBefore + 22);
  QVERIFY(window.harness.Counters().rxCount > rxBefore + 21);

  // Switching back loses nothing: the session view shows both ways.
  main.Commands().Action(Command::kConsole)->trigger();
  QVERIFY(window.View()->isHidden());
  QVERIFY(!main.Session().View()->isHidden());
  QTRY_VERIFY(main.Session().View()->ShownRows().join('\n').contains("history-42"));
  // The keys went one by one: the history's sent runs, end to end, are the
  // line typed (however many rows they took, more than the view may show).
  std::string typed;
  main.Session().Store().ForEachRun([&](const SessionStore::Run& run) {
    if (run.kind == SessionKind::kSent) typed.append(run.bytes.begin(), run.bytes.end());
    return true;
  });
  QVERIFY2(typed.find("echo history-$((6*7))") != std::string::npos, typed.c_str());

  // And back: the console kept listening while hidden.
  main.Commands().Action(Command::kConsole)->trigger();
  QVERIFY(!window.View()->isHidden());
  QVERIFY(main.Session().View()->isHidden());
  Type(window.View(), QStringLiteral("echo back\n"));
  QVERIFY(window.WaitForText("\nback\nqv$"));
}

void ConsoleWindowTest::modeIsKeptAndShownInTheStatusLine() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  QAction* mode = window.Commands().Action(Command::kConsole);
  QVERIFY(!mode->isChecked());
  QVERIFY(window.ConsoleMode().Terminal() == nullptr);  // nothing made until shown
  QVERIFY(window.Status()->Text(StatusLine::Field::kConsole).isEmpty());
  QVERIFY(!window.Commands().Action(Command::kSendTerminalSize)->isEnabled());
  QVERIFY(harness.ShowActive());

  QTest::keyClick(&window, Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier);
  QVERIFY(mode->isChecked());
  ConsoleView* view = window.ConsoleMode().View();
  QVERIFY(view && !view->isHidden());
  QTRY_VERIFY(view->hasFocus());
  QVERIFY(window.Control(kReceiveBox)->isHidden());
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kConsole),
               QStringLiteral("console %1\u00d7%2").arg(view->Columns()).arg(view->Rows()));
  QVERIFY(view->Columns() > 20 && view->Rows() > 5);
  QVERIFY(harness.IniText().find("[Console]\nShown=1") != std::string::npos);

  // The grid follows the window, and the status line the grid.
  int columns = view->Columns();
  window.resize(window.width() + 200, window.height() + 100);
  QTRY_VERIFY(view->Columns() > columns);
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kConsole),
               QStringLiteral("console %1\u00d7%2").arg(view->Columns()).arg(view->Rows()));

  // "Send terminal size" tells the device the grid.
  harness.Drain(0);
  window.Commands().Action(Command::kSendTerminalSize)->trigger();
  std::string stty =
      QStringLiteral("stty rows %1 cols %2\r").arg(view->Rows()).arg(view->Columns()).toStdString();
  std::vector<uint8_t> sent = harness.Receive(0, stty.size());
  QCOMPARE(std::string(sent.begin(), sent.end()), stty);

  // The console hidden again (its key from inside it, Ctrl+Shift being the
  // window's): the receive box is back.
  QTest::keyClick(view, Qt::Key_F7, Qt::ControlModifier | Qt::ShiftModifier);
  QVERIFY(!mode->isChecked());
  QVERIFY(view->isHidden());
  QVERIFY(!window.Control(kReceiveBox)->isHidden());
  QVERIFY(window.Status()->Text(StatusLine::Field::kConsole).isEmpty());
  QVERIFY(harness.IniText().find("[Console]\nShown=0") != std::string::npos);
}

void ConsoleWindowTest::settingsDialogChoosesWhatKeysSend() {
  TerminalHarness harness(kShown);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  bool firstFocused = false;
  ModalWatcher choose(ModalWatcher::Kind::kDialog, [&](QWidget* dialog) {
    auto boxes = dialog->findChildren<QComboBox*>();
    // The field the dialog gives the focus to, whether or not the window
    // manager has made it active yet.
    firstFocused = !boxes.isEmpty() && dialog->focusWidget() == boxes.front();
    boxes.at(0)->setCurrentIndex(2);  // Enter: CR LF
    boxes.at(1)->setCurrentIndex(1);  // Backspace: BS
    dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  window.Commands().Action(Command::kConsoleSettings)->trigger();
  QVERIFY(choose.Ran());
  QVERIFY(firstFocused);
  std::string ini = harness.IniText();
  QVERIFY(ini.find("Enter=crlf") != std::string::npos);
  QVERIFY(ini.find("Backspace=bs") != std::string::npos);
  ConsoleView* view = window.ConsoleMode().View();
  // The window is active again once the dialog went, the console's keys.
  QVERIFY(harness.ShowActive());
  QTRY_VERIFY(view->hasFocus());
  harness.Drain(0);
  QTest::keyClick(view, Qt::Key_A);
  QTest::keyClick(view, Qt::Key_Backspace);
  QTest::keyClick(view, Qt::Key_Return);
  std::vector<uint8_t> sent = harness.Receive(0, 4);
  QCOMPARE(std::string(sent.begin(), sent.end()), std::string("a\b\r\n"));
}

void ConsoleWindowTest::windowKeysAroundTheConsole() {
  FakeModem modem;
  TerminalHarness harness(kShown);
  harness.UseModem(&modem);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  ConsoleView* view = window.ConsoleMode().View();
  QTRY_VERIFY(view->hasFocus());

  // Send break from the console: Ctrl+Shift is the window's.
  modem.ClearCalls();
  QTest::keyClick(view, Qt::Key_B, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_COMPARE(modem.Calls().size(), size_t(1));
  QCOMPARE(int(modem.Calls()[0].kind), int(FakeModem::Kind::kBreak));

  // The text size: the grid follows the window's zoom.
  int columns = view->Columns();
  int points = window.Layout().TextPoints();
  QTest::keyClick(view, Qt::Key_Plus, Qt::ControlModifier);
  QTRY_COMPARE(window.Layout().TextPoints(), points + 1);
  QTRY_VERIFY(view->Columns() < columns);
  QTest::keyClick(view, Qt::Key_0, Qt::ControlModifier);
  QTRY_COMPARE(window.Layout().TextPoints(), kDefaultTextPoints);
  QTRY_COMPARE(view->Columns(), columns);
  // None of them reached the device.
  QVERIFY(harness.Drain(0).empty());

  // Ctrl+Shift+Q quits from the console as Ctrl+Q does elsewhere.
  QTest::keyClick(view, Qt::Key_Q, Qt::ControlModifier | Qt::ShiftModifier);
  QTRY_VERIFY(!window.isVisible());
}

void ConsoleWindowTest::aLargePasteArrivesWhole() {
  TerminalHarness harness(kShown);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  ConsoleView* view = window.ConsoleMode().View();
  QTRY_VERIFY(view->hasFocus());
  QString text;
  std::string expected;
  for (int i = 0; i < 4000; ++i) {
    QString line = QStringLiteral("pasted line %1 of the paste").arg(i);
    text += line + QLatin1Char('\n');
    expected += line.toStdString() + "\r";
  }
  harness.Drain(0);
  uint64_t txBefore = harness.Counters().txCount;
  QApplication::clipboard()->setText(text);
  QTest::keyClick(view, Qt::Key_V, Qt::ControlModifier | Qt::ShiftModifier);
  std::vector<uint8_t> got = harness.Receive(0, expected.size(), std::chrono::seconds(30));
  QCOMPARE(got.size(), expected.size());
  QVERIFY(std::string(got.begin(), got.end()) == expected);
  QTRY_VERIFY(!window.ConsoleMode().Terminal()->Pasting());
  QCOMPARE(harness.Counters().txCount, txBefore + expected.size());
  // The session view's own key was not taken: the paste was the console's.
  QVERIFY(!window.Session().On());
}

void ConsoleWindowTest::findActsOnTheConsoleWhileItShows() {
  TerminalHarness harness(kShown);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  std::string lines;
  for (int i = 0; i < 300; ++i) lines += "line " + std::to_string(i) + "\r\n";
  lines += "needle-here\r\n";
  for (int i = 0; i < 300; ++i) lines += "after " + std::to_string(i) + "\r\n";
  harness.Device().Send(lines);
  ConsoleView* view = window.ConsoleMode().View();
  QTRY_VERIFY(ScreenText(*view).contains("after 299"));
  QAction* find = window.Commands().Action(Command::kFind);
  QVERIFY(find->isEnabled());
  QVERIFY(find->text().contains("console"));
  find->trigger();
  ConsoleFindBar* bar = window.ConsoleMode().FindBar();
  QVERIFY(bar->isVisible());
  QVERIFY(!window.Session().On());  // and the session view's bar was not made
  QTest::keyClicks(bar->TextBox(), QStringLiteral("needle"));
  QTest::keyClick(bar->TextBox(), Qt::Key_Return);
  QVERIFY(view->Match().has_value());
  QVERIFY(view->ShownRows().join('\n').contains("needle-here"));
  QTest::keyClick(bar->TextBox(), Qt::Key_Escape);
  QVERIFY(bar->isHidden());
  QTRY_VERIFY(view->hasFocus());
  // Hidden, the window's Find is the session view's again (off here).
  window.ConsoleMode().SetShown(false);
  QVERIFY(!find->isEnabled());
}

QTEST_MAIN(ConsoleWindowTest)
#include "console_window_test.moc"
