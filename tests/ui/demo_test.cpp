// quorvel --demo: the window opens on a demo device played in its own
// process, shows its readings and answers, and saves the user's port, not the
// demo's.
#include <QCheckBox>
#include <QTest>

#include "settings/settings.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/command_line.h"
#include "ui/status_line.h"

using namespace quorvel;
using quorvel::testing::TerminalHarness;

class DemoTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void opensOnTheDemoDeviceAndLeavesTheSettingsAsTheUserHadThem();
  void commandLineTakesDemoWithoutADevice_data();
  void commandLineTakesDemoWithoutADevice();
};

void DemoTest::opensOnTheDemoDeviceAndLeavesTheSettingsAsTheUserHadThem() {
  // The user had COM1 selected, their device.
  TerminalHarness harness("[COMConfig]\nCOM=0\n");
  harness.Options().demo = true;
  MainWindow& window = harness.Window();
  int demoPos = window.CurrentSelection().portPos;
  QVERIFY(demoPos != 0);
  QVERIFY(window.Link().Port().IsOpen());
  QVERIFY2(window.windowTitle().endsWith(QStringLiteral("demo device on COM%1").arg(demoPos + 1)),
           qPrintable(window.windowTitle()));
  QVERIFY2(
      window.Status()->Text(StatusLine::Field::kLink).startsWith(QStringLiteral("demo device")),
      qPrintable(window.Status()->Text(StatusLine::Field::kLink)));

  QTRY_VERIFY_WITH_TIMEOUT(harness.Text(kReceiveBox).contains(QStringLiteral("T=")), 5000);
  harness.Click(kSendAsHexCheck);
  harness.Get<ByteTextBox>(kSendBox)->setPlainText(QStringLiteral("49 44 3F 0D 0A"));  // "ID?\r\n"
  harness.Click(kSendButton);
  QTRY_VERIFY_WITH_TIMEOUT(harness.Text(kReceiveBox).contains(QStringLiteral("QUORVEL-DEMO,1.0")),
                           5000);

  window.close();
  Settings saved = LoadSettings(harness.Directory().toStdString());
  QCOMPARE(saved.selection.portPos, 0);
  QCOMPARE(saved.portMap.size(), size_t{1});
  QCOMPARE(saved.portMap.at(1), harness.Device().Path());
  QVERIFY(harness.IniText().find("/dev/pts/") == harness.IniText().rfind("/dev/pts/"));
}

void DemoTest::commandLineTakesDemoWithoutADevice_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("run");
  QTest::addColumn<bool>("demo");
  QTest::newRow("demo") << QStringList{QStringLiteral("--demo")} << true << true;
  QTest::newRow("none") << QStringList{} << true << false;
  QTest::newRow("demo and a device")
      << QStringList{QStringLiteral("--demo"), QStringLiteral("/dev/ttyUSB0")} << false << false;
}

void DemoTest::commandLineTakesDemoWithoutADevice() {
  QFETCH(QStringList, arguments);
  QFETCH(bool, run);
  QFETCH(bool, demo);
  arguments.prepend(QStringLiteral("quorvel"));
  CommandLine command = ParseCommandLine(arguments, {QStringLiteral("/cfg"), QStringLiteral("/h")});
  QCOMPARE(command.run, run);
  QCOMPARE(command.options.demo, demo);
  if (!run) QCOMPARE(command.exitCode, 2);
  CommandLine help = ParseCommandLine({QStringLiteral("quorvel"), QStringLiteral("--help")}, {});
  QVERIFY(help.output.contains(QStringLiteral("--demo")));
}

QTEST_MAIN(DemoTest)
#include "demo_test.moc"
