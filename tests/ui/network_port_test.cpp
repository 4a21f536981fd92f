// Network ports in the window: a [PortMap] entry with rfc2217:// or tcp://
// is listed by its address and "network", opens without holding the window
// up, and the rate chosen in the window reaches the far port; a port that
// cannot be reached says "Open com fail!" and why in the status line.
#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>

#include "support/ser2net_server.h"
#include "terminal_harness.h"
#include "ui/port_list.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::Ser2NetServer;
using quorvel::testing::TerminalHarness;

class NetworkPortTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void theWindowFollowsTheFarPort();
  void anUnreachablePortSaysWhy();
  void rawTcpSaysTheSettingsStayHere();
};

void NetworkPortTest::theWindowFollowsTheFarPort() {
  if (!Ser2NetServer::Available()) QSKIP("ser2net is not installed: tools/install-deps.sh");
  Ser2NetServer server;
  QVERIFY(server.Start());
  TerminalHarness harness("[COMConfig]\nCOM=19\nBRATE=7\n");
  harness.Options().device = PortTarget::Parse(server.Url());
  QElapsedTimer started;
  started.start();
  MainWindow& window = harness.Window();
  QVERIFY2(started.elapsed() < 1000, "the window does not wait for the connection");
  int number = window.CurrentSelection().portPos + 1;
  QCOMPARE(window.Names().DevicePath(number), server.Url());
  auto* box = harness.Get<QComboBox>(kPortSelector);
  QCOMPARE(box->itemData(number - 1, PortList::kLineRole).toString(),
           QString::fromStdString(server.Url()) + QStringLiteral("   network"));
  QTRY_VERIFY(window.Link().Port().IsOpen());
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kLink),
               QString::fromStdString(server.Url()) + QStringLiteral(" open"));
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  QTRY_COMPARE(server.Device().Line().outputSpeed, 9600u);

  // The rate chosen in the window reaches the far board.
  harness.Choose(kBaudSelector, 20);
  QTRY_COMPARE(server.Device().Line().outputSpeed, 921600u);
  // ser2net in front of a pseudo-terminal has no modem lines to show.
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kLines),
               QStringLiteral("lines: not available"));
  server.Device().Send(std::string("hi"));
  QTRY_COMPARE(harness.Text(kRxBox), QStringLiteral("2"));
  QVERIFY(harness.Messages().isEmpty());
  window.close();
  QVERIFY(harness.IniText().find("=" + server.Url()) != std::string::npos);
}

void NetworkPortTest::anUnreachablePortSaysWhy() {
  TerminalHarness harness;
  harness.Options().device = PortTarget::Parse("rfc2217://lab-pi.invalid:7001");
  MainWindow& window = harness.Window();
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  QTRY_COMPARE(harness.Messages(), QStringList{QStringLiteral("Open com fail!")});
  QTRY_COMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QString status = window.Status()->Text(StatusLine::Field::kLink);
  QVERIFY2(status.startsWith(QStringLiteral("rfc2217://lab-pi.invalid:7001 closed \u2014 "
                                            "cannot resolve lab-pi.invalid")),
           qPrintable(status));
}

void NetworkPortTest::rawTcpSaysTheSettingsStayHere() {
  if (!Ser2NetServer::Available()) QSKIP("ser2net is not installed: tools/install-deps.sh");
  Ser2NetServer server(false);
  QVERIFY(server.Start());
  TerminalHarness harness;
  harness.Options().device = PortTarget::Parse(server.Url());
  MainWindow& window = harness.Window();
  QTRY_VERIFY(window.Link().Port().IsOpen());
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kFlow),
               QStringLiteral("raw tcp: line settings local only"));
  QCOMPARE(window.Status()->Text(StatusLine::Field::kLines),
           QStringLiteral("lines: not available"));
}

QTEST_MAIN(NetworkPortTest)
#include "network_port_test.moc"
