// The transmit paths on a pseudo-terminal: what goes on the line, the counts,
// the timestamp and the word to the window that the TX count moved.
#include <gtest/gtest.h>
#include <poll.h>

#include <functional>
#include <string>
#include <vector>

#include "core/clock.h"
#include "engine/transmit.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

class TransmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
  }

  void SetSendText(const std::string& text, bool asHex) {
    std::lock_guard guard(state.lock);
    state.sendText = text;
    state.sendAsHex = asHex ? 1 : 0;
  }

  // Whether the hub's news says the counters moved since the last look; the
  // look takes the news, as the window does, so the next one starts afresh.
  bool CountersNews() {
    pollfd ready{rig.hub.news.Descriptor(), POLLIN, 0};
    bool raised = ::poll(&ready, 1, 0) == 1;
    window.Messages();
    return raised;
  }

  // The TX count after each of `sends`, when each raised the news.
  template <typename Send>
  std::vector<uint32_t> TxCountsAfter(const std::vector<Send>& sends) {
    std::vector<uint32_t> shown;
    for (const Send& send : sends) {
      send();
      if (CountersNews()) shown.push_back(rig.Counters().txCount);
    }
    return shown;
  }

  testing::PtyDevice device;
  testing::LineRig rig;
  TerminalState& state = rig.state;
  testing::RecordingWindow window{rig.state, rig.hub};
};

struct ComposedCase {
  const char* name;
  std::string text;
  bool asHex;
  Bytes sent;
};

class ComposedTextTest : public TransmitTest, public ::testing::WithParamInterface<ComposedCase> {};

TEST_P(ComposedTextTest, SendTextGoesOutAsTypedOrParsed) {
  const ComposedCase& c = GetParam();
  SetSendText(c.text, c.asHex);
  int64_t before = ReadCounter();
  SendComposedText(state, rig.port, rig.door);
  EXPECT_TRUE(CountersNews());
  // A marker behind it shows that nothing more went out.
  const Bytes marker = {0xA5};
  rig.port.Write(marker.data(), 1);
  Bytes expected = c.sent;
  expected.push_back(0xA5);
  EXPECT_EQ(device.Receive(expected.size()), expected);
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.sendCount, 1u) << "one transmission, even of nothing";
  EXPECT_EQ(counters.txCount, c.sent.size());
  EXPECT_GE(counters.lastSendTime, before) << "the interval clock restarts";
  EXPECT_TRUE(window.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ComposedTextTest,
    ::testing::Values(ComposedCase{"HexModbusRequest",
                                   "01 03 00 00 00 0A C5 CD",
                                   true,
                                   {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}},
                      ComposedCase{"HexOddRun", "123", true, {0x23}},
                      ComposedCase{"HexWithoutDigits", "zz", true, {}},
                      ComposedCase{"HexEmpty", "", true, {}},
                      ComposedCase{"HexAcrossLines", "01\r\n02", true, {0x01, 0x02}},
                      ComposedCase{"TextWithLineBreak", "AB\r\n", false, {0x41, 0x42, 0x0D, 0x0A}},
                      ComposedCase{"TextEmpty", "", false, {}},
                      ComposedCase{"TextIsNotParsed", "01 02", false, {'0', '1', ' ', '0', '2'}},
                      ComposedCase{"TextHighBytes", "\xFF\x80", false, {0xFF, 0x80}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TransmitTest, CountsAddUpOverTransmissions) {
  const Bytes raw = {0x00, 0xFF, 0x0D, 0x0A};
  std::vector<std::function<void()>> sends = {[&] {
                                                SetSendText("abc", false);
                                                SendComposedText(state, rig.port, rig.door);
                                              },
                                              [&] {
                                                SetSendText("01 02", true);
                                                SendComposedText(state, rig.port, rig.door);
                                              },
                                              [&] { rig.door.Reply(raw.data(), 4); }};
  EXPECT_EQ(TxCountsAfter(sends), (std::vector<uint32_t>{3, 5, 9}));
  EXPECT_EQ(device.Receive(9), (Bytes{'a', 'b', 'c', 0x01, 0x02, 0x00, 0xFF, 0x0D, 0x0A}));
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.sendCount, 3u);
  EXPECT_EQ(counters.txCount, 9u);
}

TEST_F(TransmitTest, ClosedPortSendsNothingCountsNothingAndShowsNothing) {
  rig.port.Close();
  SetSendText("01 02", true);
  int64_t stamp = rig.Counters().lastSendTime;
  SendComposedText(state, rig.port, rig.door);
  SetSendText("text", false);
  SendComposedText(state, rig.port, rig.door);
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.sendCount, 0u);
  EXPECT_EQ(counters.txCount, 0u);
  EXPECT_EQ(counters.lastSendTime, stamp);
  EXPECT_TRUE(window.Events().empty());
  EXPECT_FALSE(CountersNews());
  EXPECT_TRUE(window.Messages().empty());
  EXPECT_TRUE(device.Drain(std::chrono::milliseconds(20)).empty());
}

TEST_F(TransmitTest, AReplyStampsTheTimeBeforeWriting) {
  int64_t before = ReadCounter();
  const Bytes bytes = {1, 2, 3};
  rig.door.Reply(bytes.data(), 3);
  int64_t after = ReadCounter();
  CounterValues counters = rig.Counters();
  EXPECT_GE(counters.lastSendTime, before);
  EXPECT_LE(counters.lastSendTime, after);
}

TEST_F(TransmitTest, FailedWriteStillCountsAndShowsWriteFail) {
  device.Hangup();
  SetSendText("hello", false);
  SendComposedText(state, rig.port, rig.door);
  EXPECT_TRUE(CountersNews());
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Write com fail!"});
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.sendCount, 1u);
  EXPECT_EQ(counters.txCount, 5u);
}

TEST_F(TransmitTest, WithoutAWindowTheTransmissionGoesOnSilently) {
  state.AttachWindow(nullptr);
  SetSendText("x", false);
  SendComposedText(state, rig.port, rig.door);
  EXPECT_EQ(device.Receive(1), Bytes{'x'});
  EXPECT_EQ(rig.Counters().txCount, 1u);
  EXPECT_TRUE(window.Events().empty());
  state.AttachWindow(&window);
}

TEST_F(TransmitTest, ResetCountersKeepsTheLastInterval) {
  rig.hub.counters.Update([](CounterValues& values) {
    values.rxCount = 10;
    values.txCount = 20;
    values.sendCount = 3;
    values.lastIntervalMs = 12.5;
    values.intervalSumMs = 40.0;
    values.averageMs = 13.3;
  });
  rig.hub.counters.Reset();
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.rxCount, 0u);
  EXPECT_EQ(counters.txCount, 0u);
  EXPECT_EQ(counters.sendCount, 0u);
  EXPECT_EQ(counters.intervalSumMs, 0.0);
  EXPECT_EQ(counters.averageMs, 0.0);
  EXPECT_EQ(counters.lastIntervalMs, 12.5);
  EXPECT_TRUE(window.Events().empty()) << "the window publishes the counters itself";
  EXPECT_FALSE(CountersNews());
}

}  // namespace
}  // namespace quorvel
