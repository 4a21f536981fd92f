// Real Modbus RTU peers (pymodbus, tests/modbus_rtu_peer.py) on a
// pseudo-terminal: a server answers a request the terminal composed with its
// CRC, and a client reads registers from a device made of answer rules.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/receive_worker.h"
#include "engine/transmit.h"
#include "link/serial_port.h"
#include "sending/answer_rules.h"
#include "sending/checksum.h"
#include "sending/send_composer.h"
#include "support/recording_window.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// tests/modbus_rtu_peer.py as a child process in `mode`, its output read a
// line at a time with a deadline; ended (then reaped) when the test is done.
class PeerProcess {
 public:
  explicit PeerProcess(const char* mode) {
    int out[2];
    int in[2];
    if (pipe2(out, O_CLOEXEC) != 0) return;
    if (pipe2(in, O_CLOEXEC) != 0) {
      close(out[0]);
      close(out[1]);
      return;
    }
    std::string script = std::string(QUORVEL_TESTS_DIR) + "/modbus_rtu_peer.py";
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(in[0], STDIN_FILENO);
      execl("/usr/bin/python3", "python3", script.c_str(), mode, static_cast<char*>(nullptr));
      static constexpr char kNoPython[] = "SKIP no /usr/bin/python3\n";
      (void)!write(STDOUT_FILENO, kNoPython, sizeof kNoPython - 1);
      _exit(127);
    }
    close(out[1]);
    close(in[0]);
    out_ = out[0];
    in_ = in[1];
  }

  ~PeerProcess() {
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
    if (in_ >= 0) close(in_);
  }

  // Its next line; "" when none came within the deadline. The first is the
  // terminal's path, or "SKIP <why>".
  std::string Line(std::chrono::seconds timeout = std::chrono::seconds(20)) {
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

  void Go() {
    if (in_ < 0 || write(in_, "go\n", 3) != 3) ADD_FAILURE() << "the peer took no input";
  }

 private:
  pid_t pid_ = -1;
  int out_ = -1;
  int in_ = -1;
};

class ModbusPeerTest : public ::testing::Test {
 protected:
  // Opens the terminal's end of the peer's line.
  void Open(const std::string& path) {
    serial.Names().Set(1, path);
    ASSERT_TRUE(serial.Open(1, {9600, 8, kOneStopBit, kParityNone}));
  }
  void TearDown() override { serial.Close(); }

  SerialPort serial;
  TerminalState state{serial};
  testing::RecordingWindow window{state};
};

Bytes ReadFrame(SerialPort& port, size_t count) {
  Bytes frame;
  auto deadline = Clock::now() + std::chrono::seconds(5);
  while (frame.size() < count && Clock::now() < deadline) {
    uint8_t buffer[256];
    int got = port.Read(buffer, sizeof buffer);
    if (got > 0) {
      frame.insert(frame.end(), buffer, buffer + got);
    } else {
      port.WaitReadable(50);
    }
  }
  return frame;
}

TEST_F(ModbusPeerTest, ReadHoldingRegistersWithTheComposedCrcGetsAValidAnswer) {
  PeerProcess server("server");
  std::string path = server.Line();
  if (path.rfind("SKIP", 0) == 0) GTEST_SKIP() << path;
  ASSERT_NO_FATAL_FAILURE(Open(path)) << "the server did not start: \"" << path << "\"";
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
}

TEST_F(ModbusPeerTest, AnswerRulesPlayADeviceAHostProgramReads) {
  PeerProcess client("client");
  std::string path = client.Line();
  if (path.rfind("SKIP", 0) == 0) GTEST_SKIP() << path;
  ASSERT_NO_FATAL_FAILURE(Open(path)) << "the client did not start: \"" << path << "\"";
  AnswerRule rule;
  rule.match = MatchKind::kHex;
  rule.pattern = "01 03 00 00 00 02";
  rule.content = "01 03 04 12 34 56 78";
  rule.asHex = true;
  rule.options.checksum = ChecksumKind::kModbusCrc16;
  InstallAnswerRules(state, AnswerRuleTable::Build({true, FrameBy::kBurst, {rule}}));
  WorkerThread worker;
  worker.Start(state);

  client.Go();
  EXPECT_EQ(client.Line(), "registers 4660 22136");
  worker.StopAndWait();
}

}  // namespace
}  // namespace quorvel
