// The window closes after a file transfer, whichever way it ended, and
// during one: the window runs modally as the program runs it (main.cpp),
// "Send file…" or "Receive file…" starts the transfer against lrzsz, and it
// ends done (the close comes the moment the transfer ends), cancelled from
// its progress dialog or failed (the device gone midway; the close comes
// once the message is dismissed), or by the close itself, which cancels it
// first. The title bar's close must end the window with its settings saved,
// nothing of the transfer left on screen and, after Shutdown, the link
// closed.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <functional>

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
using quorvel::testing::TempDir;
using quorvel::testing::TerminalHarness;

namespace {

enum class Ending { kDone, kCancelled, kFailed, kClosedMidway };

// Whether a modal window blocks the window now: a close from the window
// system (the title bar's button) is dropped while one does. Followed
// through the events the window gets when it is blocked and unblocked.
class BlockWatch : public QObject {
 public:
  explicit BlockWatch(QWidget* window) { window->installEventFilter(this); }
  bool Blocked() const { return blocked_; }

 protected:
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::WindowBlocked) blocked_ = true;
    if (event->type() == QEvent::WindowUnblocked) blocked_ = false;
    return false;
  }

 private:
  bool blocked_ = false;
};

// The one dialog of the transfer's own that is shown and not modal.
QDialog* ProgressDialog(MainWindow& window) {
  for (QDialog* dialog : window.findChildren<QDialog*>()) {
    if (dynamic_cast<TransferProgressDialog*>(dialog) && dialog->isVisible()) return dialog;
  }
  return nullptr;
}

void Choose(QWidget* dialog, const QString& key) {
  auto* box = dialog->findChild<QComboBox*>(QStringLiteral("protocol"));
  box->setCurrentIndex(box->findData(key));
}

}  // namespace

class TransferCloseTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void theWindowClosesAfterATransfer_data();
  void theWindowClosesAfterATransfer();
};

void TransferCloseTest::theWindowClosesAfterATransfer_data() {
  QTest::addColumn<QString>("protocol");  // as the dialog's protocol box keys it
  QTest::addColumn<bool>("send");
  QTest::addColumn<QStringList>("peer");
  QTest::addColumn<int>("ending");
  struct Peer {
    const char* name;
    const char* protocol;
    bool send;
    QStringList command;
  };
  const Peer peers[] = {
      {"xmodem send", "xmodem", true, {"rx", "-q", "-c", "data.bin"}},
      {"xmodem-1k send", "xmodem-1k", true, {"rx", "-q", "-c", "data.bin"}},
      {"ymodem send", "ymodem", true, {"rb", "-q"}},
      {"zmodem send", "zmodem", true, {"rz", "-q"}},
      {"xmodem receive", "xmodem", false, {"sx", "-q", "data.bin"}},
      {"xmodem-1k receive", "xmodem", false, {"sx", "-q", "-k", "data.bin"}},
      {"ymodem receive", "ymodem", false, {"sb", "-q", "data.bin"}},
      {"zmodem receive", "zmodem", false, {"sz", "-q", "data.bin"}},
  };
  const std::pair<const char*, Ending> endings[] = {
      {"done", Ending::kDone},
      {"cancelled", Ending::kCancelled},
      {"failed", Ending::kFailed},
      {"closed midway", Ending::kClosedMidway},
  };
  for (const Peer& peer : peers) {
    for (const auto& [endingName, ending] : endings) {
      QTest::addRow("%s, %s", peer.name, endingName)
          << QString::fromLatin1(peer.protocol) << peer.send << peer.command
          << static_cast<int>(ending);
    }
  }
}

void TransferCloseTest::theWindowClosesAfterATransfer() {
  if (!LrzszProcess::Available()) QSKIP(LrzszProcess::kMissing);
  QFETCH(QString, protocol);
  QFETCH(bool, send);
  QFETCH(QStringList, peer);
  QFETCH(int, ending);
  const auto end = static_cast<Ending>(ending);
  const size_t size = end == Ending::kDone ? 4000 : 400000;

  TempDir there;  // the device's side
  TempDir folder;
  std::vector<uint8_t> bytes = quorvel::testing::SeededBytes(size, 5);
  std::string content(bytes.begin(), bytes.end());
  std::vector<std::string> command;
  for (const QString& arg : peer) command.push_back(arg.toStdString());
  // One to be cut short stalls a quarter of the way, however fast both sides
  // are, until the test has acted on it.
  quorvel::testing::RelayOptions relay;
  if (end != Ending::kDone) (send ? relay.holdTowardPeerAfter : relay.holdTowardUsAfter) = size / 4;
  LrzszPeer device(command, there.path(), relay, LrzszPeer::When::kLater);
  TerminalHarness harness("[PortMap]\nCOM1=" + device.DevicePath() + "\n", 0);
  MainWindow& window = harness.Window();
  window.hide();  // shown again, modally, by exec() below as the program does
  QString path = QDir(harness.Directory()).filePath(QStringLiteral("data.bin"));
  quorvel::testing::WriteFile(send ? path.toStdString() : (there / "data.bin").string(), content);
  if (end == Ending::kFailed) window.Transfers().SetTiming({60000, 500, 2});
  // Real message boxes, dismissed as a user would: the modal ones matter here.
  MessagePresenter recording = SetMessagePresenter({});
  BlockWatch block(&window);

  QStringList told;
  QString failure;  // what went wrong, from inside the modal run
  bool cutShort = false;
  bool closeSent = false;
  auto movedBytes = [&] {
    CounterValues counters = harness.Counters();
    return send ? counters.txCount : counters.rxCount;
  };
  // Every few milliseconds, from inside whichever loop runs: answer the
  // transfer's dialog, dismiss a message, act on the transfer, then close.
  QTimer step;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  QObject::connect(&step, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (auto* box = qobject_cast<QMessageBox*>(modal)) {
      told << box->text();
      box->button(QMessageBox::Ok)->click();
      return;
    }
    if (modal && modal != &window) {
      auto* dialog = static_cast<QDialog*>(modal);
      Choose(dialog, protocol);
      if (send) {
        dialog->findChild<QLineEdit*>(QStringLiteral("path"))->setText(path);
      } else {
        dialog->findChild<QLineEdit*>(QStringLiteral("folder"))
            ->setText(QString::fromStdString(folder.path().string()));
        dialog->findChild<QLineEdit*>(QStringLiteral("fileName"))
            ->setText(QStringLiteral("data.bin"));
      }
      dialog->accept();
      return;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      failure = QStringLiteral("the window did not end: transfer running %1, blocked %2")
                    .arg(window.Transfers().Running())
                    .arg(block.Blocked());
      window.done(-1);
      return;
    }
    if (closeSent) return;
    if (window.Transfers().Running()) {
      if (end == Ending::kDone || cutShort || movedBytes() < 2048) return;
      cutShort = true;
      // A send's cancel goes out behind the data held. A receive's goes the
      // other way: the sender's data stays held until the window has ended,
      // so that the sender finds the cancel waiting before it can finish.
      if (send) device.Relay().Release();
      if (end == Ending::kClosedMidway) {
        closeSent = true;
        window.windowHandle()->close();
      } else if (end == Ending::kCancelled) {
        QDialog* progress = ProgressDialog(window);
        if (!progress) {
          failure = QStringLiteral("no progress dialog while the transfer runs");
          return;
        }
        progress->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Cancel)->click();
      } else {
        device.Process().Kill();
      }
      return;
    }
    if (end != Ending::kDone && told.isEmpty()) return;
    // The transfer is over and told: the title bar's close. The window
    // system drops it while a modal window blocks the window.
    closeSent = true;
    if (block.Blocked()) {
      failure = QStringLiteral("a close from the title bar is dropped: a modal window blocks");
      return;
    }
    window.windowHandle()->close();
  });
  QTimer::singleShot(0, &window, [&] {
    window.Commands().Action(send ? Command::kSendFile : Command::kReceiveFile)->trigger();
    device.Start();
  });
  step.start(5);
  int result = window.exec();
  step.stop();
  device.Relay().Release();
  window.Shutdown();
  SetMessagePresenter(std::move(recording));

  QVERIFY2(failure.isEmpty(), qPrintable(failure));
  QCOMPARE(result, static_cast<int>(QDialog::Accepted));
  QVERIFY(!window.isVisible());
  QVERIFY(QString::fromStdString(harness.IniText()).contains(QStringLiteral("[Window]")));
  QVERIFY(!window.Transfers().Running());
  QVERIFY(!window.Link().WorkerRunning());
  QVERIFY(!window.Link().Port().IsOpen());
  QVERIFY(ProgressDialog(window) == nullptr);
  QString result_text = window.Status()->Text(StatusLine::Field::kFileTransfer);
  switch (end) {
    case Ending::kDone:
      QVERIFY2(result_text.contains(QStringLiteral("done")), qPrintable(result_text));
      QVERIFY(told.isEmpty());
      break;
    case Ending::kCancelled:
      QCOMPARE(told.size(), 1);
      QVERIFY2(told.front().contains(QStringLiteral("cancelled")), qPrintable(told.front()));
      break;
    case Ending::kFailed:
      QCOMPARE(told.size(), 1);
      QVERIFY2(!told.front().contains(QStringLiteral("done")), qPrintable(told.front()));
      break;
    case Ending::kClosedMidway:
      // Ended without a question, and the other side was told.
      QVERIFY(told.isEmpty());
      QVERIFY2(result_text.contains(QStringLiteral("cancelled")), qPrintable(result_text));
      std::optional<int> status = device.WaitExit(std::chrono::seconds(10));
      QVERIFY2(status.has_value() && *status != 0,
               qPrintable(QStringLiteral("exit %1; it said: %2")
                              .arg(status ? QString::number(*status) : QStringLiteral("none"))
                              .arg(QString::fromStdString(device.Process().ErrorText()))));
      break;
  }
}

QTEST_MAIN(TransferCloseTest)
#include "transfer_close_test.moc"
