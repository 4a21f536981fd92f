// quorvel-devsim run as its own process, as a user runs it, with the terminal's
// real serial port on the other end of its pseudo-terminal.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "link/serial_port.h"
#include "settings/settings.h"
#include "support/devsim_process.h"

namespace quorvel {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

using testing::Devsim;
using testing::Terminal;

std::vector<uint8_t> ByteList(std::initializer_list<int> values) {
  std::vector<uint8_t> bytes;
  for (int value : values) bytes.push_back(static_cast<uint8_t>(value));
  return bytes;
}

class TemporaryDirectory {
 public:
  TemporaryDirectory() {
    std::string pattern = (fs::temp_directory_path() / "devsim_test.XXXXXX").string();
    path_ = mkdtemp(pattern.data()) ? fs::path(pattern) : fs::path();
    EXPECT_FALSE(path_.empty());
  }
  ~TemporaryDirectory() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

class BadArguments : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(BadArguments, GiveUsageAndExitCodeTwo) {
  Devsim devsim(GetParam());
  std::optional<int> status = devsim.WaitExit();
  ASSERT_TRUE(status.has_value()) << "still running";
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 2);
  EXPECT_NE(devsim.ErrorText().find("usage: quorvel-devsim"), std::string::npos);
  EXPECT_EQ(devsim.ReadLine(milliseconds(100)), std::nullopt) << "no device was announced";
}

INSTANTIATE_TEST_SUITE_P(
    Devsim, BadArguments,
    ::testing::Values(
        std::vector<std::string>{"--bogus"}, std::vector<std::string>{"--com"},
        std::vector<std::string>{"--com", "0"}, std::vector<std::string>{"--com", "256"},
        std::vector<std::string>{"--com", "5x"}, std::vector<std::string>{"--reply", "06"},
        std::vector<std::string>{"--reply", "0g", "--frame-end", "0d"},
        std::vector<std::string>{"--reply", "123", "--frame-end", "0d"},
        std::vector<std::string>{"--reply", "06", "--frame-end", "0d0a"},
        std::vector<std::string>{"--reply", "06", "--frame-end", "0d", "--delay", "-1"},
        std::vector<std::string>{"--echo", "--delay", "5"},
        std::vector<std::string>{"--echo", "--stream", "100"},
        std::vector<std::string>{"--every", "100"},
        std::vector<std::string>{"--every", "0", "--send", "01"},
        std::vector<std::string>{"--send", "01"}, std::vector<std::string>{"--stream", "0"},
        std::vector<std::string>{"--stream", ""}));

TEST(Devsim, EndsCleanlyOnInterruptAndTerminate) {
  for (int signal : {SIGINT, SIGTERM}) {
    Devsim devsim({"--echo"});
    ASSERT_FALSE(devsim.Path().empty());
    devsim.Signal(signal);
    std::optional<int> status = devsim.WaitExit();
    ASSERT_TRUE(status.has_value()) << "still running after signal " << signal;
    ASSERT_TRUE(WIFEXITED(*status)) << "killed by signal " << signal;
    EXPECT_EQ(WEXITSTATUS(*status), 0);
  }
}

TEST(Devsim, EchoesEveryByteAndShowsBothSides) {
  Devsim devsim({"--echo"});
  Terminal terminal(devsim.Path());
  std::vector<uint8_t> bytes = ByteList({0x00, 0x0d, 0x0a, 0x11, 0x13, 0x03, 0x7f, 0xff});
  terminal.Send(bytes);
  EXPECT_EQ(terminal.Receive(bytes.size()), bytes) << "raw both ways: nothing added or eaten";
  EXPECT_TRUE(devsim.WaitForLine("tx 00 0d 0a 11 13 03 7f ff"));
}

TEST(Devsim, RepliesToEachFrameAfterItsDelay) {
  Devsim devsim({"--reply", "06 07", "--frame-end", "0d", "--delay", "50"});
  Terminal terminal(devsim.Path());
  auto sent = Clock::now();
  terminal.Send(ByteList({0x01, 0x02}));
  terminal.Send(ByteList({0x0d, 0x05, 0x0d}));  // the first frame ends here, then a second
  EXPECT_EQ(terminal.Receive(4), ByteList({0x06, 0x07, 0x06, 0x07}));
  EXPECT_GE(Clock::now() - sent, milliseconds(50));
  EXPECT_TRUE(devsim.WaitForLine("rx 01 02 0d"));
  EXPECT_TRUE(devsim.WaitForLine("rx 05 0d"));
  EXPECT_TRUE(devsim.WaitForLine("tx 06 07"));
  EXPECT_TRUE(devsim.WaitForLine("tx 06 07"));
}

TEST(Devsim, SendsPeriodically) {
  Devsim devsim({"--every", "5", "--send", "aa55"});
  Terminal terminal(devsim.Path());
  std::vector<uint8_t> got = terminal.Receive(6);
  EXPECT_EQ(got, ByteList({0xaa, 0x55, 0xaa, 0x55, 0xaa, 0x55}));
}

TEST(Devsim, StreamsCountingBytesWithoutAGap) {
  Devsim devsim({"--stream", "200000"});
  Terminal terminal(devsim.Path());
  std::vector<uint8_t> got = terminal.Receive(3000);
  ASSERT_EQ(got.size(), 3000u);
  // The open emptied the line, so the stream may start anywhere; after that
  // each byte is one more than the last.
  for (size_t i = 1; i < got.size(); ++i) {
    ASSERT_EQ(got[i], static_cast<uint8_t>(got[i - 1] + 1)) << "at byte " << i;
  }
}

// The terminal closes and opens its port again (a port change, a restart):
// the line must neither hang up nor stay exclusive in between.
TEST(Devsim, LineOutlivesTheTerminalsCloseAndReopen) {
  Devsim devsim({"--echo"});
  std::string path = devsim.Path();
  {
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    termios line{};
    ASSERT_EQ(tcgetattr(fd, &line), 0);
    EXPECT_EQ(line.c_lflag & (ECHO | ICANON | ISIG), 0u) << "raw before anyone opens it";
    close(fd);
  }
  for (int round = 0; round < 3; ++round) {
    Terminal terminal(path);
    ASSERT_TRUE(terminal.port.IsOpen()) << "round " << round;
    terminal.Send(ByteList({0x30 + round}));
    EXPECT_EQ(terminal.Receive(1), ByteList({0x30 + round})) << "round " << round;
    terminal.port.Close();
    int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(fd, 0);
    int exclusive = 1;
    ASSERT_EQ(ioctl(fd, TIOCGEXCL, &exclusive), 0);
    EXPECT_EQ(exclusive, 0) << "an ordinary user's next open would fail with EBUSY";
    close(fd);
  }
}

TEST(Devsim, MapsItsComNumberAndKeepsTheRestOfTheSettingsFile) {
  TemporaryDirectory directory;
  fs::path ini = directory.Path() / "Quorvel.ini";
  const std::string before =
      "; kept by hand\r\n[COMConfig]\r\nCOM=4\r\nBRATE=7\r\n[PortMap]\r\nCOM2=/dev/ttyUSB0\r\n"
      "COM5=/dev/old\r\n[Other]\r\nX=1\r\n";
  {
    std::ofstream out(ini, std::ios::binary);
    out << before;
  }
  Devsim devsim({"--com", "5", "--echo"}, directory.Path());
  std::string path = devsim.Path();
  ASSERT_FALSE(path.empty());
  ASSERT_TRUE(devsim.WaitForLine("COM5=" + path + " in [PortMap] of " + ini.string()));

  std::string after = before;
  after.replace(after.find("/dev/old"), 8, path);
  EXPECT_EQ(ReadFile(ini), after);

  fs::path previous = fs::current_path();
  fs::current_path(directory.Path());
  Settings settings = LoadSettings();
  fs::current_path(previous);
  EXPECT_EQ(settings.portMap[5], path);
  EXPECT_EQ(settings.portMap[2], "/dev/ttyUSB0");
  EXPECT_EQ(settings.selection.portPos, 4);  // the other keys still read
}

TEST(Devsim, ReportsASettingsFileItCannotWrite) {
  TemporaryDirectory directory;
  fs::create_directory(directory.Path() / "Quorvel.ini");  // a directory is no profile
  Devsim devsim({"--com", "3"}, directory.Path());
  std::optional<int> status = devsim.WaitExit();
  ASSERT_TRUE(status.has_value());
  ASSERT_TRUE(WIFEXITED(*status));
  EXPECT_EQ(WEXITSTATUS(*status), 1);
  EXPECT_NE(devsim.ErrorText().find("could not write COM3="), std::string::npos);
}

}  // namespace
}  // namespace quorvel
