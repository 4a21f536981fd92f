// The second port's file transfers in the real window, lrzsz at the far end
// of port 2: Send file and Receive file with a protocol while port 2's pane
// has the focus, byte for byte, told in port 2's own status field while port
// 1 sees nothing of it; closing the pane or the window midway ends the
// transfer, its cancel sent, without a question.
#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QLineEdit>
#include <QTest>
#include <algorithm>

#include "support/lrzsz_peer.h"
#include "support/seeded_bytes.h"
#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/command_table.h"
#include "ui/second_port.h"
#include "ui/status_line.h"
#include "ui/transfer_dialogs.h"
#include "ui/transfer_tools.h"
#include "ui/two_ports.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::LrzszPeer;
using quorvel::testing::LrzszProcess;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TempDir;
using quorvel::testing::TerminalHarness;

namespace {

std::string SecondPortOn(const std::string& target) {
  return "[Port2]\nTarget=" + target + "\nShown=1\n";
}

std::string Content(size_t size) {
  std::vector<uint8_t> bytes = quorvel::testing::SeededBytes(size, 37);
  if (bytes.back() == 0x1A) bytes.back() = 0;
  return {bytes.begin(), bytes.end()};
}

void Choose(QWidget* dialog, const char* name, const QString& key) {
  auto* box = dialog->findChild<QComboBox*>(QString::fromLatin1(name));
  box->setCurrentIndex(box->findData(key));
}

std::vector<std::string> Args(const QStringList& list) {
  std::vector<std::string> args;
  for (const QString& arg : list) args.push_back(arg.toStdString());
  return args;
}

// Port 2 open, with the focus in its pane, so the port's commands are its.
SecondPort* FocusSecond(TerminalHarness& harness) {
  SecondPort* pane = harness.Window().Panes().Second();
  if (!pane) return nullptr;
  if (!QTest::qWaitFor([&] { return pane->Link().Port().IsOpen(); }, 5000)) return nullptr;
  if (!harness.ShowActive()) return nullptr;
  pane->SendBox()->setFocus(Qt::OtherFocusReason);
  bool focused = QTest::qWaitFor(
      [&] { return harness.Window().Panes().Focused() == TwoPorts::Focus::kSecond; }, 5000);
  return focused ? pane : nullptr;
}

}  // namespace

class SecondPortTransferTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void portTwoSendsWithAProtocol_data();
  void portTwoSendsWithAProtocol();
  void portTwoReceivesWithAProtocol_data();
  void portTwoReceivesWithAProtocol();
  void closingMidwayEndsPortTwosTransferWithoutAQuestion_data();
  void closingMidwayEndsPortTwosTransferWithoutAQuestion();
};

void SecondPortTransferTest::portTwoSendsWithAProtocol_data() {
  QTest::addColumn<QString>("protocol");
  QTest::addColumn<QStringList>("peer");
  QTest::newRow("ymodem") << "ymodem" << QStringList{"rb", "-q"};
  QTest::newRow("zmodem") << "zmodem" << QStringList{"rz", "-q"};
}

void SecondPortTransferTest::portTwoSendsWithAProtocol() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(QString, protocol);
  QFETCH(QStringList, peer);
  TempDir there;
  LrzszPeer device(Args(peer), there.path());
  QVERIFY(device.AwaitFirstBytes(std::chrono::seconds(10)));  // a receiver asks first
  TerminalHarness harness(SecondPortOn(device.DevicePath()), 1);
  MainWindow& window = harness.Window();
  SecondPort* pane = FocusSecond(harness);
  QVERIFY(pane);
  std::string content = Content(30000);
  QString path = QDir(harness.Directory()).filePath(QStringLiteral("data.bin"));
  quorvel::testing::WriteFile(path.toStdString(), content);
  ModalWatcher answer(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    Choose(open, "protocol", protocol);
    open->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
    static_cast<QDialog*>(open)->accept();
  });
  window.Commands().Action(Command::kSendFile)->trigger();
  QVERIFY(answer.Ran());
  QVERIFY(pane->Transfers().Running());
  QVERIFY(!window.Transfers().Running());
  QTRY_VERIFY_WITH_TIMEOUT(!pane->Transfers().Running(), 30000);
  auto status = [&] { return window.Status()->Text(StatusLine::Field::kPort2Transfer); };
  QTRY_VERIFY2(status().contains("done"), qPrintable(status()));
  QVERIFY2(status().startsWith("Port 2: " + protocol.toUpper() + " send"), qPrintable(status()));
  QCOMPARE(device.WaitExit(std::chrono::seconds(10)), std::optional<int>(0));
  std::string got = quorvel::testing::ReadAll(there / "data.bin");
  got.resize(std::min(got.size(), content.size()));
  QVERIFY(got == content);
  // Port 1 saw nothing of it, and nothing asked anything.
  QCOMPARE(window.Status()->Text(StatusLine::Field::kFileTransfer), QString());
  QCOMPARE(harness.Text(kReceiveBox), QString());
  QVERIFY(harness.Drain(0).empty());
  QVERIFY(harness.Messages().isEmpty());
}

void SecondPortTransferTest::portTwoReceivesWithAProtocol_data() {
  QTest::addColumn<QString>("protocol");
  QTest::addColumn<QStringList>("peer");
  QTest::addColumn<bool>("talksFirst");  // sz calls the receiver; sb waits to be asked
  QTest::newRow("ymodem") << "ymodem" << QStringList{"sb", "-q", "-k", "data.bin"} << false;
  QTest::newRow("zmodem") << "zmodem" << QStringList{"sz", "-q", "data.bin"} << true;
}

void SecondPortTransferTest::portTwoReceivesWithAProtocol() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(QString, protocol);
  QFETCH(QStringList, peer);
  QFETCH(bool, talksFirst);
  TempDir there;
  TempDir folder;
  std::string content = Content(20000);
  quorvel::testing::WriteFile(there / "data.bin", content);
  LrzszPeer device(Args(peer), there.path());
  if (talksFirst) QVERIFY(device.AwaitFirstBytes(std::chrono::seconds(10)));
  TerminalHarness harness(SecondPortOn(device.DevicePath()), 1);
  MainWindow& window = harness.Window();
  SecondPort* pane = FocusSecond(harness);
  QVERIFY(pane);
  ModalWatcher answer(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    Choose(open, "protocol", protocol);
    open->findChild<QLineEdit*>(QStringLiteral("folder"))
        ->setText(QString::fromStdString(folder.path().string()));
    static_cast<QDialog*>(open)->accept();
  });
  window.Commands().Action(Command::kReceiveFile)->trigger();
  QVERIFY(answer.Ran());
  QVERIFY(!window.Transfers().Running());
  QTRY_VERIFY_WITH_TIMEOUT(!pane->Transfers().Running(), 30000);
  auto status = [&] { return window.Status()->Text(StatusLine::Field::kPort2Transfer); };
  QTRY_VERIFY2(status().contains("done"), qPrintable(status()));
  QVERIFY2(status().startsWith("Port 2: " + protocol.toUpper() + " receive"), qPrintable(status()));
  QVERIFY(quorvel::testing::ReadAll(folder / "data.bin") == content);
  QCOMPARE(window.Status()->Text(StatusLine::Field::kFileTransfer), QString());
  QCOMPARE(harness.Text(kReceiveBox), QString());
  QCOMPARE(window.Link().Hub().counters.Read().rxCount, 0u);
  QVERIFY(harness.Messages().isEmpty());
}

void SecondPortTransferTest::closingMidwayEndsPortTwosTransferWithoutAQuestion_data() {
  QTest::addColumn<bool>("window");  // else the second port alone
  QTest::newRow("second port") << false;
  QTest::newRow("window") << true;
}

void SecondPortTransferTest::closingMidwayEndsPortTwosTransferWithoutAQuestion() {
  QFETCH(bool, window);
  TerminalHarness harness(SecondPortOn("COM2"), 2);
  SecondPort* pane = FocusSecond(harness);
  QVERIFY(pane);
  TempDir folder;
  ReceiveChoice choice;
  choice.settings.receiveProtocol = "zmodem";
  choice.settings.receiveDirectory = folder.path().string();
  QVERIFY(pane->Transfers().Receive(choice));
  QTRY_VERIFY(harness.Window()
                  .Status()
                  ->Text(StatusLine::Field::kPort2Transfer)
                  .startsWith(QStringLiteral("Port 2: ZMODEM receive")));
  // "Cancel file send" is port 2's while its pane has the focus.
  QVERIFY(harness.Window().Commands().Action(Command::kCancelFileSend)->isEnabled());
  std::vector<uint8_t> asked = harness.Drain(1);
  QVERIFY(!asked.empty());  // the receiver's first request went out on port 2

  ModalWatcher question(
      ModalWatcher::Kind::kDialog, [](QWidget* open) { open->close(); },
      std::chrono::milliseconds(500));
  if (window) {
    harness.Window().close();
    harness.CloseWindow();
  } else {
    harness.Window().Commands().Action(Command::kCloseSecondPort)->trigger();
    QVERIFY(harness.Window().Panes().Second() == nullptr);
    QVERIFY(
        !harness.Window().Status()->Text(StatusLine::Field::kPort2Transfer).contains("waiting"));
  }
  QVERIFY(!question.Ran());
  QVERIFY(harness.Messages().isEmpty());
  // Its cancel went out before the port closed.
  std::vector<uint8_t> sent = harness.Drain(1);
  QVERIFY(std::count(sent.begin(), sent.end(), 0x18) >= 5);
}

QTEST_MAIN(SecondPortTransferTest)
#include "second_port_transfer_test.moc"
