// A real Modbus RTU server (pymodbus, tests/modbus_rtu_server.py) on a
// pseudo-terminal answers a request the terminal composed with its CRC.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/checksum.h"
#include "engine/send_composer.h"
#include "engine/transmit.h"
#include "link/serial_port.h"
#include "support/recording_window.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// The server script as a child process, its first line of output read with
// a deadline, and ended (then reaped) when the test is done.
class ServerProcess {
 public:
  ServerProcess() {
    int out[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    std::string script = std::string(QUORVEL_TESTS_DIR) + "/modbus_rtu_server.py";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      execl("/usr/bin/python3", "python3", script.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    out_ = out[0];
  }

  ~ServerProcess() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      auto deadline = Clock::now() + std::chrono::seconds(5);
      while (waitpid(pid_, nullptr, WNOHANG) == 0) {
        if (Clock::now() > deadline) {
          kill(pid_, SIGKILL);
          waitpid(pid_, nullptr, 0);
          break;
        }
        usleep(10'000);
      }
    }
    if (out_ >= 0) close(out_);
  }

  // Its first line; "" when none came within the deadline.
  std::string FirstLine(std::chrono::seconds timeout = std::chrono::seconds(20)) {
    std::string line;
    auto deadline = Clock::now() + timeout;
    while (out_ >= 0 && Clock::now() < deadline) {
      pollfd ready{out_, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char c;
      if (read(out_, &c, 1) != 1) break;
      if (c == '\n') return line;
      line += c;
    }
    return "";
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
};

Bytes ReadFrame(SerialPort& port, size_t count) {
  Bytes frame;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (frame.size() < count && Clock::now() < deadline) {
    uint8_t buffer[256];
    int got = port.Read(buffer, sizeof buffer);
    if (got > 0)
      frame.insert(frame.end(), buffer, buffer + got);
    else
      port.WaitReadable(50);
  }
  return frame;
}

TEST(ModbusServerTest, ReadHoldingRegistersWithTheComposedCrcGetsAValidAnswer) {
  if (access("/usr/bin/python3", X_OK) != 0) GTEST_SKIP() << "no /usr/bin/python3";
  ServerProcess server;
  std::string path = server.FirstLine();
  if (path.rfind("SKIP", 0) == 0) GTEST_SKIP() << path;
  ASSERT_EQ(path.rfind("/dev/", 0), 0u) << "the server did not start: \"" << path << "\"";

  SerialPort serial;
  TerminalState state{serial};
  testing::RecordingWindow window{state};
  serial.Names().Set(1, path);
  ASSERT_TRUE(serial.Open(1, {9600, 8, kOneStopBit, kParityNone}));
  {
    std::lock_guard guard(state.lock);
    state.sendText = "01 03 00 00 00 02";
    state.sendAsHex = 1;
  }
  SetSendOptions(state, {LineEnding::kCrLf, false, ChecksumKind::kModbusCrc16});
  SendComposedText(state);

  // Unit 1, function 3, 4 bytes: the first two registers, then the CRC.
  Bytes answer = ReadFrame(serial, 9);
  ASSERT_EQ(answer.size(), 9u);
  EXPECT_EQ(Bytes(answer.begin(), answer.begin() + 7),
            (Bytes{0x01, 0x03, 0x04, 0x12, 0x34, 0x56, 0x78}));
  EXPECT_EQ(CheckFrame(ChecksumKind::kModbusCrc16, answer), FrameCheck::kValid);
  serial.Close();
}

}  // namespace
}  // namespace quorvel
