// How the receive worker's waits on the port end: data, a one-shot wake from
// the window, or a cancel from the link session. Each wait has no time limit
// here, so only the event under test can end it.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "link/serial_port.h"
#include "support/pty_device.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;

class PortWaitsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(port_.Open(PortTarget::Device(device_.Path()), {})); }

  // Starts WaitReadable(-1) on another thread; the future is ready when it returned.
  std::future<void> WaitWithoutLimit() {
    return std::async(std::launch::async, [this] { port_.WaitReadable(-1); });
  }

  testing::PtyDevice device_;
  SerialPort port_;
};

TEST_F(PortWaitsTest, AWaitWithoutLimitRestsUntilTheLineSpeaks) {
  auto wait = WaitWithoutLimit();
  EXPECT_EQ(wait.wait_for(50ms), std::future_status::timeout);
  device_.Send("x");
  EXPECT_EQ(wait.wait_for(5s), std::future_status::ready);
}

TEST_F(PortWaitsTest, AWakeEndsOneWaitOnly) {
  auto first = WaitWithoutLimit();
  EXPECT_EQ(first.wait_for(20ms), std::future_status::timeout);
  port_.WakeReader();
  EXPECT_EQ(first.wait_for(5s), std::future_status::ready);

  // The wake was taken by that wait; the next one rests again.
  auto second = WaitWithoutLimit();
  EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);
  port_.WakeReader();
  EXPECT_EQ(second.wait_for(5s), std::future_status::ready);
}

TEST_F(PortWaitsTest, AWakeBeforeTheWaitIsNotLost) {
  port_.WakeReader();
  auto wait = WaitWithoutLimit();
  EXPECT_EQ(wait.wait_for(5s), std::future_status::ready);
}

TEST_F(PortWaitsTest, ACancelEndsEveryWaitUntilTheNextOpen) {
  auto wait = WaitWithoutLimit();
  port_.CancelWaits();
  EXPECT_EQ(wait.wait_for(5s), std::future_status::ready);
  EXPECT_EQ(WaitWithoutLimit().wait_for(5s), std::future_status::ready);

  port_.Close();
  ASSERT_TRUE(port_.Open(PortTarget::Device(device_.Path()), {}));
  auto afterReopen = WaitWithoutLimit();
  EXPECT_EQ(afterReopen.wait_for(50ms), std::future_status::timeout);
  port_.WakeReader();
  EXPECT_EQ(afterReopen.wait_for(5s), std::future_status::ready);
}

}  // namespace
}  // namespace quorvel
