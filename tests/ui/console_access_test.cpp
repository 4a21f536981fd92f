// The console as a screen reader reads it over AT-SPI: the window with the
// console shown, a device that scrolls numbered lines off the screen, clears
// it and writes coloured text at known rows with cursor moves, and
// tests/ui/atspi_probe.py reading the console's accessible object as a
// reader does. It reads as a terminal whose text is the visible screen, one
// line per row, top first, a character's column its place in its line, the
// cursor's place as the caret, and none of the scrollback.
// tests/ui/atspi_session.sh gives the test a display and the buses
// (ui_console_access_test_atspi); elsewhere it skips.
#include <QEventLoop>
#include <QGuiApplication>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include "console/console.h"
#include "terminal_harness.h"
#include "ui/console_view.h"
#include "ui/console_viewer.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

namespace {

constexpr int kOldLines = 120;  // more than any screen has rows

// The device's side: numbered lines that scroll off, a cleared screen, then
// known text at known places with colours between its words.
std::string DeviceText() {
  std::string text;
  for (int i = 1; i <= kOldLines; ++i)
    text += QStringLiteral("old-%1\r\n").arg(i, 3, 10, QLatin1Char('0')).toStdString();
  text += "\x1b[H\x1b[2J";
  text += "\x1b[1;31mred\x1b[0m plain \x1b[32;44mgreen-on-blue\x1b[0m";
  text += "\x1b[5;10H\x1b[33mat-row-5\x1b[39m";   // row 4, column 9
  text += "\x1b[8;3H\x1b[7mcursor-here\x1b[27m";  // leaves the cursor at row 7, column 13
  return text;
}

QString ScreenRow(const ConsoleView& view, int row) {
  const ScreenCopy& screen = view.Screen();
  if (row < 0 || row >= static_cast<int>(screen.screen.size())) return {};
  return QString::fromStdString(RowText(screen.screen[static_cast<size_t>(row)]));
}

// Runs `probe` to its end (at most 30 s) while the window answers it.
QByteArray RunProbe(QProcess& probe, const QStringList& arguments) {
  QByteArray said;
  QEventLoop loop;
  QObject::connect(&probe, &QProcess::readyReadStandardOutput, &loop,
                   [&] { said += probe.readAllStandardOutput(); });
  QObject::connect(&probe, &QProcess::finished, &loop, &QEventLoop::quit);
  QObject::connect(&probe, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
  QTimer::singleShot(30000, &loop, &QEventLoop::quit);
  probe.start(QStringLiteral("/usr/bin/python3"), arguments);
  loop.exec();
  probe.waitForFinished(1000);
  said += probe.readAllStandardOutput();
  return said;
}

}  // namespace

class ConsoleAccessTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void consoleScreenReadsOverAtSpi();
};

void ConsoleAccessTest::consoleScreenReadsOverAtSpi() {
  if (QGuiApplication::platformName() != QLatin1String("xcb")) {
    QSKIP("AT-SPI is read on a display: tests/ui/atspi_session.sh runs this");
  }
  TerminalHarness harness("[Console]\nShown=1\n");
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  ConsoleView* view = window.ConsoleMode().View();
  QVERIFY(view && view->isVisible());
  harness.Device().Send(DeviceText());
  QVERIFY2(QTest::qWaitFor([&] {
             const ConsoleCursor& cursor = view->Screen().cursor;
             return cursor.row == 7 && cursor.column == 13 &&
                    ScreenRow(*view, 7).endsWith("cursor-here");
           }),
           qPrintable(ScreenRow(*view, 7)));
  // The scrollback holds the first lines, so leaving them out is a choice.
  ConsoleRow oldest;
  QVERIFY(window.ConsoleMode().Terminal()->ReadLine(view->Screen().firstLine, oldest));
  QCOMPARE(QString::fromStdString(RowText(oldest)), QStringLiteral("old-001"));

  QProcess probe;
  QByteArray said = RunProbe(
      probe, {QStringLiteral(QUORVEL_TESTS_DIR "/ui/atspi_probe.py"),
              QString::number(QCoreApplication::applicationPid()), QStringLiteral("--terminal")});
  if (probe.exitCode() == 77) QSKIP("the window is not on the accessibility bus");
  QVERIFY2(probe.exitCode() == 0, probe.readAllStandardError().constData());
  QJsonObject read = QJsonDocument::fromJson(said).object();
  QVERIFY2(!read.isEmpty(), said.constData());

  const QString text = read[QStringLiteral("text")].toString();
  const QStringList lines = text.split(QLatin1Char('\n'));
  auto line = [&](int row) { return row < lines.size() ? lines[row] : QStringLiteral("(none)"); };
  auto startOf = [&](int row) {
    qsizetype offset = 0;
    for (int r = 0; r < row && r < lines.size(); ++r) offset += lines[r].size() + 1;
    return static_cast<int>(offset);
  };
  QStringList blankRows;
  for (int r = 0; r < lines.size(); ++r) {
    if (r != 0 && r != 4 && r != 7 && !lines[r].isEmpty()) blankRows << line(r);
  }
  struct Check {
    const char* what;
    QVariant read, expected;
  };
  const Check checks[] = {
      {"role", read[QStringLiteral("role")].toString(), QStringLiteral("terminal")},
      {"one line per row", static_cast<int>(lines.size()), view->Rows()},
      {"characters counted", read[QStringLiteral("count")].toInt(), static_cast<int>(text.size())},
      {"top row", line(0), QStringLiteral("red plain green-on-blue")},
      {"row 4", line(4), QString(9, QLatin1Char(' ')) + QStringLiteral("at-row-5")},
      {"column of at-row-5",
       static_cast<int>(text.indexOf(QStringLiteral("at-row-5"))) - startOf(4), 9},
      {"row 7", line(7), QStringLiteral("  cursor-here")},
      {"other rows blank", blankRows.join(QLatin1Char('|')), QString()},
      {"caret", read[QStringLiteral("caret")].toInt(), startOf(7) + 13},
      {"caret's line", read[QStringLiteral("caretLine")].toString(),
       QStringLiteral("  cursor-here\n")},
      {"no scrollback", text.contains(QStringLiteral("old-")), false},
  };
  QStringList wrong;
  for (const Check& check : checks) {
    if (check.read != check.expected) {
      wrong << QStringLiteral("%1: read \"%2\", expected \"%3\"")
                   .arg(QLatin1String(check.what), check.read.toString(),
                        check.expected.toString());
    }
  }
  QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QLatin1Char('\n')) + "\nthe text:\n" + text));
}

QTEST_MAIN(ConsoleAccessTest)
#include "console_access_test.moc"
