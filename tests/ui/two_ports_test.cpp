// Two ports in the real window on pseudo-terminals: the second port's pane,
// opened through its dialog, sends and receives on its own line and comes
// back after a restart from [Port2]; the port's commands act on the pane
// with the focus, which the status line names; a start into a monitored
// link shows both directions in its pane while the first port stays closed;
// stored answer rules answer the first port and a bridge's side each by
// their own.
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <cstdlib>
#include <thread>

#include <poll.h>
#include <unistd.h>

#include "history/session_store.h"
#include "link/termios2_line.h"
#include "support/pty_device.h"
#include "support/temp_files.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/history_pane.h"
#include "ui/pair_pane.h"
#include "ui/receive_box.h"
#include "ui/second_port.h"
#include "ui/session_find_bar.h"
#include "ui/session_view.h"
#include "ui/status_line.h"
#include "ui/two_ports.h"
#include "ui/window_commands.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::TerminalHarness;

namespace {

using Bytes = std::vector<uint8_t>;

// Every byte of one direction the store kept.
Bytes KeptOf(const SessionStore& store, SessionKind kind) {
  Bytes kept;
  store.ForEachRun([&](const SessionStore::Run& run) {
    if (run.kind == kind) kept.insert(kept.end(), run.bytes.begin(), run.bytes.end());
    return true;
  });
  return kept;
}

Bytes B(const std::string& text) {
  return {text.begin(), text.end()};
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

}  // namespace

class TwoPortsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void secondPortSendsReceivesAndComesBackAfterARestart();
  void thePortsCommandsActOnThePaneWithTheFocus();
  void aStartIntoAMonitorShowsBothDirectionsWithTheFirstPortClosed();
  void theBridgeChosenInItsDialogForwardsBothWays();
  void aBridgeCarriesAMegabyteASecondEachWayWithTheWindowAnswering();
  void aSideUnpluggedWhileBridgingIsToldAndReopened();
  void storedRulesAnswerEachOnTheirOwnLine();
};

void TwoPortsTest::secondPortSendsReceivesAndComesBackAfterARestart() {
  TerminalHarness harness("", 2);
  {
    MainWindow& window = harness.Window();
    QVERIFY(window.Link().Port().IsOpen());
    QVERIFY(window.Panes().Second() == nullptr);
    QString refusal;
    ModalWatcher onDialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
      auto* ok = open->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
      auto box = [&](const char* name) { return open->findChild<QComboBox*>(name); };
      box("port")->setEditText(QStringLiteral("COM2"));
      box("baud")->setEditText(QStringLiteral("57 600 fast"));
      ok->click();
      refusal = open->findChild<QLabel*>(QStringLiteral("problem"))->text();
      box("baud")->setEditText(QStringLiteral("57600"));
      box("parity")->setCurrentIndex(kParityEven);
      box("stopbits")->setCurrentIndex(kTwoStopBits);
      ok->click();
    });
    window.Commands().Action(Command::kOpenSecondPort)->trigger();
    QVERIFY(onDialog.Ran());
    QVERIFY2(refusal.contains(QStringLiteral("baud rate")), qPrintable(refusal));
    SecondPort* pane = window.Panes().Second();
    QVERIFY(pane);
    QTRY_VERIFY(pane->Link().Port().IsOpen());
    LineSnapshot line = harness.Device(1).Line();
    QCOMPARE(line.outputSpeed, 57600u);
    // A pseudo-terminal keeps the parity kind and its check, never PARENB.
    QVERIFY(line.inputParityCheck && !line.parityOdd && line.twoStopBits);
    QVERIFY2(pane->StateText().startsWith(QStringLiteral("COM2 ")), qPrintable(pane->StateText()));

    // Its own send line and door: Enter sends, as hex too.
    pane->SendBox()->setText(QStringLiteral("hello 2"));
    QTest::keyClick(pane->SendBox(), Qt::Key_Return);
    QCOMPARE(harness.Receive(1, 7), B("hello 2"));
    pane->SendAsHex()->setChecked(true);
    pane->SendBox()->setText(QStringLiteral("01 03 zz"));
    QVERIFY(!pane->SendLine());
    pane->SendBox()->setText(QStringLiteral("01 03"));
    QVERIFY(pane->SendLine());
    QCOMPARE(harness.Receive(1, 2), (Bytes{0x01, 0x03}));
    QVERIFY2(harness.Drain(0).empty(), "nothing of port 2's reached port 1");

    harness.Device(1).Send("from two");
    QTRY_COMPARE(KeptOf(pane->Store(), SessionKind::kReceived), B("from two"));
    QTRY_VERIFY(pane->CountText().contains(QStringLiteral("RX 8")));
    QCOMPARE(window.Link().Hub().counters.Read().rxCount, 0u);
    pane->SetView(false, false);
    QTRY_COMPARE(pane->Box()->toPlainText(), QStringLiteral("from two"));
  }
  std::string ini = harness.IniText();
  for (const char* key : {"[Port2]", "Target=COM2", "Baud=57600", "Parity=even", "StopBits=2",
                          "View=text", "Shown=1"}) {
    QVERIFY2(Contains(ini, key), ini.c_str());
  }
  QVERIFY2(Contains(ini, "[PortMap]\nCOM1="), "the first port's keys stay as they were");

  harness.CloseWindow();
  MainWindow& again = harness.Window();
  SecondPort* back = again.Panes().Second();
  QVERIFY(back);
  QTRY_VERIFY(back->Link().Port().IsOpen());
  QCOMPARE(back->Settings().port.baud, 57600u);
  QCOMPARE(back->Settings().sessionView, false);
  QCOMPARE(harness.Device(1).Line().outputSpeed, 57600u);
  QVERIFY(again.Link().Port().IsOpen());

  again.Commands().Action(Command::kCloseSecondPort)->trigger();
  QVERIFY(again.Panes().Second() == nullptr);
  QVERIFY2(Contains(harness.IniText(), "Shown=0"), harness.IniText().c_str());
  QVERIFY(harness.Messages().isEmpty());
}

void TwoPortsTest::thePortsCommandsActOnThePaneWithTheFocus() {
  TerminalHarness harness("", 2);
  MainWindow& window = harness.Window();
  QVERIFY(harness.ShowActive());
  ModalWatcher onDialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    open->findChild<QComboBox*>("port")->setEditText(QStringLiteral("COM2"));
    open->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
  });
  window.Panes().AskSecondPort();
  SecondPort* pane = window.Panes().Second();
  QVERIFY(pane);
  QTRY_VERIFY(pane->Link().Port().IsOpen());

  harness.Device(0).Send("one");
  harness.Device(1).Send("two");
  QTRY_COMPARE(KeptOf(pane->Store(), SessionKind::kReceived), B("two"));
  QTRY_COMPARE(harness.Text(kReceiveBox), QStringLiteral("one"));

  // The focus in port 2's pane: the status line says so, and Clear clears
  // port 2's view only. (The offscreen platform leaves no window active once
  // a dialog has closed.)
  QVERIFY(harness.ShowActive());
  pane->SendBox()->setFocus(Qt::OtherFocusReason);
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kPane), QStringLiteral("port 2"));
  QVERIFY(window.Panes().Focused() == TwoPorts::Focus::kSecond);
  window.Commands().Action(Command::kClearReceive)->trigger();
  QVERIFY(KeptOf(pane->Store(), SessionKind::kReceived).empty());
  QCOMPARE(harness.Text(kReceiveBox), QStringLiteral("one"));
  // A pseudo-terminal has no modem lines: port 2 says so, port 1's entries
  // keep showing port 1.
  window.Commands().Action(Command::kBreak)->trigger();
  QVERIFY(harness.Messages().isEmpty());

  // Back in the first port's controls: Clear is port 1's again.
  harness.Get<QWidget>(kSendBox)->setFocus(Qt::OtherFocusReason);
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kPane), QStringLiteral("port 1"));
  harness.Device(1).Send("kept");
  QTRY_COMPARE(KeptOf(pane->Store(), SessionKind::kReceived), B("kept"));
  window.Commands().Action(Command::kClearReceive)->trigger();
  QTRY_COMPARE(harness.Text(kReceiveBox), QString());
  QCOMPARE(KeptOf(pane->Store(), SessionKind::kReceived), B("kept"));

  // Find in port 2 opens its own find bar.
  pane->SendBox()->setFocus(Qt::OtherFocusReason);
  QTRY_VERIFY(window.Panes().Focused() == TwoPorts::Focus::kSecond);
  window.Commands().Action(Command::kFind)->trigger();
  QVERIFY(pane->History()->isVisible());
  QVERIFY(pane->History()->FindBar()->isVisible());

  window.Commands().Action(Command::kCloseSecondPort)->trigger();
  QTRY_COMPARE(window.Status()->Text(StatusLine::Field::kPane), QString());
}

void TwoPortsTest::aStartIntoAMonitorShowsBothDirectionsWithTheFirstPortClosed() {
  TerminalHarness harness("", 3);
  // COM1 is the first port's stored one; A is that same device, which the
  // start must leave to the monitor.
  harness.Options().link =
      StartupOptions::LinkStart{PairMode::kMonitor, "COM1", harness.Device(2).Path(), 9600, 0};
  MainWindow& window = harness.Window();
  QVERIFY(!window.Link().Wanted());
  PairPane* pane = window.Panes().Link();
  QVERIFY(pane);
  QVERIFY(pane->Pair().Running());
  QTRY_VERIFY(pane->Pair().Status(PairSide::kA).link.open);
  QVERIFY(pane->Pair().Status(PairSide::kB).link.open);
  QCOMPARE(harness.Device(0).Line().outputSpeed, 9600u);
  QCOMPARE(harness.Device(2).Line().outputSpeed, 115200u);  // [Pair]'s default for B

  harness.Device(0).Send("ask\r\n");
  QTRY_COMPARE(KeptOf(pane->Pair().Store(), SessionKind::kReceived), B("ask\r\n"));
  harness.Device(2).Send("answer\r\n");
  QTRY_COMPARE(KeptOf(pane->Pair().Store(), SessionKind::kSent), B("answer\r\n"));
  QTRY_VERIFY(pane->SideText(PairSide::kB).contains(QStringLiteral("RX 8")));

  // The view marks the two directions and the gap at the change.
  QTRY_VERIFY(pane->History()
                  ->View()
                  ->ShownRows()
                  .join(QLatin1Char('\n'))
                  .contains(QStringLiteral("B\u2192")));
  QStringList rows = pane->History()->View()->ShownRows();
  QString shown = rows.join(QLatin1Char('\n'));
  QVERIFY2(shown.contains(QStringLiteral("A\u2192")), qPrintable(shown));
  QVERIFY2(shown.contains(QStringLiteral("ms B\u2192")), qPrintable(shown));
  QString status = window.Status()->Text(StatusLine::Field::kLinkPair);
  QVERIFY2(
      status.startsWith(QStringLiteral("monitor: A ")) && status.contains(QStringLiteral("open")),
      qPrintable(status));
  QVERIFY2(harness.Device(0).Drain().empty(), "a monitor writes nothing");

  window.Commands().Action(Command::kStopLink)->trigger();
  QVERIFY(!pane->Pair().Running());
  QCOMPARE(window.Status()->Text(StatusLine::Field::kLinkPair), QStringLiteral("monitor stopped"));
  // Now the first port may have its device.
  harness.Click(kOpenCloseButton);
  QTRY_VERIFY(window.Link().Port().IsOpen());
}

// "Bridge two ports…": the dialog refuses the same port twice, then the
// bridge forwards each side's reads to the other at its own rate, the pane
// shows both, [Pair] keeps the choice, and Stop and Close end it.
void TwoPortsTest::theBridgeChosenInItsDialogForwardsBothWays() {
  TerminalHarness harness("", 3);
  MainWindow& window = harness.Window();
  QString refusal;
  ModalWatcher onDialog(ModalWatcher::Kind::kDialog, [&](QWidget* open) {
    auto box = [&](const char* name) { return open->findChild<QComboBox*>(name); };
    auto* ok = open->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok);
    box("a_port")->setEditText(QString::fromStdString(harness.Device(1).Path()));
    box("b_port")->setEditText(QString::fromStdString(harness.Device(1).Path()));
    ok->click();
    refusal = open->findChild<QLabel*>(QStringLiteral("problem"))->text();
    box("b_port")->setEditText(QString::fromStdString(harness.Device(2).Path()));
    box("b_baud")->setEditText(QStringLiteral("9600"));
    ok->click();
  });
  window.Commands().Action(Command::kBridgeLink)->trigger();
  QVERIFY(onDialog.Ran());
  QVERIFY2(refusal.contains(QStringLiteral("same port")), qPrintable(refusal));
  PairPane* pane = window.Panes().Link();
  QVERIFY(pane);
  QVERIFY(pane->Pair().Mode() == PairMode::kBridge);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kA).link.open);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.open);
  QCOMPARE(harness.Device(1).Line().outputSpeed, 115200u);
  QCOMPARE(harness.Device(2).Line().outputSpeed, 9600u);
  QVERIFY(window.Commands().Action(Command::kStopLink)->isEnabled());

  harness.Device(1).Send("ping\r\n");
  QCOMPARE(harness.Receive(2, 6), B("ping\r\n"));
  harness.Device(2).Send("pong\r\n");
  QCOMPARE(harness.Receive(1, 6), B("pong\r\n"));
  QTRY_COMPARE(KeptOf(pane->Pair().Store(), SessionKind::kReceived), B("ping\r\n"));
  QTRY_COMPARE(KeptOf(pane->Pair().Store(), SessionKind::kSent), B("pong\r\n"));
  QTRY_VERIFY2(pane->SideText(PairSide::kA).contains(QStringLiteral("A\u2192B 6")),
               qPrintable(pane->SideText(PairSide::kA)));
  QVERIFY2(harness.Drain(0).empty(), "the first port is not part of the bridge");
  QString status = window.Status()->Text(StatusLine::Field::kLinkPair);
  QVERIFY2(status.startsWith(QStringLiteral("bridge: A ")), qPrintable(status));
  std::string ini = harness.IniText();
  for (const char* key : {"[Pair]", "Mode=bridge", "BBaud=9600"}) {
    QVERIFY2(Contains(ini, key), ini.c_str());
  }

  pane->findChild<QPushButton*>(QStringLiteral("pairStop"))->click();
  QVERIFY(!pane->Pair().Running());
  QCOMPARE(window.Status()->Text(StatusLine::Field::kLinkPair), QStringLiteral("bridge stopped"));
  QVERIFY(!window.Commands().Action(Command::kStopLink)->isEnabled());
  harness.Device(1).Send("late");
  QVERIFY2(harness.Drain(2).empty(), "a stopped bridge forwards nothing");
  pane->findChild<QPushButton*>(QStringLiteral("pairClose"))->click();
  QVERIFY(window.Panes().Link() == nullptr);
  QCOMPARE(window.Status()->Text(StatusLine::Field::kLinkPair), QString());
}

// Each device writes 1,000 counting bytes a millisecond (1 MB/s) for
// QUORVEL_STRESS_SECONDS (a minute unless told; short under the sanitizers)
// while the other device reads: every byte arrives in order each way, the
// counters agree, nothing was held back, and the window's loop never stops
// for more than a second.
void TwoPortsTest::aBridgeCarriesAMegabyteASecondEachWayWithTheWindowAnswering() {
  const char* asked = std::getenv("QUORVEL_STRESS_SECONDS");
  const int seconds = asked && std::atoi(asked) > 0 ? std::atoi(asked) : 60;
  TerminalHarness harness("", 3);
  harness.Options().link = StartupOptions::LinkStart{PairMode::kBridge, harness.Device(1).Path(),
                                                     harness.Device(2).Path(), 0, 0};
  MainWindow& window = harness.Window();
  PairPane* pane = window.Panes().Link();
  QVERIFY(pane);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kA).link.open);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.open);

  constexpr size_t kChunk = 1000;
  const uint64_t total = kChunk * 1000 * static_cast<uint64_t>(seconds);
  std::atomic<bool> failed{false};
  std::atomic<uint64_t> arrived[2] = {0, 0};
  std::atomic<bool> done{false};
  auto pattern = [](int side, uint64_t at) { return static_cast<uint8_t>((at + side * 97) % 251); };
  std::vector<std::thread> devices;
  for (int side = 0; side < 2; ++side) {
    int into = harness.Device(1 + side).Master();
    int outOf = harness.Device(2 - side).Master();
    devices.emplace_back([&, side, into] {
      std::vector<uint8_t> chunk(kChunk);
      uint64_t at = 0;
      auto next = std::chrono::steady_clock::now();
      while (at < total && !failed) {
        for (uint8_t& byte : chunk) byte = pattern(side, at++);
        for (size_t put = 0; put < chunk.size() && !failed;) {
          ssize_t wrote = ::write(into, chunk.data() + put, chunk.size() - put);
          if (wrote > 0) {
            put += static_cast<size_t>(wrote);
          } else {
            pollfd out = {into, POLLOUT, 0};
            if (::poll(&out, 1, 5000) <= 0) failed = true;
          }
        }
        next += std::chrono::milliseconds(1);
        std::this_thread::sleep_until(next);
      }
    });
    devices.emplace_back([&, side, outOf] {
      uint8_t buffer[65536];
      uint64_t at = 0;
      while (!done && at < total && !failed) {
        pollfd in = {outOf, POLLIN, 0};
        if (::poll(&in, 1, 100) <= 0) continue;
        ssize_t got = ::read(outOf, buffer, sizeof buffer);
        for (ssize_t i = 0; i < got; ++i) {
          if (buffer[i] != pattern(side, at++)) failed = true;
        }
        arrived[side] = at;
      }
    });
  }
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds + 30);
  auto last = std::chrono::steady_clock::now();
  std::chrono::steady_clock::duration longest{};
  while ((arrived[0] < total || arrived[1] < total) && !failed &&
         std::chrono::steady_clock::now() < deadline) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    auto now = std::chrono::steady_clock::now();
    longest = std::max(longest, now - last);
    last = now;
  }
  done = true;
  for (std::thread& device : devices) device.join();
  QVERIFY2(!failed, "a byte out of order, or a device that could not write");
  QCOMPARE(arrived[0].load(), total);
  QCOMPARE(arrived[1].load(), total);
  QVERIFY2(longest < std::chrono::seconds(1), "the window's loop stalled");
  // A side counts its read once its listeners have heard it: the far
  // device may have the bytes a moment before the count shows them.
  for (PairSide side : {PairSide::kA, PairSide::kB}) {
    QTRY_COMPARE_WITH_TIMEOUT(pane->Pair().Status(side).counters.rxCount, total, 10000);
    QTRY_COMPARE_WITH_TIMEOUT(pane->Pair().Status(side).forwarded.forwarded, total, 10000);
    QCOMPARE(pane->Pair().Status(side).forwarded.dropped, uint64_t{0});
  }
}

// B is a link to a pseudo-terminal that goes away and comes back: the pane,
// the status line and the timeline say it waits, what A read meanwhile is
// kept and counted as not forwarded, and forwarding goes on once B is back.
void TwoPortsTest::aSideUnpluggedWhileBridgingIsToldAndReopened() {
  quorvel::testing::TempDir dir;
  std::filesystem::path bLink = dir / "ttyUSB1";
  auto b = std::make_unique<quorvel::testing::PtyDevice>();
  std::filesystem::create_symlink(b->Path(), bLink);
  TerminalHarness harness("", 2);
  harness.Options().link =
      StartupOptions::LinkStart{PairMode::kBridge, harness.Device(1).Path(), bLink.string(), 0, 0};
  MainWindow& window = harness.Window();
  PairPane* pane = window.Panes().Link();
  QVERIFY(pane);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.open);
  harness.Device(1).Send("one");
  QCOMPARE(b->Receive(3), B("one"));

  std::filesystem::remove(bLink);
  b->Hangup();
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.waiting);
  QTRY_VERIFY2(window.Status()
                   ->Text(StatusLine::Field::kLinkPair)
                   .contains(QStringLiteral("B ") + QString::fromStdString(bLink.string()) +
                             QStringLiteral(" waiting")),
               qPrintable(window.Status()->Text(StatusLine::Field::kLinkPair)));
  QVERIFY2(pane->SideText(PairSide::kB).contains(QStringLiteral("waiting")),
           qPrintable(pane->SideText(PairSide::kB)));
  harness.Device(1).Send("lost");
  QTRY_COMPARE(pane->Pair().Status(PairSide::kA).forwarded.dropped, uint64_t{4});
  QTRY_VERIFY2(pane->SideText(PairSide::kA).contains(QStringLiteral("4 not forwarded")),
               qPrintable(pane->SideText(PairSide::kA)));

  b = std::make_unique<quorvel::testing::PtyDevice>();
  std::filesystem::create_symlink(b->Path(), bLink);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.open &&
              !pane->Pair().Status(PairSide::kB).link.waiting);
  QTRY_VERIFY(
      !window.Status()->Text(StatusLine::Field::kLinkPair).contains(QStringLiteral("waiting")));
  harness.Device(1).Send("two");
  QCOMPARE(b->Receive(3), B("two"));
  QTRY_COMPARE(KeptOf(pane->Pair().Store(), SessionKind::kReceived), B("onelosttwo"));
  QVERIFY(harness.Messages().isEmpty());  // told in the pane, never in a box
}

// Rules stored for the first port and for the bridge's A→: each answers its
// own line only, and the status line counts both.
void TwoPortsTest::storedRulesAnswerEachOnTheirOwnLine() {
  TerminalHarness harness(
      "[AnswerRules]\nEnabled=1\nCount=2\nRule1Pattern=ping\nRule1Content=port\n"
      "Rule2Pattern=ping\nRule2Content=bridge\nRule2Line=A\n",
      3);
  harness.Options().link = StartupOptions::LinkStart{PairMode::kBridge, harness.Device(1).Path(),
                                                     harness.Device(2).Path(), 0, 0};
  MainWindow& window = harness.Window();
  PairPane* pane = window.Panes().Link();
  QVERIFY(pane);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kA).link.open);
  QTRY_VERIFY(pane->Pair().Status(PairSide::kB).link.open);
  QCOMPARE(window.Status()->Text(StatusLine::Field::kRules),
           QStringLiteral("answer rules: 1, bridge A\u2192 1, B\u2192 0"));

  harness.Device(1).Send("ping\r\n");
  QCOMPARE(harness.Receive(1, 6), B("bridge"));
  QCOMPARE(harness.Receive(2, 6), B("ping\r\n"));
  // The first port, on a device of its own.
  if (!window.Link().Port().IsOpen()) harness.Click(kOpenCloseButton);
  QTRY_VERIFY(window.Link().Port().IsOpen());
  harness.Device(0).Send("ping\r\n");
  QCOMPARE(harness.Receive(0, 4), B("port"));
  for (int device : {0, 1, 2}) QVERIFY(harness.Drain(device).empty());
  QTRY_VERIFY(pane->History()
                  ->View()
                  ->ShownRows()
                  .join(QLatin1Char('\n'))
                  .contains(QStringLiteral("rule 2 answered on A: 6 bytes")));
}

QTEST_MAIN(TwoPortsTest)
#include "two_ports_test.moc"
