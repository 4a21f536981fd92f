// The link's events reach the session store, a listener of the link, in
// order with the bytes: opened with its line settings, settings changed,
// closed; a command no device carries out is no event.
#include <gtest/gtest.h>
#include <poll.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "connection/link_session.h"
#include "history/session_store.h"
#include "link/line_settings.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using testing::RecordingWindow;

// The Open/Close button, with `path` chosen.
LinkStatus ToggleLink(LinkSession& link, const std::string& path, const LineSelection& selection) {
  if (link.Wanted()) return link.Close();
  return link.Open(PortTarget::Device(path), ReadLineSelections(selection));
}

class SessionEventsTest : public ::testing::Test {
 protected:
  SessionEventsTest() {
    link.AttachTerminal(&state);
    link.Hub().listeners.Add(store);
  }
  ~SessionEventsTest() override {
    link.Shutdown();
    link.Hub().listeners.Remove(store);
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

  SessionStore store;  // outlives the threads that hear the line
  testing::PtyDevice device;
  TerminalState state;
  LinkSession link;
  RecordingWindow window{state, link.Hub()};
};

TEST_F(SessionEventsTest, OpenSettingsAndCloseAreLinesBetweenTheBytes) {
  ASSERT_TRUE(ToggleLink(link, device.Path(), {0, 7, 3, 0, 0, 0}).open);
  device.Send("hi\n");
  ASSERT_TRUE(
      RecordingWindow::WaitFor([&] { return store.Counts(SessionDisplay::kText).endLine >= 2; }));
  link.ApplyLineSettings(ReadLineSelections({0, 6, 3, 2, 2, 0}));
  link.Request(LineActions::Kind::kBreak);  // a pseudo-terminal has no modem lines
  ASSERT_FALSE(ToggleLink(link, device.Path(), {0, 6, 3, 2, 2, 0}).open);
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
  TerminalState state;
  {
    LinkSession link;
    link.AttachTerminal(&state);
    RecordingWindow window{state, link.Hub()};
    link.Hub().listeners.Add(store);
    // However the block ends, the worker ends before the window goes.
    struct Ender {
      LinkSession& link;
      ~Ender() { link.Shutdown(); }
    } ender{link};
    auto pump = [&](auto done) {
      return RecordingWindow::WaitFor([&] {
        pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
        if (::poll(&wake, 1, 20) > 0) link.Service();
        return done();
      });
    };
    ASSERT_TRUE(ToggleLink(link, linkPath.string(), {0, 7, 3, 0, 0, 0}).open);
    std::filesystem::remove(linkPath);
    device->Hangup();
    ASSERT_TRUE(pump([&] { return link.Waiting(); }));
    device = std::make_unique<testing::PtyDevice>();
    std::filesystem::create_symlink(device->Path(), linkPath);
    ASSERT_TRUE(pump([&] { return link.Port().IsOpen(); }));
  }
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
