// The transmit paths on a pseudo-terminal: what goes on the line, the counts,
// the timestamp and the TX box.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/clock.h"
#include "engine/transmit.h"
#include "link/serial_port.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using testing::WindowEvent;

class TransmitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    serial.Names().Set(1, device.Path());
    ASSERT_TRUE(serial.Open(1, {9600, 8, kOneStopBit, kParityNone}));
  }

  void SetSendText(const std::string& text, bool asHex) {
    std::lock_guard guard(state.lock);
    state.sendText = text;
    state.sendAsHex = asHex ? 1 : 0;
  }

  template <typename F>
  auto Locked(F read) {
    return testing::Locked(state, read);
  }

  std::vector<uint32_t> TxBoxTexts() const {
    std::vector<uint32_t> shown;
    for (const WindowEvent& event : window.Events()) {
      if (event.kind == WindowEvent::kTxCount) shown.push_back(event.txCount);
    }
    return shown;
  }

  testing::PtyDevice device;
  SerialPort serial;
  TerminalState state{serial};
  testing::RecordingWindow window{state};
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
  SendComposedText(state);
  // A marker behind it shows that nothing more went out.
  const Bytes marker = {0xA5};
  state.port.Write(marker.data(), 1);
  Bytes expected = c.sent;
  expected.push_back(0xA5);
  EXPECT_EQ(device.Receive(expected.size()), expected);
  Locked([&] {
    EXPECT_EQ(state.sendCount, 1u) << "one transmission, even of nothing";
    EXPECT_EQ(state.txCount, c.sent.size());
    EXPECT_GE(state.lastSendTime, before) << "the interval clock restarts";
  });
  EXPECT_EQ(TxBoxTexts(), std::vector<uint32_t>{static_cast<uint32_t>(c.sent.size())});
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
  SetSendText("abc", false);
  SendComposedText(state);
  SetSendText("01 02", true);
  SendComposedText(state);
  const Bytes raw = {0x00, 0xFF, 0x0D, 0x0A};
  SendBytes(state, raw.data(), 4);
  EXPECT_EQ(device.Receive(9), (Bytes{'a', 'b', 'c', 0x01, 0x02, 0x00, 0xFF, 0x0D, 0x0A}));
  Locked([&] {
    EXPECT_EQ(state.sendCount, 3u);
    EXPECT_EQ(state.txCount, 9u);
  });
  EXPECT_EQ(TxBoxTexts(), (std::vector<uint32_t>{3, 5, 9}));
}

TEST_F(TransmitTest, ClosedPortSendsNothingCountsNothingAndShowsNothing) {
  state.port.Close();
  SetSendText("01 02", true);
  int64_t stamp = Locked([&] { return state.lastSendTime; });
  SendComposedText(state);
  SetSendText("text", false);
  SendComposedText(state);
  Locked([&] {
    EXPECT_EQ(state.sendCount, 0u);
    EXPECT_EQ(state.txCount, 0u);
    EXPECT_EQ(state.lastSendTime, stamp);
  });
  EXPECT_TRUE(window.Events().empty());
  EXPECT_TRUE(device.Drain(std::chrono::milliseconds(20)).empty());
}

TEST_F(TransmitTest, SendBytesStampsTheTimeBeforeWriting) {
  int64_t before = ReadCounter();
  const Bytes bytes = {1, 2, 3};
  SendBytes(state, bytes.data(), 3);
  int64_t after = ReadCounter();
  Locked([&] {
    EXPECT_GE(state.lastSendTime, before);
    EXPECT_LE(state.lastSendTime, after);
  });
}

TEST_F(TransmitTest, FailedWriteStillCountsAndShowsWriteFail) {
  device.Hangup();
  SetSendText("hello", false);
  SendComposedText(state);
  EXPECT_EQ(window.Messages(), std::vector<std::string>{"Write com fail!"});
  Locked([&] {
    EXPECT_EQ(state.sendCount, 1u);
    EXPECT_EQ(state.txCount, 5u);
  });
  EXPECT_EQ(TxBoxTexts(), std::vector<uint32_t>{5});
}

TEST_F(TransmitTest, WithoutAWindowTheTransmissionGoesOnSilently) {
  state.AttachWindow(nullptr);
  SetSendText("x", false);
  SendComposedText(state);
  EXPECT_EQ(device.Receive(1), Bytes{'x'});
  Locked([&] { EXPECT_EQ(state.txCount, 1u); });
  state.AttachWindow(&window);
}

TEST_F(TransmitTest, ResetCountersKeepsTheLastInterval) {
  Locked([&] {
    state.rxCount = 10;
    state.txCount = 20;
    state.sendCount = 3;
    state.lastIntervalMs = 12.5;
    state.intervalSumMs = 40.0;
    state.averageMs = 13.3;
  });
  ResetCounters(state);
  Locked([&] {
    EXPECT_EQ(state.rxCount, 0u);
    EXPECT_EQ(state.txCount, 0u);
    EXPECT_EQ(state.sendCount, 0u);
    EXPECT_EQ(state.intervalSumMs, 0.0);
    EXPECT_EQ(state.averageMs, 0.0);
    EXPECT_EQ(state.lastIntervalMs, 12.5);
  });
  EXPECT_TRUE(window.Events().empty()) << "the window publishes the counters itself";
}

}  // namespace
}  // namespace quorvel
