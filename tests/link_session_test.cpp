// Link sessions on pseudo-terminals: two sessions in one process keep their
// bytes, counters and listeners apart, and one closing leaves the other
// running; every send path of the core goes out through the session's one
// door, heard by its listeners, counted, and in order with the next send.
#include <fcntl.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "connection/link_session.h"
#include "core/unique_fd.h"
#include "sending/answer_rules.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::RecordingWindow;

Bytes AsBytes(const std::string& text) {
  return {text.begin(), text.end()};
}

// What a listener heard of the line, each way.
class Heard : public LineListener {
 public:
  void Received(const uint8_t* bytes, int count) override {
    std::lock_guard guard(mutex_);
    received_.insert(received_.end(), bytes, bytes + count);
  }
  void Sent(const uint8_t* bytes, int count) override {
    std::lock_guard guard(mutex_);
    sent_.insert(sent_.end(), bytes, bytes + count);
  }
  Bytes ReceivedBytes() const {
    std::lock_guard guard(mutex_);
    return received_;
  }
  Bytes SentBytes() const {
    std::lock_guard guard(mutex_);
    return sent_;
  }

 private:
  mutable std::mutex mutex_;
  Bytes received_;
  Bytes sent_;
};

// One session on a device of its own, with a listener.
struct Line {
  explicit Line(bool withTerminal) {
    if (withTerminal) link.AttachTerminal(&state);
    link.Hub().listeners.Add(heard);
    EXPECT_TRUE(
        link.Open(PortTarget::Device(device.Path()), {9600, 8, kOneStopBit, kParityNone}).open);
  }
  ~Line() {
    link.Shutdown();
    link.Hub().listeners.Remove(heard);
  }
  CounterValues Counters() const { return link.Hub().counters.Read(); }

  Heard heard;  // outlives the session's threads
  testing::PtyDevice device;
  TerminalState state;
  LinkSession link;
};

// The second session with a terminal state of its own, or without one (it
// only reads, counts and tells its listeners).
class TwoSessionsTest : public ::testing::TestWithParam<bool> {};

TEST_P(TwoSessionsTest, EachKeepsItsBytesCountersAndListenersAndOutlivesTheOther) {
  Line a(true);
  Line b(GetParam());

  a.device.Send("from A");
  b.device.Send("from B, longer");
  ASSERT_TRUE(testing::WaitForRx(a.link.Hub().counters, 6));
  ASSERT_TRUE(testing::WaitForRx(b.link.Hub().counters, 14));
  EXPECT_EQ(a.heard.ReceivedBytes(), AsBytes("from A"));
  EXPECT_EQ(b.heard.ReceivedBytes(), AsBytes("from B, longer"));
  EXPECT_EQ(testing::LogOf(a.state), AsBytes("from A"));
  EXPECT_EQ(testing::LogOf(b.state), GetParam() ? AsBytes("from B, longer") : Bytes{});

  ASSERT_TRUE(a.link.Send(AsBytes("to A")));
  ASSERT_TRUE(b.link.Send(AsBytes("to B!")));
  EXPECT_EQ(a.device.Receive(4), AsBytes("to A"));
  EXPECT_EQ(b.device.Receive(5), AsBytes("to B!"));
  ASSERT_TRUE(RecordingWindow::WaitFor(
      [&] { return a.Counters().txCount == 4 && b.Counters().txCount == 5; }));
  EXPECT_EQ(a.heard.SentBytes(), AsBytes("to A"));
  EXPECT_EQ(b.heard.SentBytes(), AsBytes("to B!"));
  EXPECT_EQ(a.Counters().rxCount, 6u);
  EXPECT_EQ(b.Counters().rxCount, 14u);

  // A closes; B reads and sends on.
  EXPECT_FALSE(a.link.Close().open);
  EXPECT_FALSE(a.link.WorkerRunning());
  Done refused = a.link.Send(AsBytes("late"));
  EXPECT_FALSE(refused);
  EXPECT_EQ(refused.Reason(), "the port is not open");
  EXPECT_TRUE(b.link.WorkerRunning());
  b.device.Send("more");
  ASSERT_TRUE(testing::WaitForRx(b.link.Hub().counters, 18));
  ASSERT_TRUE(b.link.Send(AsBytes("still")));
  EXPECT_EQ(b.device.Receive(5), AsBytes("still"));
  EXPECT_EQ(b.heard.ReceivedBytes(), AsBytes("from B, longermore"));

  EXPECT_TRUE(a.device.Drain().empty()) << "nothing of B's reached A";
  EXPECT_TRUE(b.device.Drain().empty()) << "nothing of A's reached B";
  EXPECT_EQ(a.heard.ReceivedBytes(), AsBytes("from A"));
  EXPECT_EQ(a.heard.SentBytes(), AsBytes("to A"));
  EXPECT_EQ(a.Counters().rxCount, 6u);
  EXPECT_EQ(a.Counters().txCount, 4u);
}

INSTANTIATE_TEST_SUITE_P(SecondLine, TwoSessionsTest, ::testing::Bool(), [](const auto& info) {
  return info.param ? "WithATerminal" : "WithoutATerminal";
});

// Every send path of the core, triggered on a session whose terminal state
// answers frames, with a listener of everything (as the log file listens)
// and one of the terminal's own traffic (as the session view listens).
class DoorTest;

struct DoorCase {
  const char* name;
  std::string sent;            // what the path puts on the wire
  bool heardWithoutTransfers;  // a transfer's writes are for the listeners of transfers
  void (*setUp)(TerminalState& state);
  // Makes the path send, and calls `next` once its send is ordered.
  void (*trigger)(DoorTest& test, const std::function<void()>& next);
};

class DoorTest : public ::testing::TestWithParam<DoorCase> {
 protected:
  void SetUp() override {
    link.AttachTerminal(&state);
    GetParam().setUp(state);
    link.Hub().listeners.Add(everything, {.transfers = true});
    link.Hub().listeners.Add(terminalOnly);
    ASSERT_TRUE(
        link.Open(PortTarget::Device(device.Path()), {9600, 8, kOneStopBit, kParityNone}).open);
  }
  void TearDown() override {
    link.Shutdown();
    link.Hub().listeners.Remove(everything);
    link.Hub().listeners.Remove(terminalOnly);
  }

 public:
  // The worker answers a frame from the device on its own thread: the
  // answer is ordered once it was heard going out.
  void AnswerTo(const std::string& frame, size_t answer, const std::function<void()>& next) {
    device.Send(frame);
    ASSERT_TRUE(RecordingWindow::WaitFor([&] { return everything.SentBytes().size() >= answer; }));
    next();
  }

  testing::TempDir directory;
  Heard everything;
  Heard terminalOnly;
  testing::PtyDevice device;
  TerminalState state;
  LinkSession link;
};

void NoSetUp(TerminalState&) {}

void FramesEndIn0D(TerminalState& state) {
  std::lock_guard guard(state.lock);
  state.frameEndText = "0D";
  state.frameEndByte = 0x0D;
}

const DoorCase kDoorCases[] = {
    {"QueuedSend", "queued", true, NoSetUp,
     [](DoorTest& t, const std::function<void()>& next) {
       ASSERT_TRUE(t.link.Send(AsBytes("queued")));
       next();
     }},
    {"File", "a file\nof two lines\n", true, NoSetUp,
     [](DoorTest& t, const std::function<void()>& next) {
       std::string path = t.directory / "lines.txt";
       testing::WriteFile(path, "a file\nof two lines\n");
       UniqueFd file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
       ASSERT_TRUE(file.Valid());
       ASSERT_TRUE(t.link.SendFile(std::move(file), "lines.txt", 20, {}));
       next();
     }},
    {"Echo", "ECHO\r", true,
     [](TerminalState& state) {
       FramesEndIn0D(state);
       std::lock_guard guard(state.lock);
       state.echoFrame = true;
     },
     [](DoorTest& t, const std::function<void()>& next) { t.AnswerTo("ECHO\r", 5, next); }},
    {"AutoReply", "AUTO", true,
     [](TerminalState& state) {
       FramesEndIn0D(state);
       std::lock_guard guard(state.lock);
       state.replyAfterFrame = 1;
       state.sendText = "AUTO";
     },
     [](DoorTest& t, const std::function<void()>& next) { t.AnswerTo("go\r", 4, next); }},
    {"AnswerRule", "RULE", true,
     [](TerminalState& state) {
       AnswerRule rule;
       rule.pattern = "Q?";
       rule.content = "RULE";
       InstallAnswerRules(state, AnswerRuleTable::Build({true, FrameBy::kBurst, {rule}}));
     },
     [](DoorTest& t, const std::function<void()>& next) { t.AnswerTo("Q?", 4, next); }},
    // The next send is queued while the transfer holds the wire: it waits.
    {"TransferWrites", "HELD", false, NoSetUp,
     [](DoorTest& t, const std::function<void()>& next) {
       std::atomic<bool> abandon{false};
       SendWriter& door = t.link.Door();
       ASSERT_TRUE(door.HoldWire(abandon));
       next();
       const Bytes held = AsBytes("HELD");
       EXPECT_EQ(door.WriteHeld(held.data(), 4, abandon), WriteEnd::kWritten);
       door.ReleaseWire(false);
     }},
};

TEST_P(DoorTest, EverySendGoesThroughTheOneDoorHeardCountedAndInOrder) {
  const DoorCase& c = GetParam();
  const Bytes next = AsBytes("NEXT");
  c.trigger(*this, [&] { EXPECT_TRUE(link.Send(next)); });
  Bytes expected = AsBytes(c.sent);
  expected.insert(expected.end(), next.begin(), next.end());

  EXPECT_EQ(device.Receive(expected.size()), expected) << "the next send comes after it";
  // Each listener hears a write in its turn: the last may not have yet.
  const Bytes& heardByTerminal = c.heardWithoutTransfers ? expected : next;
  ASSERT_TRUE(RecordingWindow::WaitFor([&] {
    return link.Hub().counters.Read().txCount >= expected.size() &&
           everything.SentBytes().size() >= expected.size() &&
           terminalOnly.SentBytes().size() >= heardByTerminal.size();
  }));
  EXPECT_EQ(link.Hub().counters.Read().txCount, expected.size());
  EXPECT_EQ(everything.SentBytes(), expected);
  EXPECT_EQ(terminalOnly.SentBytes(), heardByTerminal);
  EXPECT_TRUE(device.Drain().empty()) << "nothing more went out";
}

INSTANTIATE_TEST_SUITE_P(Paths, DoorTest, ::testing::ValuesIn(kDoorCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
