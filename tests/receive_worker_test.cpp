// The receive worker on a pseudo-terminal: bursts, refreshes, statistics,
// frames with echo and auto-reply, and stopping it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <numeric>
#include <thread>

#include "core/unique_fd.h"
#include "engine/receive_worker.h"
#include "engine/transmit.h"
#include "sending/hex.h"
#include "support/cpu_time.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;
using testing::WindowEvent;
using namespace std::chrono_literals;

// A loop that rests uses a few percent of a core at most; a spinning one a
// whole core. The bound sits far from both.
constexpr double kRestingCpuShare = 0.3;

// The worker on a pseudo-terminal device, with a recording window. `W` is the
// window type: RecordingWindow answers on the worker's thread, UiThreadWindow
// makes the worker wait until the test's thread serves it.
template <typename W>
class WorkerOn : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
    rig.StartWorker();
  }
  // The worker may be inside a call to the window: it ends before the window goes.
  void TearDown() override { worker.StopAndWait(); }

  template <typename F>
  auto Locked(F read) {
    return testing::Locked(state, read);
  }

  Bytes Log() { return testing::LogOf(state); }

  bool WaitForRx(uint32_t count) { return testing::WaitForRx(rig.hub.counters, count); }
  CounterValues Counters() const { return rig.Counters(); }

  bool WaitForPublishes(size_t count) {
    return RecordingWindow::WaitFor(
        [&] { return window.Count(WindowEvent::kRefreshPublish) >= count; });
  }

  // As the window does when the user switches a mode or edits the frame end.
  void SetModes(bool echo, bool reply, const std::string& frameEnd = "0D") {
    {
      std::lock_guard guard(state.lock);
      state.echoFrame = echo;
      state.replyAfterFrame = reply;
      state.frameEndText = frameEnd;
      state.frameEndByte = FrameEndByteOf(frameEnd);
    }
    state.FrameRulesChanged();
  }

  // Whether the hub's news is up: the window would look at the counters.
  bool CountersNews() const {
    pollfd ready{rig.hub.news.Descriptor(), POLLIN, 0};
    return ::poll(&ready, 1, 0) == 1;
  }

  // `count` transmissions are over once the TX count holds `bytes` and the
  // window has word of it; the word is taken, as the window takes it.
  bool WaitForTransmissions(uint32_t count, uint32_t bytes) {
    bool over = RecordingWindow::WaitFor([&] {
      CounterValues counters = Counters();
      return counters.sendCount >= count && counters.txCount >= bytes && CountersNews();
    });
    window.Messages();
    return over;
  }

  uint32_t SendCount() { return Counters().sendCount; }

  testing::PtyDevice device;
  testing::LineRig rig;
  SerialPort& serial = rig.port;
  TerminalState& state = rig.state;
  WorkerThread& worker = rig.worker;
  W window{rig.state, rig.hub};
};

using WorkerTest = WorkerOn<RecordingWindow>;
using WorkerWithUiThreadTest = WorkerOn<testing::UiThreadWindow>;

TEST_F(WorkerTest, OneReplyIsCapturedAppendedAndPublishedOnce) {
  const Bytes reply = {0x01, 0x03, 0x04, 0x00, 0x0A, 0x00, 0x0B, 0x5A, 0x3C, 0xFF};
  device.Send(reply);
  ASSERT_TRUE(WaitForPublishes(1));

  std::vector<WindowEvent> events = window.Events();
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].kind, WindowEvent::kRefreshCapture);
  EXPECT_EQ(events[0].rxLengthSeen, 0) << "the capture comes before the append";
  EXPECT_EQ(events[0].rxCountSeen, 0u);
  EXPECT_EQ(events[1].kind, WindowEvent::kRefreshPublish);
  EXPECT_EQ(events[1].rxLengthSeen, 10) << "the publish comes after the append";
  EXPECT_EQ(events[1].rxCountSeen, 10u);
  EXPECT_EQ(Log(), reply);
  EXPECT_EQ(Locked([&] { return state.rxBuffer[10]; }), 0);
  CounterValues counters = Counters();
  EXPECT_EQ(counters.rxCount, 10u);
  EXPECT_GT(counters.lastIntervalMs, 0.0);
  EXPECT_EQ(counters.intervalSumMs, counters.lastIntervalMs) << "exactly one interval";

  // The next burst is a pair of its own, so nothing else came of the first.
  device.Send(Bytes{0x42});
  ASSERT_TRUE(WaitForPublishes(2));
  events = window.Events();
  ASSERT_EQ(events.size(), 4u);
  EXPECT_EQ(events[2].kind, WindowEvent::kRefreshCapture);
  EXPECT_EQ(events[3].kind, WindowEvent::kRefreshPublish);
  EXPECT_EQ(events[3].rxLengthSeen, 11);
  counters = Counters();
  EXPECT_EQ(counters.rxCount, 11u);
  EXPECT_GT(counters.intervalSumMs, counters.lastIntervalMs) << "every burst adds its interval";
}

// A window that shows bursts at its own pace hears once per burst that the
// line went quiet, after that burst was published.
TEST_F(WorkerTest, TheLineGoingQuietIsToldOnceAfterEachBurst) {
  for (size_t burst = 1; burst <= 3; ++burst) {
    device.Send(Bytes(burst * 100, 0x55));
    ASSERT_TRUE(RecordingWindow::WaitFor([&] { return window.QuietNotices() >= burst; }));
    EXPECT_EQ(window.QuietNotices(), burst);
    EXPECT_EQ(window.PublishesBeforeLastQuiet(), burst);
  }
}

TEST_F(WorkerTest, WithBothModesOffNothingIsSentButTheLogStillGrows) {
  SetModes(false, false);
  device.Send(Bytes{0x01, 0x02, 0x0D});
  ASSERT_TRUE(WaitForRx(3));
  device.Send(Bytes{0x03, 0x0D});
  ASSERT_TRUE(WaitForRx(5));
  EXPECT_EQ(Log(), (Bytes{0x01, 0x02, 0x0D, 0x03, 0x0D}));
  EXPECT_EQ(SendCount(), 0u);
  EXPECT_EQ(Counters().txCount, 0u);
  EXPECT_FALSE(CountersNews()) << "the window's refreshes show the bursts";
}

TEST_F(WorkerTest, AverageStaysZeroBeforeAnyTransmission) {
  double previousSum = 0;
  for (uint32_t burst = 1; burst <= 3; ++burst) {
    device.Send(Bytes{0x30});
    ASSERT_TRUE(WaitForRx(burst));
    CounterValues counters = Counters();
    EXPECT_EQ(counters.averageMs, 0.0);
    EXPECT_GT(counters.lastIntervalMs, 0.0) << "runs from the counters' creation";
    EXPECT_GT(counters.intervalSumMs, previousSum);
    previousSum = counters.intervalSumMs;
  }
}

TEST_F(WorkerTest, IntervalRunsFromTheTransmissionToTheDelayedReply) {
  constexpr auto kDelay = 150ms;
  std::string request = "PING";
  Locked([&] { state.sendText = request; });
  SendComposedText(state, serial, rig.door);
  ASSERT_EQ(device.Receive(request.size()).size(), request.size());
  std::this_thread::sleep_for(kDelay);  // the device's answering time under test
  device.Send("PONG");
  ASSERT_TRUE(WaitForRx(4));
  CounterValues counters = Counters();
  // Generous on the upper side: a loaded (or instrumented) machine adds
  // scheduling delay, never takes any away.
  EXPECT_GE(counters.lastIntervalMs, 150.0);
  EXPECT_LT(counters.lastIntervalMs, 150.0 + 2000.0);
  EXPECT_EQ(counters.sendCount, 1u);
  EXPECT_DOUBLE_EQ(counters.averageMs, counters.intervalSumMs / 1.0);
}

TEST_F(WorkerTest, StreamIsAppendedInPiecesOfAtMostTwoThousandBytes) {
  // The first capture holds the worker until the whole stream is buffered, so
  // its reads then return data back to back and the chunk fills up.
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  bool streamBuffered = false;
  int lengthBefore = 0;  // worker's thread only
  std::vector<Bytes> pieces;
  window.OnRefresh([&](RefreshPhase phase) {
    if (phase == RefreshPhase::kCapture) {
      {
        std::unique_lock wait(mutex);
        holding = true;
        changed.notify_all();
        changed.wait(wait, [&] { return streamBuffered; });
      }
      lengthBefore = Locked([&] { return state.rxLength; });
      return;
    }
    // The log is emptied first when a piece would overflow it.
    Bytes piece = Locked([&] {
      int from = state.rxLength > lengthBefore ? lengthBefore : 0;
      return Bytes(state.rxBuffer.begin() + from, state.rxBuffer.begin() + state.rxLength);
    });
    std::lock_guard guard(mutex);
    pieces.push_back(std::move(piece));
  });

  Bytes stream(7001);
  for (size_t i = 0; i < stream.size(); ++i) stream[i] = static_cast<uint8_t>(i * 7 % 251);
  device.Send(Bytes{stream[0]});
  {
    std::unique_lock wait(mutex);
    ASSERT_TRUE(changed.wait_for(wait, 5s, [&] { return holding; }));
  }
  device.Send(Bytes(stream.begin() + 1, stream.end()));
  {
    std::lock_guard guard(mutex);
    streamBuffered = true;
  }
  changed.notify_all();
  ASSERT_TRUE(RecordingWindow::WaitFor([&] {
    std::lock_guard guard(mutex);
    size_t total = 0;
    for (const Bytes& piece : pieces) total += piece.size();
    return total == stream.size();
  }));
  window.OnRefresh(nullptr);

  std::lock_guard guard(mutex);
  Bytes joined;
  size_t largest = 0;
  for (const Bytes& piece : pieces) {
    EXPECT_LE(piece.size(), 2000u);
    largest = std::max(largest, piece.size());
    joined.insert(joined.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(joined, stream) << "every byte once, in order";
  EXPECT_EQ(largest, 2000u) << "a full chunk is flushed without waiting for a quiet line";
  EXPECT_EQ(window.Count(WindowEvent::kRefreshPublish), pieces.size());
  EXPECT_EQ(Counters().rxCount, stream.size());
  EXPECT_LE(Locked([&] { return state.rxLength; }), TerminalState::kLogCapacity - 1);
}

// Echo with the frame-end byte 0D: which frames are complete on a quiet line.
struct EchoCase {
  const char* name;
  Bytes frame;
  bool complete;
};

class EchoTest : public WorkerOn<RecordingWindow>,
                 public ::testing::WithParamInterface<EchoCase> {};

TEST_P(EchoTest, FrameIsEchoedOnceWhenItsEndIsAmongTheLastTwoBytes) {
  SetModes(true, false);
  Bytes frame = GetParam().frame;
  device.Send(frame);
  if (!GetParam().complete) {
    // It stays in the frame: a later frame end sends it back with the rest.
    ASSERT_TRUE(WaitForRx(static_cast<uint32_t>(frame.size())));
    device.Send(Bytes{0x0D});
    frame.push_back(0x0D);
  }
  EXPECT_EQ(device.Receive(frame.size()), frame);
  const auto size = static_cast<uint32_t>(frame.size());
  ASSERT_TRUE(WaitForTransmissions(1, size)) << "the window has word of the new TX count";
  CounterValues counters = Counters();
  EXPECT_EQ(counters.sendCount, 1u);
  EXPECT_EQ(counters.txCount, size);

  // The echo reset the frame: the next frame comes back alone.
  device.Send(Bytes{0x07, 0x0D});
  EXPECT_EQ(device.Receive(2), (Bytes{0x07, 0x0D}));
  ASSERT_TRUE(WaitForTransmissions(2, size + 2));
  counters = Counters();
  EXPECT_EQ(counters.sendCount, 2u);
  EXPECT_EQ(counters.txCount, size + 2);
}

INSTANTIATE_TEST_SUITE_P(FrameEnd0D, EchoTest,
                         ::testing::Values(EchoCase{"EndLast", {0x01, 0x02, 0x0D}, true},
                                           EchoCase{
                                               "EndSecondToLast", {0x01, 0x02, 0x0D, 0x55}, true},
                                           EchoCase{"EndOnlyByte", {0x0D}, true},
                                           EchoCase{"EndEarlier", {0x01, 0x0D, 0x02, 0x03}, false},
                                           EchoCase{"NoEnd", {0x01, 0x02}, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(WorkerTest, AutoReplySendsTheSendTextOncePerFrame) {
  SetModes(false, true);
  Locked([&] { state.sendText = "OK\r\n"; });
  for (uint32_t frame = 1; frame <= 2; ++frame) {
    device.Send(Bytes{0x10, 0x20, 0x0D});
    EXPECT_EQ(device.Receive(4), (Bytes{'O', 'K', 0x0D, 0x0A}));
    ASSERT_TRUE(WaitForTransmissions(frame, 4 * frame));
  }
  EXPECT_EQ(Counters().txCount, 8u);
  EXPECT_EQ(SendCount(), 2u);
}

TEST_F(WorkerTest, AutoReplySendsTheHexParseWhenSendAsHexIsOn) {
  SetModes(false, true, "7e");
  Locked([&] {
    state.sendText = "01 03 00 0A, c5cd";
    state.sendAsHex = 1;
  });
  device.Send(Bytes{0x7E, 0x01, 0x7E});
  EXPECT_EQ(device.Receive(5), (Bytes{0x01, 0x03, 0x00, 0x0A, 0xCD}));
  ASSERT_TRUE(WaitForTransmissions(1, 5));
  EXPECT_EQ(Counters().txCount, 5u);
}

TEST_F(WorkerTest, EchoGoesOutBeforeTheAutoReplyWhenBothAreOn) {
  SetModes(true, true);
  Locked([&] { state.sendText = "R"; });
  device.Send(Bytes{0x31, 0x0D});
  EXPECT_EQ(device.Receive(3), (Bytes{0x31, 0x0D, 'R'}));
  ASSERT_TRUE(WaitForTransmissions(2, 3));
  EXPECT_EQ(Counters().txCount, 3u);
}

TEST_F(WorkerTest, SwitchingTheModesOffKeepsTheFrameWithoutAddingToIt) {
  SetModes(true, false);
  device.Send(Bytes{0x01, 0x02});
  ASSERT_TRUE(WaitForRx(2));
  SetModes(false, false);
  device.Send(Bytes{0x03});
  ASSERT_TRUE(WaitForRx(3));
  SetModes(true, false);
  device.Send(Bytes{0x0D});
  EXPECT_EQ(device.Receive(3), (Bytes{0x01, 0x02, 0x0D}));
}

TEST_F(WorkerTest, FullFrameWithoutItsEndIsDroppedSoTheNextFrameIsEchoed) {
  SetModes(true, false);
  device.Send(Bytes(2000, 0x55));
  ASSERT_TRUE(WaitForRx(2000));
  device.Send(Bytes{0x01, 0x02, 0x0D});
  EXPECT_EQ(device.Receive(3), (Bytes{0x01, 0x02, 0x0D}));
  ASSERT_TRUE(WaitForTransmissions(1, 3));
  EXPECT_EQ(Counters().txCount, 3u) << "the dropped frame was never sent";
}

TEST_F(WorkerTest, FullFrameEndingInItsEndByteIsStillEchoedWhole) {
  SetModes(true, false);
  Bytes frame(2000, 0x55);
  frame[1998] = 0x0D;
  device.Send(frame);
  EXPECT_EQ(device.Receive(frame.size()), frame);
}

// Hears every run the worker reads.
class ReceivedBytes : public LineListener {
 public:
  void Received(const uint8_t* bytes, int count) override {
    std::lock_guard guard(mutex_);
    bytes_.insert(bytes_.end(), bytes, bytes + count);
  }
  void Sent(const uint8_t*, int) override {}
  Bytes Get() const {
    std::lock_guard guard(mutex_);
    return bytes_;
  }

 private:
  mutable std::mutex mutex_;
  Bytes bytes_;
};

// A device that floods while every echo of it fails to write. The port's
// descriptor is swapped for one opened for reading only on the same
// pseudo-terminal: reads go on as before, and every write fails in the
// kernel (EBADF) as a broken driver's would, while the line stays up. The
// worker keeps reading through the failures, and "Write com fail!" is news
// once while it waits or is shown, not once per failed echo.
TEST_F(WorkerTest, AFloodWhoseEveryEchoFailsIsStillReadAndToldOnce) {
  worker.StopAndWait();
  int line = serial.Descriptor();
  ASSERT_EQ(::ioctl(line, TIOCNXCL), 0);  // exclusive mode would refuse a user the second open
  UniqueFd readOnly(::open(device.Path().c_str(), O_RDONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  ::ioctl(line, TIOCEXCL);
  ASSERT_TRUE(readOnly.Valid());
  ASSERT_EQ(::dup3(readOnly.Get(), line, O_CLOEXEC), line);
  ReceivedBytes heard;
  rig.hub.listeners.Add(heard);
  struct Leave {
    testing::LineRig& rig;
    ReceivedBytes& heard;
    ~Leave() {
      rig.worker.StopAndWait();
      rig.hub.listeners.Remove(heard);
    }
  } leave{rig, heard};
  SetModes(true, false);
  rig.StartWorker();

  Bytes sent;
  auto frame = [&](int number) {
    std::string text = "F" + std::to_string(number) + "\r";
    Bytes bytes(text.begin(), text.end());
    sent.insert(sent.end(), bytes.begin(), bytes.end());
    return bytes;
  };
  // One frame at a time, each echo tried (and failed) before the next.
  auto framesOneByOne = [&](int count) {
    for (int i = 0; i < count; ++i) {
      uint32_t before = SendCount();
      device.Send(frame(i));
      if (!RecordingWindow::WaitFor([&] { return SendCount() > before; })) return false;
    }
    return true;
  };
  const std::vector<std::string> kFail = {"Write com fail!"};

  // The first failure, then more while its message waits, then a flood.
  ASSERT_TRUE(framesOneByOne(21));
  ASSERT_TRUE(RecordingWindow::WaitFor([&] { return CountersNews(); }));
  Bytes flood;
  for (int i = 0; i < 3000; ++i) {
    Bytes bytes = frame(i);
    flood.insert(flood.end(), bytes.begin(), bytes.end());
  }
  std::thread source([&] { device.Send(flood); });
  bool allRead = RecordingWindow::WaitFor([&] { return Counters().rxCount >= sent.size(); },
                                          std::chrono::seconds(60));
  source.join();
  ASSERT_TRUE(allRead) << Counters().rxCount << " of " << sent.size();
  EXPECT_EQ(heard.Get(), sent) << "every byte reached the listeners, in order";
  Bytes log = Log();
  ASSERT_FALSE(log.empty());
  EXPECT_TRUE(std::equal(log.rbegin(), log.rend(), sent.rbegin()))
      << "the receive log ends with the last bytes read";
  EXPECT_EQ(rig.hub.news.Take(), kFail) << "posted once while it waited";

  // While the message is shown, failures add nothing; once dismissed, the
  // next failure is news again.
  ASSERT_TRUE(framesOneByOne(20));
  EXPECT_TRUE(rig.hub.news.Take().empty()) << "nothing new while it is shown";
  rig.hub.news.Dismissed(kFail.front());
  ASSERT_TRUE(framesOneByOne(1));
  EXPECT_EQ(rig.hub.news.Take(), kFail);
  EXPECT_TRUE(serial.IsOpen()) << "a failing write is no hang-up";
  EXPECT_EQ(Counters().rxCount, sent.size());
}

TEST_F(WorkerTest, HungUpDeviceLeavesTheWorkerResting) {
  device.Send(Bytes{0x01});
  ASSERT_TRUE(WaitForRx(1));
  device.Hangup();
  EXPECT_LT(testing::CpuShareOver(300ms), kRestingCpuShare);

  // It is still stopped at once, and the port opens again on a new device.
  worker.StopAndWait();
  EXPECT_FALSE(worker.Running());
  serial.Close();
  testing::PtyDevice replacement;
  ASSERT_TRUE(rig.Open(replacement.Path(), {9600, 8, kOneStopBit, kParityNone}));
  rig.StartWorker();
  replacement.Send(Bytes{0x02});
  ASSERT_TRUE(WaitForRx(2));
  EXPECT_EQ(Log(), (Bytes{0x01, 0x02}));
}

TEST_F(WorkerTest, HungUpDeviceWithAWaitingFrameLeavesTheWorkerResting) {
  SetModes(true, false);
  device.Send(Bytes{0x01});  // a frame that waits for its end
  ASSERT_TRUE(WaitForRx(1));
  device.Hangup();
  EXPECT_LT(testing::CpuShareOver(300ms), kRestingCpuShare);
}

TEST_F(WorkerTest, RestartingARunningWorkerLeavesTheNewOneResting) {
  rig.StartWorker();  // stops the first worker, then starts a new one
  EXPECT_LT(testing::CpuShareOver(300ms), kRestingCpuShare);
  device.Send(Bytes{0x01});
  ASSERT_TRUE(WaitForRx(1));
  EXPECT_FALSE(rig.hub.workersOverlapped.load());

  // Its writes still wait for room instead of giving up at once.
  Locked([&] { state.sendText = std::string(100000, 'x'); });
  serial.SetWriteTimeouts(0, 2000);
  std::thread reader([&] { EXPECT_EQ(device.Receive(100000, 10s).size(), 100000u); });
  SendComposedText(state, serial, rig.door);
  reader.join();
  EXPECT_TRUE(window.Messages().empty());
}

TEST_F(WorkerTest, WorkerEndsWhenTheStopIsSetOrThePortIsClosed) {
  EXPECT_TRUE(worker.Running());
  worker.StopAndWait();
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(rig.hub.runningWorkers.load(), 0);

  std::atomic<bool> stop{false};
  serial.Close();
  EXPECT_EQ(ReceiveWorker({rig.hub, rig.door, &state}, stop), 0)
      << "a worker on a closed port ends at once";
  EXPECT_EQ(rig.hub.runningWorkers.load(), 0);
}

TEST_F(WorkerWithUiThreadTest, StopAndWaitServesThePendingRefreshAndReturns) {
  device.Send(Bytes{0x41, 0x42, 0x43});
  ASSERT_TRUE(window.WaitForPendingCall()) << "the worker waits in its capture refresh";
  EXPECT_EQ(window.Count(WindowEvent::kRefreshCapture), 0u);

  worker.StopAndWait();
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(rig.hub.runningWorkers.load(), 0);
  // The half-flushed burst was completed, not lost.
  EXPECT_EQ(window.Count(WindowEvent::kRefreshCapture), 1u);
  EXPECT_EQ(window.Count(WindowEvent::kRefreshPublish), 1u);
  EXPECT_EQ(Log(), (Bytes{0x41, 0x42, 0x43}));
}

TEST_F(WorkerWithUiThreadTest, StopAndWaitEndsWithTheWriteFailurePostedWhileStopping) {
  SetModes(true, false);
  device.Send(Bytes{0x0D});
  ASSERT_TRUE(window.WaitForPendingCall()) << "the burst was read; its capture waits";
  device.Hangup();

  // Stopping serves the burst's refreshes; the echo that follows in the same
  // pass fails on the dead line and posts its message, which waits for the
  // window without holding the worker.
  worker.StopAndWait();
  EXPECT_FALSE(worker.Running());
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Write com fail!"});
  EXPECT_EQ(window.Count(WindowEvent::kRefreshPublish), 1u);
  CounterValues counters = Counters();
  EXPECT_EQ(counters.sendCount, 1u) << "a failed write still counts";
  EXPECT_EQ(counters.txCount, 1u);
}

// The UI thread's handlers run between a burst's refreshes; with the state's
// lock they never tear the log or the counters (the sanitizer build checks
// the races themselves).
TEST_F(WorkerTest, HandlersOnTheUiThreadRunBesideAStreamingDevice) {
  std::atomic<bool> streaming{true};
  std::thread source([&] {
    Bytes burst(300);
    std::iota(burst.begin(), burst.end(), uint8_t{1});
    while (streaming.load()) device.Send(burst);
  });
  SetModes(true, true);
  auto deadline = std::chrono::steady_clock::now() + 20s;
  for (int round = 0; round < 200 || window.Count(WindowEvent::kRefreshPublish) < 50; ++round) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "the worker stopped flushing";
      break;
    }
    switch (round % 5) {
      case 0:
        Locked([&] { state.ClearReceived(); });
        break;
      case 1:
        rig.hub.counters.Reset();
        break;
      case 2:
        Locked([&] {
          state.sendText = round % 2 ? "0D" : "41 0d";
          state.sendAsHex = round % 2;
        });
        SendComposedText(state, serial, rig.door);
        break;
      case 3:
        SetModes(round % 2 == 0, round % 3 == 0, round % 2 ? "0d" : "2c");
        break;
      default:
        Locked([&] {
          EXPECT_LE(state.rxLength, TerminalState::kLogCapacity - 1);
          EXPECT_EQ(state.rxBuffer[state.rxLength], 0);
        });
        break;
    }
    device.Drain(0ms);
  }
  streaming.store(false);
  source.join();
  worker.StopAndWait();
  EXPECT_FALSE(rig.hub.workersOverlapped.load());
}

}  // namespace
}  // namespace quorvel
