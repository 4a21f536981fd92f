// The link's events reach the session store through the state's taps, in
// order with the bytes: opened with its line settings, settings changed,
// closed; a command no device carries out is no event.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "connection/link_control.h"
#include "history/session_store.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::RecordingWindow;

class SessionEventsTest : public ::testing::Test {
 protected:
  SessionEventsTest() {
    serial.Names().Set(1, device.Path());
    state.sessionTap.store(&store);
  }
  ~SessionEventsTest() override {
    link.Shutdown();
    state.sessionTap.store(nullptr);
  }

  std::vector<std::string> Lines() {
    std::vector<std::string> lines;
    SessionCounts counts = store.Counts(SessionDisplay::kText);
    SessionLine line;
    for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
      if (!store.Line(SessionDisplay::kText, i, line)) continue;
      std::string text(line.bytes.begin(), line.bytes.end());
      lines.push_back(line.kind == SessionKind::kEvent ? "event " + text : text);
    }
    return lines;
  }

  SessionStore store;  // outlives the threads that tap into it
  testing::PtyDevice device;
  SerialPort serial;
  TerminalState state{serial};
  RecordingWindow window{state};
  LinkControl link{state, serial};
};

TEST_F(SessionEventsTest, OpenSettingsAndCloseAreLinesBetweenTheBytes) {
  ASSERT_TRUE(link.ToggleLink({0, 7, 3, 0, 0, 0}).open);
  device.Send("hi\n");
  ASSERT_TRUE(
      RecordingWindow::WaitFor([&] { return store.Counts(SessionDisplay::kText).endLine >= 2; }));
  link.ApplyLineSettings({0, 6, 3, 2, 2, 0});
  link.Request(LineActions::Kind::kBreak);  // a pseudo-terminal has no modem lines
  ASSERT_FALSE(link.ToggleLink({0, 6, 3, 2, 2, 0}).open);
  EXPECT_EQ(Lines(), (std::vector<std::string>{"event " + device.Path() + " 9600,8,N,1", "hi\n",
                                               "event " + device.Path() + " 7200,8,E,2",
                                               "event " + device.Path()}));
  SessionLine line;
  ASSERT_TRUE(store.Line(SessionDisplay::kText, 0, line));
  EXPECT_EQ(line.event, SessionEvent::kLinkOpened);
  ASSERT_TRUE(store.Line(SessionDisplay::kText, 3, line));
  EXPECT_EQ(line.event, SessionEvent::kLinkClosed);
}

// A device reached through a symbolic link that goes away and comes back,
// served as the window's event loop serves the link.
TEST(SessionDeviceEventsTest, AwayAndBackAreLinesOfTheirOwn) {
  SessionStore store;
  testing::TempDir dir;
  std::filesystem::path linkPath = dir / "ttyUSB0";
  auto device = std::make_unique<testing::PtyDevice>();
  std::filesystem::create_symlink(device->Path(), linkPath);
  SerialPort serial;
  serial.Names().Set(1, linkPath.string());
  TerminalState state{serial};
  RecordingWindow window{state};
  state.sessionTap.store(&store);
  {
    LinkControl link{state, serial};
    auto pump = [&](auto done) {
      return RecordingWindow::WaitFor([&] {
        pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
        if (::poll(&wake, 1, 20) > 0) link.Service();
        return done();
      });
    };
    ASSERT_TRUE(link.ToggleLink({0, 7, 3, 0, 0, 0}).open);
    std::filesystem::remove(linkPath);
    device->Hangup();
    ASSERT_TRUE(pump([&] { return link.Waiting(); }));
    device = std::make_unique<testing::PtyDevice>();
    std::filesystem::create_symlink(device->Path(), linkPath);
    ASSERT_TRUE(pump([&] { return state.port.IsOpen(); }));
  }
  state.sessionTap.store(nullptr);
  std::vector<SessionEvent> events;
  SessionCounts counts = store.Counts(SessionDisplay::kText);
  SessionLine line;
  for (uint64_t i = counts.firstLine; i < counts.endLine; ++i) {
    ASSERT_TRUE(store.Line(SessionDisplay::kText, i, line));
    if (line.kind == SessionKind::kEvent) events.push_back(line.event);
  }
  EXPECT_EQ(events, (std::vector<SessionEvent>{SessionEvent::kLinkOpened, SessionEvent::kDeviceAway,
                                               SessionEvent::kDeviceBack}));
}

}  // namespace
}  // namespace quorvel
