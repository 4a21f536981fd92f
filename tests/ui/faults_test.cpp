// Faults at the window: a send text of a megabyte, a receive log at its limit,
// bytes that look like markup or terminal control sequences, and a device that
// vanishes while it streams. Each ends in a clear message or a safe state,
// loses nothing already received, and leaves no loop spinning.
#include <poll.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTextBlock>
#include <QTextDocument>
#include <QTimer>
#include <atomic>
#include <mutex>
#include <random>
#include <thread>

#include "engine/render.h"
#include "support/cpu_time.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/form_exchange.h"
#include "ui/receive_box.h"
#include "watchdog.h"

using namespace quorvel;
using quorvel::testing::ModalWatcher;
using quorvel::testing::PtyDevice;
using quorvel::testing::TerminalHarness;
using quorvel::testing::Watchdog;
using quorvel::testing::WorkerSampling;

namespace {

// Long enough for a megabyte through a pseudo-terminal under a sanitizer.
constexpr std::chrono::seconds kHangLimit(60);

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(std::string_view text) {
  return {text.begin(), text.end()};
}

void Pump(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

template <class F>
bool PumpUntil(F done, std::chrono::milliseconds timeout = std::chrono::seconds(10)) {
  auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pump(1);
  }
  return true;
}

// The device sends `bytes` from a thread of its own while the UI loop runs,
// so the worker's refreshes are served however much the line holds.
void SendWhileServing(PtyDevice& device, const Bytes& bytes) {
  std::atomic<bool> sent{false};
  std::thread sender([&] {
    device.Send(bytes);
    sent = true;
  });
  PumpUntil([&] { return sent.load(); }, std::chrono::seconds(30));
  sender.join();
}

// What the receive box is expected to display for a log in text form: each
// byte as its Latin-1 character, zero bytes left out, and CR LF, a lone CR
// and a lone LF each one line break.
QString ExpectedText(const Bytes& log) {
  QString text;
  for (size_t i = 0; i < log.size(); ++i) {
    uint8_t byte = log[i];
    if (byte == 0) continue;
    if (byte == '\n' && i > 0 && log[i - 1] == '\r') continue;
    text += byte == '\r' ? QChar(u'\n') : QChar(byte);
  }
  return text;
}

// What a box displays, character for character (toPlainText would turn a
// no-break space into a space), with its line breaks as '\n'.
QString Displayed(const QPlainTextEdit* box) {
  QString raw = box->document()->toRawText();
  raw.replace(QChar::ParagraphSeparator, u'\n');
  raw.replace(QChar::LineSeparator, u'\n');
  return raw;
}

// Every fragment of the box has the same format: nothing made some
// characters bold, coloured or linked.
bool OneFormat(const QPlainTextEdit* box) {
  QTextCharFormat first;
  bool seen = false;
  for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
    for (auto it = block.begin(); !it.atEnd(); ++it) {
      QTextCharFormat format = it.fragment().charFormat();
      if (seen && format != first) return false;
      first = format;
      seen = true;
    }
  }
  return true;
}

Bytes Log(TerminalHarness& harness) {
  return harness.Field(
      [](TerminalState& s) { return Bytes(s.rxBuffer.begin(), s.rxBuffer.begin() + s.rxLength); });
}

uint32_t RxCount(TerminalHarness& harness) {
  return harness.Counters().rxCount;
}

// The refreshes for everything counted so far have been handled: the boxes
// show the log and the count.
bool Shown(TerminalHarness& harness) {
  const LinkCounters& counters = harness.Window().Link().Hub().counters;
  auto [log, count, hex] = harness.Field([&](TerminalState& s) {
    return std::tuple(Bytes(s.rxBuffer.begin(), s.rxBuffer.begin() + s.rxLength),
                      counters.Read().rxCount, s.hexDisplay != 0);
  });
  return harness.Get<ReceiveBox>(kReceiveBox)->Shown() ==
             RenderReceiveText(log.data(), static_cast<int>(log.size()), hex) &&
         harness.Text(kRxBox) == QString::number(count);
}

// A message box as it was shown.
struct SeenMessage {
  bool seen = false;
  QString text;
  Qt::TextFormat format = Qt::AutoText;
  QString labelText;
  Qt::TextFormat labelFormat = Qt::AutoText;
};

// Answers the next message box with OK, noting what it showed.
std::unique_ptr<ModalWatcher> WatchForMessage(SeenMessage& seen) {
  return std::make_unique<ModalWatcher>(ModalWatcher::Kind::kDialog, [&seen](QWidget* open) {
    auto* box = qobject_cast<QMessageBox*>(open);
    if (!box) return;
    seen.seen = true;
    seen.text = box->text();
    seen.format = box->textFormat();
    if (auto* label = box->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
      seen.labelText = label->text();
      seen.labelFormat = label->textFormat();
    }
    box->button(QMessageBox::Ok)->click();
  });
}

// The characters a tooltip shows for `tip`: the toolkit takes a text that
// looks like markup for markup.
QString ToolTipShows(const QString& tip) {
  QTextDocument document;
  if (Qt::mightBeRichText(tip)) {
    document.setHtml(tip);
  } else {
    document.setPlainText(tip);
  }
  return document.toRawText();
}

const Bytes& HostileBytes() {
  static const Bytes bytes = [] {
    std::string text =
        "<b>x</b>&amp;<i>i</i><a href=\"http://h\">link</a><script>alert(1)</script>"
        "<!-- c --><img src=x>%s%n%d\\x41"
        "\x1b[31mred\x1b[0m\x1b]0;title\x07\x1b[2J\x1b[H\x1b"
        "c"
        "\x9b"
        "31m\r\n\r\n\r\t\x08\x0b\x0c\x7f";
    Bytes result(text.begin(), text.end());
    result.push_back(0x00);
    result.push_back('z');
    for (int byte = 0x80; byte <= 0xff; ++byte) result.push_back(static_cast<uint8_t>(byte));
    return result;
  }();
  return bytes;
}

}  // namespace

class FaultsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void sendsAMegabyte_data();
  void sendsAMegabyte();
  void receiveBoxAtTheLogLimit_data();
  void receiveBoxAtTheLogLimit();
  void showsMarkupAndControlBytesAsPlainCharacters_data();
  void showsMarkupAndControlBytesAsPlainCharacters();
  void messageBoxesShowPlainText();
  void portToolTipShowsAMarkupPathAsWritten();
  void deviceVanishingMidStream();
};

void FaultsTest::sendsAMegabyte_data() {
  QTest::addColumn<bool>("hex");
  QTest::newRow("text") << false;
  QTest::newRow("hex") << true;
}

void FaultsTest::sendsAMegabyte() {
  QFETCH(bool, hex);
  constexpr size_t kTextSize = 1 << 20;
  Watchdog watchdog(kHangLimit);
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  WorkerSampling sampling(watchdog, window.Link().Hub());

  // The send text, with a line break (CR LF) in every line: as text 16,384
  // lines of 62 characters from 0x20 to 0xFF (1 MiB exactly), as hex lines of
  // 16 byte groups (a little over 1 MiB) giving every byte value.
  std::mt19937 rng(1);
  std::string text;
  Bytes expected;
  text.reserve(kTextSize);
  while (text.size() < kTextSize) {
    if (hex) {
      for (int i = 0; i < 16; ++i) {
        uint8_t byte = static_cast<uint8_t>(expected.size() * 7 + (expected.size() >> 8));
        static constexpr char kDigits[] = "0123456789ABCDEF";
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0f];
        text += i < 15 ? " " : "";
        expected.push_back(byte);
      }
    } else {
      for (int i = 0; i < 62; ++i) text += static_cast<char>(0x20 + rng() % 0xe0);
    }
    text += "\r\n";
  }
  if (!hex) expected.assign(text.begin(), text.end());

  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->SetBytes(text);  // as if pasted
  if (hex) harness.Click(kSendAsHexCheck);

  // The device keeps reading; it must get everything.
  Bytes got;
  std::thread device([&] { got = harness.Device().Receive(expected.size(), kHangLimit); });
  auto started = std::chrono::steady_clock::now();
  harness.Click(kSendButton);
  auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now() - started);
  device.join();
  std::printf("1 MB send text as %s: %zu bytes on the line, the Send click took %lld ms\n",
              hex ? "hex" : "text", expected.size(), static_cast<long long>(took.count()));
  std::fflush(stdout);
  QCOMPARE(got.size(), expected.size());
  QVERIFY(got == expected);
  QVERIFY(harness.Device().Drain().empty());  // and nothing twice
  QTRY_COMPARE(harness.Text(kTxBox), QString::number(expected.size()));
  QVERIFY(harness.Messages().isEmpty());
  // The window goes on: a short send after it arrives as usual.
  sendBox->SetBytes(hex ? "4f 4b" : "OK");
  harness.Click(kSendButton);
  QCOMPARE(harness.Receive(0, 2), BytesOf("OK"));
}

void FaultsTest::receiveBoxAtTheLogLimit_data() {
  QTest::addColumn<bool>("hex");
  QTest::newRow("hex") << true;
  QTest::newRow("text") << false;
}

void FaultsTest::receiveBoxAtTheLogLimit() {
  QFETCH(bool, hex);
  constexpr int kLimit = TerminalState::kLogCapacity - 1;
  TerminalHarness harness(hex ? "[RecvConfig]\nRECVHEX=1\n" : "");
  MainWindow& window = harness.Window();
  QCOMPARE(window.State().hexDisplay != 0, hex);
  auto* box = harness.Get<ReceiveBox>(kReceiveBox);

  std::mt19937 rng(2);
  Bytes full(kLimit);
  for (uint8_t& byte : full) byte = static_cast<uint8_t>(rng());
  SendWhileServing(harness.Device(), full);
  QVERIFY(PumpUntil([&] { return RxCount(harness) == kLimit && Shown(harness); }));
  // Exactly at the limit nothing was discarded.
  QCOMPARE(Log(harness), full);
  std::string rendered = RenderReceiveText(full.data(), kLimit, hex);
  QCOMPARE(box->Shown(), rendered);
  QString shown = Displayed(box);
  if (hex) {
    // One paragraph per line of the box.
    QCOMPARE(shown.size(), 3 * kLimit + (kLimit - 1) / box->GroupsPerLine());
    QCOMPARE(shown.remove(u'\n'), TextFromBytes(rendered));
  } else {
    QCOMPARE(shown, ExpectedText(full));
  }

  // One more burst: the log empties first and holds only the new bytes, and
  // the box shows exactly their rendering.
  Bytes more = {0x00, 0x41, 0xff, 0x0d, 0x0a, 0x3c, 0x7f};
  SendWhileServing(harness.Device(), more);
  QVERIFY(PumpUntil([&] { return RxCount(harness) == kLimit + more.size() && Shown(harness); }));
  QCOMPARE(Log(harness), more);
  std::string renderedMore = RenderReceiveText(more.data(), static_cast<int>(more.size()), hex);
  QCOMPARE(box->Shown(), renderedMore);
  QCOMPARE(Displayed(box), hex ? TextFromBytes(renderedMore) : ExpectedText(more));
  QCOMPARE(harness.Text(kRxBox), QString::number(kLimit + more.size()));
}

void FaultsTest::showsMarkupAndControlBytesAsPlainCharacters_data() {
  QTest::addColumn<bool>("hex");
  QTest::newRow("text") << false;
  QTest::newRow("hex") << true;
}

void FaultsTest::showsMarkupAndControlBytesAsPlainCharacters() {
  QFETCH(bool, hex);
  TerminalHarness harness(hex ? "[RecvConfig]\nRECVHEX=1\n" : "");
  MainWindow& window = harness.Window();
  QString title = window.windowTitle();
  auto* box = harness.Get<ReceiveBox>(kReceiveBox);
  const Bytes& bytes = HostileBytes();
  SendWhileServing(harness.Device(), bytes);
  QVERIFY(PumpUntil([&] { return RxCount(harness) == bytes.size() && Shown(harness); }));
  QCOMPARE(Log(harness), bytes);
  if (hex) {
    std::string rendered = RenderReceiveText(bytes.data(), static_cast<int>(bytes.size()), true);
    QCOMPARE(Displayed(box).remove(u'\n'), TextFromBytes(rendered));
  } else {
    QCOMPARE(Displayed(box), ExpectedText(bytes));
  }
  QVERIFY(OneFormat(box));
  // Nothing reached the window itself, and nothing was reported.
  QCOMPARE(window.windowTitle(), title);
  QVERIFY(harness.Messages().isEmpty());
}

void FaultsTest::messageBoxesShowPlainText() {
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  window.Names().Set(7, "/nonexistent/<b>quorvel</b>");
  // The real message box, not the harness's record of it.
  MessagePresenter recorder = SetMessagePresenter({});
  struct Case {
    const char* what;
    QString text;
    std::function<void()> trigger;
  };
  const Case cases[] = {
      {"open failure", QStringLiteral("Open com fail!"), [&] { harness.Choose(kPortSelector, 6); }},
      {"validation", QString::fromLatin1(kPeriodNotIntegerMessage),
       [&] {
         harness.Get<QLineEdit>(kPeriodBox)->setText(QStringLiteral("<b>1</b>"));
         harness.Click(kResetButton);
       }},
      // Every message text is a fixed string, but whatever reaches the box
      // is shown as written.
      {"markup", QStringLiteral("<b>x</b> &amp; \x1b[31m <a href='h'>l</a>"),
       [&] { ShowWarning(&window, QStringLiteral("<b>x</b> &amp; \x1b[31m <a href='h'>l</a>")); }},
  };
  for (const Case& c : cases) {
    SeenMessage seen;
    auto watcher = WatchForMessage(seen);
    c.trigger();
    QVERIFY2(PumpUntil([&] { return seen.seen; }, std::chrono::seconds(5)), c.what);
    QCOMPARE(seen.text, c.text);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.labelText, c.text);
    QCOMPARE(seen.labelFormat, Qt::PlainText);
  }
  SetMessagePresenter(std::move(recorder));
}

void FaultsTest::portToolTipShowsAMarkupPathAsWritten() {
  PtyDevice device;
  const std::string hostile = "/nonexistent/<b>bold</b>&amp;<i>x  \x1b[31m<br>&lt;";
  TerminalHarness harness("[PortMap]\nCOM1=" + device.Path() + "\nCOM2=" + hostile + "\n", 0);
  harness.Window();
  auto* port = harness.Get<QComboBox>(kPortSelector);
  QCOMPARE(ToolTipShows(port->toolTip()), QString::fromStdString(device.Path()));
  harness.Choose(kPortSelector, 1);
  QCOMPARE(harness.Messages(), QStringList{QStringLiteral("Open com fail!")});
  QCOMPARE(ToolTipShows(port->toolTip()), QString::fromStdString(hostile));
}

void FaultsTest::deviceVanishingMidStream() {
  Watchdog watchdog(kHangLimit);
  PtyDevice fresh;  // the device that takes over the COM number afterwards
  TerminalHarness harness;
  MainWindow& window = harness.Window();
  WorkerSampling sampling(watchdog, window.Link().Hub());
  PtyDevice& device = harness.Device();

  // The device streams until it vanishes in the middle of it.
  std::mutex streamLock;
  Bytes stream;
  std::atomic<bool> vanish{false};
  std::thread streamer([&] {
    std::mt19937 rng(3);
    uint8_t chunk[97];
    while (!vanish.load()) {
      for (uint8_t& byte : chunk) byte = static_cast<uint8_t>(rng());
      ssize_t wrote;
      {
        std::lock_guard guard(streamLock);
        wrote = ::write(device.Master(), chunk, sizeof chunk);
        if (wrote > 0) stream.insert(stream.end(), chunk, chunk + wrote);
      }
      if (wrote <= 0) {
        pollfd out = {device.Master(), POLLOUT, 0};
        ::poll(&out, 1, 1);
      }
    }
    device.Hangup();
  });
  bool flowing = PumpUntil([&] { return RxCount(harness) >= 30000; });
  vanish = true;
  streamer.join();
  QVERIFY(flowing);

  // Reads of the dead line count as quiet: what was received stays, and the
  // last burst is shown.
  uint32_t lastCount = RxCount(harness);
  auto stableSince = std::chrono::steady_clock::now();
  QVERIFY(PumpUntil([&] {
    uint32_t count = RxCount(harness);
    if (count != lastCount) {
      lastCount = count;
      stableSince = std::chrono::steady_clock::now();
    }
    return std::chrono::steady_clock::now() - stableSince > std::chrono::milliseconds(200) &&
           Shown(harness);
  }));
  uint32_t received = RxCount(harness);
  Bytes log = Log(harness);
  QVERIFY(received <= stream.size());
  QVERIFY(log.size() <= received);
  QVERIFY(std::equal(log.begin(), log.end(), stream.begin() + (received - log.size())));
  std::printf("device vanished after writing %zu bytes; the terminal had received %u\n",
              stream.size(), received);

  // The dead line is closed and the link waits for the device without
  // spinning: the process uses far less processor time than passes.
  QVERIFY(PumpUntil([&] { return window.Link().Waiting(); }));
  QVERIFY(!window.Link().Port().IsOpen());
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  QVERIFY(window.windowTitle().endsWith(QStringLiteral("COM1 waiting for ") +
                                        QString::fromStdString(device.Path())));
  auto cpuBefore = testing::ProcessCpuTime();
  auto wallBefore = std::chrono::steady_clock::now();
  Pump(300);
  double share = static_cast<double>((testing::ProcessCpuTime() - cpuBefore).count()) /
                 static_cast<double>(std::chrono::duration_cast<std::chrono::microseconds>(
                                         std::chrono::steady_clock::now() - wallBefore)
                                         .count());
  std::printf("processor time over 300 ms on the dead line: %.1f%% of the wall time\n",
              share * 100);
  std::fflush(stdout);
  QVERIFY2(share < 0.5, "the link spins on the dead line");

  // A send shows "Write com fail!"; nothing was written, so nothing counts,
  // and no log changes.
  harness.Get<ByteTextBox>(kSendBox)->SetBytes("after");
  harness.Click(kSendButton);
  QTRY_COMPARE(harness.Messages(), QStringList{QStringLiteral("Write com fail!")});
  QCOMPARE(harness.Text(kTxBox), QStringLiteral("0"));
  QCOMPARE(Log(harness), log);
  QCOMPARE(RxCount(harness), received);

  // Closing works; the vanished device cannot be opened again.
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QVERIFY(!window.Link().Port().IsOpen());
  QVERIFY(!window.Link().WorkerRunning());
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Open com"));
  QCOMPARE(harness.Messages(),
           (QStringList{QStringLiteral("Write com fail!"), QStringLiteral("Open com fail!")}));

  // A new device on the same COM number opens, and the log goes on from
  // where it stood.
  window.Names().Set(1, fresh.Path());
  harness.Click(kOpenCloseButton);
  QCOMPARE(harness.Text(kOpenCloseButton), QStringLiteral("Close com"));
  fresh.Send(std::string("back"));
  QVERIFY(PumpUntil([&] { return RxCount(harness) == received + 4 && Shown(harness); }));
  Bytes expected = log.size() + 4 < TerminalState::kLogCapacity ? log : Bytes();
  expected.insert(expected.end(), {'b', 'a', 'c', 'k'});
  QCOMPARE(Log(harness), expected);
  harness.Click(kSendButton);
  QCOMPARE(fresh.Receive(5), BytesOf("after"));
  QCOMPARE(harness.Messages().size(), 2);
  QVERIFY(!window.Link().Hub().workersOverlapped.load());
  QVERIFY(watchdog.MaxWorkersSeen() <= 1);
}

QTEST_MAIN(FaultsTest)
#include "faults_test.moc"
