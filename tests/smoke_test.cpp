#include <gtest/gtest.h>

#include "engine/transmit.h"
#include "link/link_control.h"
#include "support/pty_device.h"
#include "support/recording_window.h"

namespace quorvel {
namespace {

TEST(Smoke, EchoRoundTripThroughLink) {
  testing::PtyDevice device;
  TerminalState state;
  testing::RecordingWindow window(state);
  state.port.Names().Set(1, device.Path());
  LinkControl link(state);
  LinkStatus status = link.ToggleLink({0, 7, 3, 0, 0, 0});
  ASSERT_TRUE(status.open);
  device.Send("hello");
  ASSERT_TRUE(testing::RecordingWindow::WaitFor([&] {
    std::lock_guard guard(state.lock);
    return state.rxCount == 5;
  }));
  {
    std::lock_guard guard(state.lock);
    state.sendText = "ok";
  }
  SendComposedText(state);
  EXPECT_EQ(device.Receive(2), (std::vector<uint8_t>{'o', 'k'}));
  link.Shutdown();
}

}  // namespace
}  // namespace quorvel
