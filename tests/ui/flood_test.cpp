// The window under a flood: the worker reads the line without waiting for the
// window, and the window shows the latest state at its own pace. What the user
// changes must still reach the worker before the bursts after it, a Clear must
// cut the log exactly, and a UI thread that falls behind must neither repeat
// nor skip anything when it catches up.
#include <poll.h>
#include <unistd.h>

#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <optional>
#include <random>
#include <thread>

#include "engine/render.h"
#include "support/recording_window.h"
#include "terminal_harness.h"
#include "ui/byte_text_box.h"
#include "ui/receive_box.h"

using namespace quorvel;
using quorvel::testing::RecordingWindow;
using quorvel::testing::TerminalHarness;

namespace {

using Bytes = std::vector<uint8_t>;
constexpr auto kDeadline = std::chrono::seconds(30);  // a loaded machine, sanitizers

// A device thread that writes `byteAt(position)` at full speed until told to
// finish with `tail` more bytes, and keeps reading what the terminal sends
// (so its echoes never wait for room). Records every byte both ways.
class FloodingDevice {
 public:
  FloodingDevice(int master, std::function<uint8_t(uint64_t)> byteAt)
      : master_(master), byteAt_(std::move(byteAt)) {
    thread_ = std::thread([this] { Run(); });
  }
  ~FloodingDevice() {
    {
      std::lock_guard guard(mutex_);
      quit_ = true;
    }
    thread_.join();
  }

  void Finish(uint64_t tail) {
    std::lock_guard guard(mutex_);
    if (!stopAt_) stopAt_ = written_.size() + tail;
  }
  bool Done() {
    std::lock_guard guard(mutex_);
    return stopAt_ && written_.size() >= *stopAt_;
  }
  Bytes Written() {
    std::lock_guard guard(mutex_);
    return written_;
  }
  Bytes Received() {
    std::lock_guard guard(mutex_);
    return received_;
  }

 private:
  void Run() {
    uint8_t piece[512];
    for (;;) {
      size_t length;
      {
        std::lock_guard guard(mutex_);
        if (quit_) return;
        length =
            stopAt_ ? std::min<uint64_t>(sizeof piece, *stopAt_ - written_.size()) : sizeof piece;
        for (size_t i = 0; i < length; ++i) piece[i] = byteAt_(written_.size() + i);
      }
      pollfd line = {master_, static_cast<short>(POLLIN | (length ? POLLOUT : 0)), 0};
      ::poll(&line, 1, 20);
      std::lock_guard guard(mutex_);
      if (line.revents & POLLIN) {
        uint8_t in[4096];
        ssize_t n = ::read(master_, in, sizeof in);
        if (n > 0) received_.insert(received_.end(), in, in + n);
      }
      if (length && (line.revents & POLLOUT)) {
        ssize_t n = ::write(master_, piece, length);
        if (n > 0) written_.insert(written_.end(), piece, piece + n);
      }
    }
  }

  int master_;
  std::function<uint8_t(uint64_t)> byteAt_;
  std::mutex mutex_;
  Bytes written_;
  Bytes received_;
  std::optional<uint64_t> stopAt_;
  bool quit_ = false;
  std::thread thread_;
};

// Random bytes, the same for a position every time; never 00, 0a or 0d, so
// that only the bytes a test puts there can end a frame.
uint8_t RandomByte(uint64_t position) {
  auto random = std::minstd_rand(static_cast<unsigned>(position) + 1)() >> 7;
  return static_cast<uint8_t>(0x20 + random % 0xd0);
}

struct Look {
  uint32_t rxCount;
  Bytes log;
  bool hex;
};

Look LookAt(TerminalHarness& harness) {
  const LinkCounters& counters = harness.Window().Link().Hub().counters;
  return harness.Field([&](TerminalState& s) {
    return Look{counters.Read().rxCount, Bytes(s.rxBuffer.begin(), s.rxBuffer.begin() + s.rxLength),
                s.hexDisplay != 0};
  });
}

// The log is the tail of `stream`; the boxes show it and the count.
void ExpectShowsTail(TerminalHarness& harness, const Bytes& stream) {
  QTRY_VERIFY_WITH_TIMEOUT(
      LookAt(harness).rxCount == stream.size() && harness.Window().PublishSettled(), 30000);
  Look look = LookAt(harness);
  QVERIFY(look.log.size() <= stream.size());
  QVERIFY2(std::equal(look.log.begin(), look.log.end(), stream.end() - look.log.size()),
           "the log is the stream's tail");
  auto* box = harness.Get<ReceiveBox>(kReceiveBox);
  QVERIFY2(box->Shown() ==
               RenderReceiveText(look.log.data(), static_cast<int>(look.log.size()), look.hex),
           "the receive box shows the rendering of the log, nothing twice, nothing skipped");
  QCOMPARE(harness.Text(kRxBox), QString::number(stream.size()));
}

}  // namespace

class FloodTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void ruleChangedDuringAFloodAppliesToLaterFrames_data();
  void ruleChangedDuringAFloodAppliesToLaterFrames();
  void clearDuringAFloodKeepsAnExactTail();
  void typingDuringAFloodIsKept();
  void slowUiThreadShowsEveryByteOnce();
};

void FloodTest::ruleChangedDuringAFloodAppliesToLaterFrames_data() {
  QTest::addColumn<QString>("frameEndBefore");
  QTest::addColumn<bool>("echoBefore");
  QTest::addColumn<bool>("typeFrameEnd");  // else: click Echo
  QTest::newRow("echo switched on") << QStringLiteral("0a") << false << false;
  QTest::newRow("new frame-end byte typed") << QStringLiteral("0d") << true << true;
}

void FloodTest::ruleChangedDuringAFloodAppliesToLaterFrames() {
  QFETCH(QString, frameEndBefore);
  QFETCH(bool, echoBefore);
  QFETCH(bool, typeFrameEnd);
  TerminalHarness harness;
  harness.Window();
  harness.Type(kFrameEndBox, frameEndBefore);
  if (echoBefore) harness.Click(kEchoCheck);
  // Every other byte is 0a: a frame judged at any point ends in it or one
  // byte before it, so once 0a ends frames every byte is echoed, in order.
  FloodingDevice device(harness.Device().Master(), [](uint64_t position) {
    return position % 2 ? RandomByte(position) : uint8_t{0x0a};
  });
  QTRY_VERIFY_WITH_TIMEOUT(LookAt(harness).rxCount > 50000, 30000);
  QVERIFY2(device.Received().empty(), "nothing is echoed before the change");

  uint32_t before = LookAt(harness).rxCount;
  if (typeFrameEnd) {
    harness.Type(kFrameEndBox, QStringLiteral("0a"));
  } else {
    harness.Click(kEchoCheck);
  }
  uint32_t after = LookAt(harness).rxCount;
  device.Finish(100000);
  QTRY_VERIFY_WITH_TIMEOUT(device.Done(), 30000);
  Bytes stream = device.Written();
  QTRY_VERIFY_WITH_TIMEOUT(LookAt(harness).rxCount == stream.size(), 30000);
  auto echoedAll = [&] {
    Bytes echoed = device.Received();
    return echoed.size() >= 16 && std::equal(echoed.end() - 16, echoed.end(), stream.end() - 16);
  };
  QTRY_VERIFY_WITH_TIMEOUT(echoedAll(), 30000);

  // Frames are gathered from the read after the change on, and every one is
  // answered: the echo ends with the whole stream from there, in order. (A
  // frame-end byte typed also completes the frame gathered before it, and
  // one read into the chunk may be cut off that frame.)
  Bytes echoed = device.Received();
  size_t firstAnswered = after + kChunkCapacity;
  QVERIFY(firstAnswered < stream.size());
  size_t tail = stream.size() - firstAnswered;
  QVERIFY2(
      echoed.size() >= tail && std::equal(echoed.end() - static_cast<ptrdiff_t>(tail), echoed.end(),
                                          stream.begin() + static_cast<ptrdiff_t>(firstAnswered)),
      "every frame after the change is echoed, in order");
  size_t earliest = typeFrameEnd ? before - std::min<size_t>(before, kChunkCapacity) : before;
  QVERIFY2(echoed.size() <= stream.size() - earliest,
           "nothing received before the change is echoed");
}

void FloodTest::clearDuringAFloodKeepsAnExactTail() {
  TerminalHarness harness;
  harness.Window();
  FloodingDevice device(harness.Device().Master(), RandomByte);
  QTRY_VERIFY_WITH_TIMEOUT(LookAt(harness).rxCount > 30000, 30000);
  uint32_t before = LookAt(harness).rxCount;
  harness.Click(kClearReceiveButton);
  device.Finish(3000);
  QTRY_VERIFY_WITH_TIMEOUT(device.Done(), 30000);
  Bytes stream = device.Written();
  ExpectShowsTail(harness, stream);
  if (QTest::currentTestFailed()) return;
  QVERIFY2(stream.size() - LookAt(harness).log.size() >= before,
           "nothing counted before the Clear is in the log");
}

void FloodTest::typingDuringAFloodIsKept() {
  TerminalHarness harness;
  harness.Window();
  FloodingDevice device(harness.Device().Master(), RandomByte);
  auto* sendBox = harness.Get<ByteTextBox>(kSendBox);
  sendBox->setFocus();
  // Publishes come between the keys; none may put the older text back.
  for (QChar key : QStringLiteral("typed while flooded")) {
    uint32_t seen = LookAt(harness).rxCount;
    QTest::keyClick(sendBox, key.toLatin1());
    QTRY_VERIFY_WITH_TIMEOUT(LookAt(harness).rxCount > seen + 4000, 30000);
  }
  QCOMPARE(sendBox->toPlainText(), QStringLiteral("typed while flooded"));
  QTRY_COMPARE_WITH_TIMEOUT(harness.Field([](TerminalState& s) { return s.sendText; }),
                            std::string("typed while flooded"), 30000);
}

void FloodTest::slowUiThreadShowsEveryByteOnce() {
  struct Round {
    size_t bytes;
    bool toggleHex;
  };
  // Bursts that fill, overflow and empty the log, in text and in hex.
  static constexpr Round kRounds[] = {{1, false},    {1999, false}, {2001, true}, {6000, false},
                                      {9000, false}, {700, true},   {15000, true}};
  TerminalHarness harness;
  harness.Window();
  // The first burst captures (and so waits for the UI thread), as one after
  // any edit of a box would.
  Bytes stream = {'>'};
  harness.Device().Send(stream);
  ExpectShowsTail(harness, stream);
  if (QTest::currentTestFailed()) return;
  for (const Round& round : kRounds) {
    if (round.toggleHex) harness.Click(kHexDisplayCheck);
    Bytes piece(round.bytes);
    for (size_t i = 0; i < piece.size(); ++i) piece[i] = RandomByte(stream.size() + i);
    stream.insert(stream.end(), piece.begin(), piece.end());
    // The UI thread stalls (serves nothing) while the device sends: the
    // worker must take it all in without the window.
    std::thread sender([&] { harness.Device().Send(piece); });
    bool drained = RecordingWindow::WaitFor(
        [&] { return LookAt(harness).rxCount == stream.size(); }, kDeadline);
    sender.join();
    QVERIFY2(drained, "the worker read the line while the UI thread was stalled");
    ExpectShowsTail(harness, stream);
    if (QTest::currentTestFailed()) return;
  }
}

QTEST_MAIN(FloodTest)
#include "flood_test.moc"
