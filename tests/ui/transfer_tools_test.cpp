// The window's file transfers, driven as a user would against lrzsz: "Send
// file…" with a protocol, "Receive file…" into a folder, the progress in the
// status line, the end told, the choices kept, and a link closed midway.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QTest>

#include "support/lrzsz_peer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/status_line.h"
#include "ui/transfer_dialogs.h"
#include "ui/transfer_tools.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::LrzszPeer;
using quorvel::testing::LrzszProcess;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TempDir;
using quorvel::testing::TerminalHarness;

namespace {

QAction* Entry(MainWindow& window, Command command) {
  return window.Commands().Action(command);
}

std::string PortMap(const std::string& path) {
  return "[PortMap]\nCOM1=" + path + "\n";
}

std::string Content(size_t size) {
  std::vector<uint8_t> bytes = quorvel::testing::SeededBytes(size, 21);
  if (bytes.back() == 0x1A) bytes.back() = 0;
  return {bytes.begin(), bytes.end()};
}

void Choose(QWidget* dialog, const char* name, const char* key) {
  auto* box = dialog->findChild<QComboBox*>(QString::fromLatin1(name));
  box->setCurrentIndex(box->findData(QString::fromLatin1(key)));
}

}  // namespace

class TransferToolsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void sendsWithTheProtocolChosenInSendFile_data();
  void sendsWithTheProtocolChosenInSendFile();
  void receivesIntoTheChosenFolder_data();
  void receivesIntoTheChosenFolder();
  void aDeviceStartingZmodemIsReceivedWhenAutoStartIsOn_data();
  void aDeviceStartingZmodemIsReceivedWhenAutoStartIsOn();
  void cancelIsToldAndClosingThePortEndsATransfer();
};

void TransferToolsTest::sendsWithTheProtocolChosenInSendFile_data() {
  QTest::addColumn<QString>("protocol");
  QTest::addColumn<QStringList>("peer");
  QTest::newRow("ymodem") << "ymodem" << QStringList{"rb", "-q"};
  QTest::newRow("xmodem-1k") << "xmodem-1k" << QStringList{"rx", "-q", "-c", "data.bin"};
  QTest::newRow("zmodem") << "zmodem" << QStringList{"rz", "-q"};
}

void TransferToolsTest::sendsWithTheProtocolChosenInSendFile() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(QString, protocol);
  QFETCH(QStringList, peer);
  TempDir there;
  std::vector<std::string> command;
  for (const QString& arg : peer) command.push_back(arg.toStdString());
  LrzszPeer device(command, there.path());
  QVERIFY(device.AwaitFirstBytes(std::chrono::seconds(10)));  // a receiver asks first
  TerminalHarness harness(PortMap(device.DevicePath()), 0);
  MainWindow& window = harness.Window();
  std::string content = Content(30000);
  QString path = QDir(harness.Directory()).filePath(QStringLiteral("data.bin"));
  quorvel::testing::WriteFile(path.toStdString(), content);
  ModalWatcher answer(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    Choose(open, "protocol", protocol.toLatin1().constData());
    open->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
    static_cast<QDialog*>(open)->accept();
  });
  Entry(window, Command::kSendFile)->trigger();
  QVERIFY(answer.Ran());
  QTRY_VERIFY_WITH_TIMEOUT(!window.Transfers().Running(), 30000);
  QTRY_VERIFY(window.Status()->Text(StatusLine::Field::kFileTransfer).contains("done"));
  QCOMPARE(device.WaitExit(std::chrono::seconds(10)), std::optional<int>(0));
  std::string got = quorvel::testing::ReadAll(there / "data.bin");
  got.resize(std::min(got.size(), content.size()));
  QVERIFY(got == content);
  QVERIFY(harness.Messages().isEmpty());
  QCOMPARE(harness.Text(kReceiveBox), QString());
  QVERIFY(QString::fromStdString(harness.IniText()).contains("SendProtocol=" + protocol));
}

void TransferToolsTest::receivesIntoTheChosenFolder_data() {
  QTest::addColumn<QString>("protocol");
  QTest::addColumn<QStringList>("peer");
  QTest::addColumn<bool>("talksFirst");  // sz calls the receiver; sx and sb wait to be asked
  QTest::newRow("ymodem") << "ymodem" << QStringList{"sb", "-q", "-k", "data.bin"} << false;
  QTest::newRow("xmodem") << "xmodem" << QStringList{"sx", "-q", "data.bin"} << false;
  QTest::newRow("zmodem") << "zmodem" << QStringList{"sz", "-q", "data.bin"} << true;
}

void TransferToolsTest::receivesIntoTheChosenFolder() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(QString, protocol);
  QFETCH(QStringList, peer);
  QFETCH(bool, talksFirst);
  TempDir there;
  TempDir folder;
  std::string content = Content(20000);
  quorvel::testing::WriteFile(there / "data.bin", content);
  std::vector<std::string> command;
  for (const QString& arg : peer) command.push_back(arg.toStdString());
  LrzszPeer device(command, there.path());
  if (talksFirst) QVERIFY(device.AwaitFirstBytes(std::chrono::seconds(10)));
  TerminalHarness harness(PortMap(device.DevicePath()), 0);
  MainWindow& window = harness.Window();
  ModalWatcher answer(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    Choose(open, "protocol", protocol.toLatin1().constData());
    open->findChild<QLineEdit*>(QStringLiteral("folder"))
        ->setText(QString::fromStdString(folder.path().string()));
    open->findChild<QLineEdit*>(QStringLiteral("fileName"))->setText(QStringLiteral("data.bin"));
    static_cast<QDialog*>(open)->accept();
  });
  Entry(window, Command::kReceiveFile)->trigger();
  QVERIFY(answer.Ran());
  QTRY_VERIFY_WITH_TIMEOUT(!window.Transfers().Running(), 30000);
  // The protocol chosen ran (lrzsz's sz falls back to YMODEM for a receiver
  // that asks with "C").
  QVERIFY(window.Status()->Text(StatusLine::Field::kFileTransfer).startsWith(protocol.toUpper()));
  QVERIFY(quorvel::testing::ReadAll(folder / "data.bin") == content);
  QVERIFY(harness.Messages().isEmpty());
  QTRY_COMPARE(harness.Text(kRxBox).toInt() > 20000, true);
  QCOMPARE(harness.Text(kReceiveBox), QString());
  QVERIFY(QString::fromStdString(harness.IniText()).contains("ReceiveProtocol=" + protocol));
}

void TransferToolsTest::aDeviceStartingZmodemIsReceivedWhenAutoStartIsOn_data() {
  QTest::addColumn<bool>("autoStart");
  QTest::newRow("on") << true;
  QTest::newRow("off") << false;
}

void TransferToolsTest::aDeviceStartingZmodemIsReceivedWhenAutoStartIsOn() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(bool, autoStart);
  TempDir there;
  TempDir folder;
  std::string content = Content(5000);
  quorvel::testing::WriteFile(there / "data.bin", content);
  LrzszPeer device({"sz", "-q", "data.bin"}, there.path(), {}, LrzszPeer::When::kLater);
  TerminalHarness harness(std::string("[View]\nZmodemAutoStart=") + (autoStart ? "1" : "0") +
                              "\n[Transfer]\nReceiveDirectory=" + folder.path().string() + "\n" +
                              PortMap(device.DevicePath()),
                          0);
  MainWindow& window = harness.Window();
  QTRY_VERIFY(window.Status()->Text(StatusLine::Field::kLink).contains(QStringLiteral("open")));
  device.Start();
  if (autoStart) {
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(QString::fromStdString((folder / "data.bin").string())),
                             30000);
    QTRY_VERIFY_WITH_TIMEOUT(!window.Transfers().Running(), 30000);
    QVERIFY(window.Status()->Text(StatusLine::Field::kFileTransfer).startsWith("ZMODEM receive"));
    QVERIFY(quorvel::testing::ReadAll(folder / "data.bin") == content);
  } else {
    // The device's request is shown as it came, and nothing starts.
    QTRY_VERIFY(harness.Text(kReceiveBox).contains(QStringLiteral("**")));
    QVERIFY(!window.Transfers().Running());
    QVERIFY(QDir(QString::fromStdString(folder.path().string())).isEmpty());
  }
}

void TransferToolsTest::cancelIsToldAndClosingThePortEndsATransfer() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  TempDir folder;
  ReceiveChoice choice;
  choice.settings.receiveDirectory = folder.path().string();
  QVERIFY(window.Transfers().Receive(choice));
  QTRY_VERIFY(window.Status()->Text(StatusLine::Field::kFileTransfer).contains("waiting"));
  QVERIFY(Entry(window, Command::kCancelFileSend)->isEnabled());
  Entry(window, Command::kCancelFileSend)->trigger();
  QTRY_VERIFY(!window.Transfers().Running());
  QTRY_COMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages().front().contains("cancelled"));
  std::vector<uint8_t> sent = harness.Drain(0);
  QVERIFY(std::count(sent.begin(), sent.end(), 0x18) >= 8);

  // Closing the port midway: the transfer ends first, and says so.
  harness.ClearMessages();
  QVERIFY(window.Transfers().Receive(choice));
  harness.Click(kOpenCloseButton);
  QVERIFY(!window.Transfers().Running());
  QVERIFY(!window.Link().WorkerRunning());
  QTRY_COMPARE(harness.Messages().size(), 1);
  QVERIFY(harness.Messages().front().contains("cancelled"));
}

QTEST_MAIN(TransferToolsTest)
#include "transfer_tools_test.moc"
