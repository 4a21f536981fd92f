// The terminal state record: its initial values and the receive log.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "core/clock.h"
#include "core/strings.h"
#include "core/terminal_state.h"
#include "support/line_rig.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes LogOf(const TerminalState& state) {
  return Bytes(state.rxBuffer.begin(), state.rxBuffer.begin() + state.rxLength);
}

Bytes Filled(size_t n, uint8_t value) {
  return Bytes(n, value);
}

TEST(TerminalStateTest, StartsEmptyWithThePortClosed) {
  int64_t before = ReadCounter();
  testing::LineRig rig;
  TerminalState& state = rig.state;
  EXPECT_FALSE(rig.port.IsOpen());
  {
    std::lock_guard guard(state.lock);
    EXPECT_EQ(state.rxLength, 0);
    EXPECT_EQ(state.rxBuffer[0], 0);
    EXPECT_TRUE(state.receiveText.empty());
    EXPECT_TRUE(state.sendText.empty());
    EXPECT_FALSE(state.echoFrame);
    EXPECT_EQ(state.timerSend, 0);
    EXPECT_EQ(state.replyAfterFrame, 0);
  }
  CounterValues counters = rig.Counters();
  EXPECT_EQ(counters.rxCount, 0u);
  EXPECT_EQ(counters.txCount, 0u);
  EXPECT_EQ(counters.sendCount, 0u);
  EXPECT_EQ(counters.lastIntervalMs, 0.0);
  EXPECT_EQ(counters.intervalSumMs, 0.0);
  EXPECT_EQ(counters.averageMs, 0.0);
  EXPECT_EQ(counters.counterFrequency, CounterFrequency());
  EXPECT_GE(counters.lastSendTime, before) << "the first timestamp is taken at creation";
  EXPECT_LE(counters.lastSendTime, ReadCounter());
  EXPECT_EQ(state.Window(), nullptr);
}

TEST(ClockTest, CounterOnlyGrowsAndTicksAtItsFrequency) {
  EXPECT_GT(CounterFrequency(), 0);
  int64_t a = ReadCounter();
  int64_t b = ReadCounter();
  EXPECT_LE(a, b);
}

TEST(StringsTest, MessagesAndCaptionsAreTheTerminalsOwnTexts) {
  EXPECT_STREQ(LoadString(StringId::kWriteFail), "Write com fail!");
  EXPECT_STREQ(LoadString(StringId::kOpenFail), "Open com fail!");
  EXPECT_STREQ(LoadString(StringId::kOpenCaption), "Open com");
  EXPECT_STREQ(LoadString(StringId::kCloseCaption), "Close com");
  EXPECT_STREQ(LoadString(static_cast<StringId>(999)), "");
}

struct AppendCase {
  const char* name;
  int before;  // bytes in the log
  int added;
  int after;  // bytes in the log afterwards
};

class AppendTest : public ::testing::TestWithParam<AppendCase> {};

TEST_P(AppendTest, LogIsEmptiedFirstWhenItWouldReachTenThousandBytes) {
  const AppendCase& c = GetParam();
  testing::LineRig rig;
  TerminalState& state = rig.state;
  std::lock_guard guard(state.lock);
  Bytes expected;
  for (int left = c.before; left > 0;) {
    int n = std::min(left, 2000);
    Bytes old = Filled(static_cast<size_t>(n), 0x11);
    state.AppendReceived(old.data(), n);
    expected.insert(expected.end(), old.begin(), old.end());
    left -= n;
  }
  ASSERT_EQ(state.rxLength, c.before);
  Bytes added(static_cast<size_t>(c.added));
  std::iota(added.begin(), added.end(), uint8_t{1});
  state.AppendReceived(added.data(), c.added);

  if (c.after == c.before + c.added) {
    expected.insert(expected.end(), added.begin(), added.end());
  } else {
    expected = added;  // discarded, not scrolled
  }
  EXPECT_EQ(state.rxLength, c.after);
  EXPECT_EQ(LogOf(state), expected);
  EXPECT_EQ(state.rxBuffer[static_cast<size_t>(state.rxLength)], 0) << "zero-terminated";
  EXPECT_EQ(rig.Counters().rxCount, 0u) << "the worker counts, not the log";
}

INSTANTIATE_TEST_SUITE_P(Boundaries, AppendTest,
                         ::testing::Values(AppendCase{"IntoEmpty", 0, 10, 10},
                                           AppendCase{"FullChunk", 0, 2000, 2000},
                                           AppendCase{"To9999Keeps", 7999, 2000, 9999},
                                           AppendCase{"To10000Empties", 8000, 2000, 2000},
                                           AppendCase{"OneByteTo9999Keeps", 9998, 1, 9999},
                                           AppendCase{"OneByteTo10000Empties", 9999, 1, 1},
                                           AppendCase{"Beyond10000Empties", 9000, 1500, 1500}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(AppendTest, ZeroBytesInTheDataAreKept) {
  testing::LineRig rig;
  TerminalState& state = rig.state;
  std::lock_guard guard(state.lock);
  const Bytes bytes = {0x00, 0x41, 0x00};
  state.AppendReceived(bytes.data(), 3);
  EXPECT_EQ(LogOf(state), bytes);
}

TEST(AppendTest, NothingOrAnOversizedCountNeverOverrunsTheLog) {
  testing::LineRig rig;
  TerminalState& state = rig.state;
  std::lock_guard guard(state.lock);
  uint8_t byte = 0x41;
  state.AppendReceived(&byte, 0);
  state.AppendReceived(&byte, -5);
  EXPECT_EQ(state.rxLength, 0);
  Bytes huge = Filled(20000, 0x42);
  state.AppendReceived(huge.data(), static_cast<int>(huge.size()));
  EXPECT_LE(state.rxLength, TerminalState::kLogCapacity - 1);
  EXPECT_EQ(state.rxBuffer[static_cast<size_t>(state.rxLength)], 0);
}

TEST(ClearTest, ClearEmptiesTheLogAndTheTextButKeepsTheCount) {
  testing::LineRig rig;
  TerminalState& state = rig.state;
  std::lock_guard guard(state.lock);
  const Bytes bytes = {'a', 'b', 'c'};
  state.AppendReceived(bytes.data(), 3);
  rig.hub.counters.CountReceived(3);
  state.receiveText = "abc";
  state.ClearReceived();
  EXPECT_EQ(state.rxLength, 0);
  EXPECT_EQ(state.rxBuffer[0], 0);
  EXPECT_TRUE(state.receiveText.empty());
  EXPECT_EQ(rig.Counters().rxCount, 3u);
  state.AppendReceived(bytes.data(), 1);
  EXPECT_EQ(LogOf(state), Bytes{'a'});
}

}  // namespace
}  // namespace quorvel
