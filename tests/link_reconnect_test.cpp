// A link whose device hangs up and comes back, on pseudo-terminals reached
// through a symbolic link (remove the link to unplug, point it at a new
// pseudo-terminal to replug): the dead descriptor closes at once, the link
// waits without busy looking, and it reopens with its line settings while
// the state carries on.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>

#include "connection/link_session.h"
#include "link/line_settings.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<uint8_t>;
using testing::PtyDevice;

constexpr LineSelection k9600Odd{0, 7, 3, 0, 1, 0};

int CountEntries(const char* directory) {
  return static_cast<int>(testing::Listing(directory).size());
}

// How many of this process's descriptors are open on `path`, which may have
// been removed meanwhile (a pseudo-terminal's node goes with its master).
int DescriptorsOn(const std::string& path) {
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    std::string target = std::filesystem::read_symlink(entry.path(), error).string();
    if (target == path || target == path + " (deleted)") ++count;
  }
  return count;
}

class ReconnectTest : public ::testing::Test {
 protected:
  ReconnectTest() {
    Plug(*device);
    link.AttachTerminal(&state);
  }
  // The worker may be inside a call to the window: it ends before the window goes.
  ~ReconnectTest() override { link.Shutdown(); }

  // The Open/Close button, with the adapter's path chosen.
  LinkStatus Toggle(const LineSelection& selection) {
    if (link.Wanted()) return link.Close();
    return link.Open(PortTarget::Device(linkPath.string()), ReadLineSelections(selection));
  }

  void Plug(const PtyDevice& target) { std::filesystem::create_symlink(target.Path(), linkPath); }
  void Unplug(std::unique_ptr<PtyDevice>& gone) {
    std::filesystem::remove(linkPath);
    gone->Hangup();
  }

  // Serves the link as the window's event loop would, until `done` holds.
  bool Pump(const std::function<bool()>& done, std::chrono::seconds limit = 10s) {
    auto deadline = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
      if (::poll(&wake, 1, 20) > 0) {
        link.Service();
        ++services;
      }
    }
    return true;
  }
  bool PumpUntilWaiting() {
    return Pump([&] { return link.Waiting(); });
  }
  bool PumpUntilOpen() {
    return Pump([&] { return link.Port().IsOpen(); });
  }

  testing::TempDir dir;
  std::filesystem::path linkPath = dir / "ttyUSB0";
  std::unique_ptr<PtyDevice> device = std::make_unique<PtyDevice>();
  TerminalState state;
  LinkSession link;
  testing::RecordingWindow window{state, link.Hub()};
  int services = 0;
};

TEST_F(ReconnectTest, HangupClosesOurDescriptorAtOnceAndTheLinkWaits) {
  ASSERT_TRUE(Toggle(k9600Odd).open);
  std::string path = device->Path();
  ASSERT_EQ(DescriptorsOn(path), 2) << "ours and the device's own";

  auto hungUp = std::chrono::steady_clock::now();
  device->Hangup();
  // Nobody serves the link yet: the worker closes the line by itself.
  ASSERT_TRUE(testing::RecordingWindow::WaitFor([&] { return DescriptorsOn(path) == 1; }));
  std::printf("descriptor closed %lld ms after the hang-up\n",
              static_cast<long long>((std::chrono::steady_clock::now() - hungUp) / 1ms));

  ASSERT_TRUE(PumpUntilWaiting());
  LinkStatus status = link.Status();
  EXPECT_TRUE(status.open) << "the link stays wanted: the button says \"Close com\"";
  EXPECT_TRUE(status.waiting);
  EXPECT_TRUE(link.Wanted());
  EXPECT_EQ(link.WaitingFor(), linkPath.string());
  EXPECT_FALSE(link.WorkerRunning());
  EXPECT_TRUE(window.Messages().empty());

  // Nothing reaches a device that is away: a send fails as a write would.
  bool told = false;
  Done sent = link.Send(Bytes{'x'}, [&](const SendResult&) { told = true; });
  EXPECT_FALSE(sent);
  EXPECT_EQ(sent.Reason(), "Write com fail!");
  Done file = link.SendFile(UniqueFd(), "none", 0, {});
  EXPECT_FALSE(file);
  EXPECT_EQ(file.Reason(), "Write com fail!");
  EXPECT_FALSE(told) << "a send never queued is not told";
  EXPECT_FALSE(link.Door().Busy());
}

TEST_F(ReconnectTest, ReplugReopensWithTheSameLineAndKeepsTheState) {
  ASSERT_TRUE(Toggle(k9600Odd).open);
  device->Send(Bytes{'a', 'b'});
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, 2));

  Unplug(device);
  ASSERT_TRUE(PumpUntilWaiting());
  device = std::make_unique<PtyDevice>();
  auto replugged = std::chrono::steady_clock::now();
  Plug(*device);
  ASSERT_TRUE(PumpUntilOpen());
  std::printf("reopened %lld ms after the replug\n",
              static_cast<long long>((std::chrono::steady_clock::now() - replugged) / 1ms));

  EXPECT_FALSE(link.Status().waiting);
  LineSnapshot line = device->Line();
  EXPECT_EQ(line.outputSpeed, 9600u);
  EXPECT_TRUE(line.parityOdd);
  device->Send(Bytes{'c'});
  ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, 3));
  EXPECT_EQ(testing::LogOf(state), (Bytes{'a', 'b', 'c'}));
  EXPECT_FALSE(link.Hub().workersOverlapped.load());
}

// Drops this thread's power to open what its mode forbids, so that a mode of
// 000 refuses even root; capabilities belong to each thread.
class NoFileOverride {
 public:
  NoFileOverride() { Change(false); }
  ~NoFileOverride() { Change(true); }

 private:
  static void Change(bool on) {
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct data[2]{};
    if (::syscall(SYS_capget, &header, data) != 0) return;
    for (int cap : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH}) {
      uint32_t bit = 1u << cap;
      data[0].effective =
          on ? (data[0].effective | (data[0].permitted & bit)) : (data[0].effective & ~bit);
    }
    ::syscall(SYS_capset, &header, data);
  }
};

TEST_F(ReconnectTest, ANodeNotOursYetIsTriedAgainUntilItOpens) {
  struct Case {
    const char* name;
    std::function<std::function<void()>(const PtyDevice&)> refuse;  // returns the release
  };
  const Case cases[] = {
      {"udev has not set the mode yet (EACCES)",
       [](const PtyDevice& d) {
         ::chmod(d.Path().c_str(), 0);
         return std::function<void()>([path = d.Path()] { ::chmod(path.c_str(), 0620); });
       }},
      {"another program still holds it (EBUSY)",
       [](const PtyDevice& d) {
         int fd = ::open(d.Path().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
         ::flock(fd, LOCK_EX);
         return std::function<void()>([fd] { ::close(fd); });
       }},
  };
  NoFileOverride asAUser;
  ASSERT_TRUE(Toggle(k9600Odd).open);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Unplug(device);
    ASSERT_TRUE(PumpUntilWaiting());
    device = std::make_unique<PtyDevice>();
    std::function<void()> release = c.refuse(*device);
    Plug(*device);
    int before = services;
    // Two looks at least find the node and fail; then it becomes ours.
    ASSERT_TRUE(Pump([&] { return services >= before + 3 || link.Port().IsOpen(); }));
    EXPECT_FALSE(link.Port().IsOpen());
    EXPECT_TRUE(link.Waiting());
    release();
    ASSERT_TRUE(PumpUntilOpen());
    EXPECT_TRUE(window.Messages().empty()) << "retries show nothing";
  }
}

TEST_F(ReconnectTest, CloseComWhileWaitingEndsTheWaitAtOnce) {
  ASSERT_TRUE(Toggle(k9600Odd).open);
  Unplug(device);
  ASSERT_TRUE(PumpUntilWaiting());

  LinkStatus status = Toggle(k9600Odd);
  EXPECT_FALSE(status.open) << "the button says \"Open com\"";
  EXPECT_FALSE(status.waiting);
  // A device that returns now is left alone.
  device = std::make_unique<PtyDevice>();
  Plug(*device);
  pollfd wake = {link.WakeDescriptor(), POLLIN, 0};
  if (::poll(&wake, 1, 200) > 0) link.Service();
  EXPECT_FALSE(link.Port().IsOpen());
  EXPECT_FALSE(link.Waiting());
}

TEST_F(ReconnectTest, TwoHundredUnplugsLeakNoDescriptorOrThread) {
  ASSERT_TRUE(Toggle(k9600Odd).open);
  // One round first, so that everything made once and kept is there already.
  Unplug(device);
  ASSERT_TRUE(PumpUntilWaiting());
  device = std::make_unique<PtyDevice>();
  Plug(*device);
  ASSERT_TRUE(PumpUntilOpen());
  int descriptors = CountEntries("/proc/self/fd");
  int threads = CountEntries("/proc/self/task");

  for (int cycle = 0; cycle < 200; ++cycle) {
    device->Send(Bytes{static_cast<uint8_t>(cycle)});
    ASSERT_TRUE(testing::WaitForRx(link.Hub().counters, static_cast<uint32_t>(cycle + 1))) << cycle;
    Unplug(device);
    ASSERT_TRUE(PumpUntilWaiting()) << cycle;
    device = std::make_unique<PtyDevice>();
    Plug(*device);
    ASSERT_TRUE(PumpUntilOpen()) << cycle;
  }
  EXPECT_EQ(CountEntries("/proc/self/fd"), descriptors);
  EXPECT_EQ(CountEntries("/proc/self/task"), threads);
  EXPECT_FALSE(link.Hub().workersOverlapped.load());
}

}  // namespace
}  // namespace quorvel
