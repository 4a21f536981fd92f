// What the start has to tell waits for the window: a settings file that
// cannot be read, stored send-list entries the list cannot take, a device on
// the command line that gets no COM number, a port that does not open. The
// window is on screen and its port open before any of them asks for a
// click, each keeps its text, the status line says it too, and a value from
// outside far wider than a screen is shortened in the box (whole under
// "Show Details…").
#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>

#include "link/line_settings.h"
#include "terminal_harness.h"
#include "ui/message_box.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::PtyDevice;
using quorvel::testing::TerminalHarness;

namespace {

// What the window looked like when a message came.
struct Told {
  QString text;
  bool windowShown = false;
  bool portOpen = false;
};

MainWindow* WindowOf(QWidget* parent) {
  return parent ? qobject_cast<MainWindow*>(parent->window()) : nullptr;
}

// No line of `text` wider than a message may show, no unbroken run either.
bool FitsABox(const QString& text) {
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    if (line.size() > kLongestLine) return false;
    for (const QString& run : line.split(QLatin1Char(' '))) {
      if (run.size() > kLongestRun) return false;
    }
  }
  return true;
}

}  // namespace

class StartNoticesTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void aNoticeAtStartWaitsForTheWindowAndItsPort_data();
  void aNoticeAtStartWaitsForTheWindowAndItsPort();
  void theBoxShowsALongNameShortenedWhileTheLinkRuns();
  void longValuesAreShortenedInTheirMiddle_data();
  void longValuesAreShortenedInTheirMiddle();
};

void StartNoticesTest::aNoticeAtStartWaitsForTheWindowAndItsPort_data() {
  QTest::addColumn<QString>("kind");
  QTest::addColumn<QString>("told");  // a part of the notice
  QTest::addColumn<bool>("opens");    // whether the stored port opens
  QTest::newRow("send list entry") << "list"
                                   << "Entry 1 \"future\": The check" << true;
  QTest::newRow("send list entry, name of 10,000 characters") << "long name"
                                                              << "Entry 1 \"" << true;
  QTest::newRow("settings file too large") << "large"
                                           << "is larger than 8 MiB" << true;
  QTest::newRow("device refused") << "refused"
                                  << "every COM number from 1 to 255 is in use" << true;
  QTest::newRow("port that does not open") << "no port"
                                           << "Open com fail!" << false;
}

void StartNoticesTest::aNoticeAtStartWaitsForTheWindowAndItsPort() {
  QFETCH(QString, kind);
  QFETCH(QString, told);
  QFETCH(bool, opens);
  std::string ini;
  if (kind == "list") ini = "[SendList]\nName1=future\nContent1=b\nChecksum1=crc-99\n";
  if (kind == "long name") ini = "[SendList]\nName1=" + std::string(10000, 'n') + "\nContent1=b\n";
  if (kind == "no port") ini = "[COMConfig]\nCOM=4\n[PortMap]\nCOM5=/nonexistent/tty\n";
  PtyDevice asked;
  if (kind == "refused") {
    for (int n = 2; n <= kPortCount; ++n) {
      ini += (n == 2 ? "[PortMap]\n" : "") + std::string("COM") + std::to_string(n) +
             "=/nonexistent/quorvel-" + std::to_string(n) + "\n";
    }
  }
  TerminalHarness harness(ini);
  if (kind == "refused") harness.Options().device = PortTarget::Device(asked.Path());
  if (kind == "large") {
    QFile file(harness.Directory() + "/Quorvel.ini");
    QVERIFY(file.open(QIODevice::Append));
    file.write(QByteArray(9 * 1024 * 1024, ';'));
  }
  QList<Told> messages;
  MessagePresenter recording = SetMessagePresenter([&](QWidget* parent, const QString& text) {
    MainWindow* window = WindowOf(parent);
    messages.append(
        {text, window && window->isVisible(), window && window->Link().Port().IsOpen()});
  });
  MainWindow& window = harness.Window();
  QTRY_VERIFY(!messages.isEmpty());
  SetMessagePresenter(std::move(recording));

  QCOMPARE(messages.size(), 1);
  const Told& notice = messages.front();
  QVERIFY2(notice.text.contains(told), qPrintable(notice.text.left(300)));
  QVERIFY(notice.windowShown);
  QCOMPARE(notice.portOpen, opens);
  QVERIFY(FitsABox(notice.text));
  QString status = window.Status()->Text(StatusLine::Field::kNotices);
  QVERIFY2(status.startsWith(QStringLiteral("start: ")), qPrintable(status));
  QVERIFY(status.size() < 150);
  QVERIFY(!window.Status()->Label(StatusLine::Field::kNotices)->toolTip().isEmpty());
  if (opens) {
    QTRY_VERIFY(window.Status()->Text(StatusLine::Field::kLink).endsWith(QStringLiteral("open")));
  }
}

// The real box, modal, while the link goes on: what the device sends
// meanwhile is counted, what the window sends reaches it.
void StartNoticesTest::theBoxShowsALongNameShortenedWhileTheLinkRuns() {
  const std::string name = "head" + std::string(10000, 'n') + "tail";
  TerminalHarness harness("[SendList]\nName1=" + name + "\nContent1=b\n");
  MessagePresenter recording = SetMessagePresenter({});
  QString shown, details;
  bool windowShown = false;
  std::vector<uint8_t> arrived;
  QString rxWhileShown;
  ModalWatcher box(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    auto* message = qobject_cast<QMessageBox*>(open);
    if (!message) return;
    shown = message->text();
    details = message->detailedText();
    MainWindow* window = WindowOf(message->parentWidget());
    windowShown = window && window->isVisible();
    // Only a window that is up has a link to try; one still being built
    // has nothing to ask here.
    if (windowShown && window->Link().Port().IsOpen()) {
      window->Link().Door().Queue({'O', 'K'});
      arrived = harness.Device().Receive(2, std::chrono::seconds(5));
      harness.Device().Send(std::string("12345"));
      auto* rx = qobject_cast<QLineEdit*>(window->Control(kRxBox));
      auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
      while (rx->text() != QStringLiteral("5") && std::chrono::steady_clock::now() < deadline) {
        QTest::qWait(5);
      }
      rxWhileShown = rx->text();
    }
    message->button(QMessageBox::Ok)->click();
  });
  harness.Window();
  QTRY_VERIFY(box.Ran());
  SetMessagePresenter(std::move(recording));
  QVERIFY(windowShown);
  QCOMPARE(arrived, (std::vector<uint8_t>{'O', 'K'}));
  QCOMPARE(rxWhileShown, QStringLiteral("5"));
  QVERIFY(FitsABox(shown));
  QVERIFY(shown.contains(QStringLiteral("Entry 1 \"head")));
  QVERIFY(shown.contains(QStringLiteral("\u2026")));
  QVERIFY(shown.contains(QStringLiteral("tail\"")));
  QVERIFY(details.contains(QString::fromStdString(name)));
}

void StartNoticesTest::longValuesAreShortenedInTheirMiddle_data() {
  QTest::addColumn<QString>("text");
  QTest::addColumn<QString>("shown");
  const QString run(200, QLatin1Char('x'));
  const QString elided =
      QString(59, QLatin1Char('x')) + QStringLiteral("\u2026") + QString(60, QLatin1Char('x'));
  QTest::newRow("short, as it is") << "Open com fail!"
                                   << "Open com fail!";
  QTest::newRow("a long run") << "name " + run + " here"
                              << "name " + elided + " here";
  QTest::newRow("each line on its own") << run + "\nok" << elided + "\nok";
  const QString words = QStringLiteral("word ").repeated(200);  // 1,000 characters
  QTest::newRow("a long line of words")
      << words << words.left(239) + QStringLiteral("\u2026") + words.right(240);
  const QString wide = QStringLiteral("\U0001F600").repeated(100);  // 200 UTF-16 units
  QTest::newRow("no character split")
      << wide << wide.left(58) + QStringLiteral("\u2026") + wide.right(60);
}

void StartNoticesTest::longValuesAreShortenedInTheirMiddle() {
  QFETCH(QString, text);
  QFETCH(QString, shown);
  QCOMPARE(ShownMessageText(text), shown);
}

QTEST_MAIN(StartNoticesTest)
#include "start_notices_test.moc"
