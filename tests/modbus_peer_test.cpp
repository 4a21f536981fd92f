// Real Modbus RTU peers (pymodbus, tests/modbus_rtu_peer.py) on a
// pseudo-terminal: a server answers a request the terminal composed with its
// CRC, and a client reads registers from a device made of answer rules.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "engine/receive_worker.h"
#include "engine/transmit.h"
#include "sending/answer_rules.h"
#include "sending/checksum.h"
#include "sending/send_composer.h"
#include "support/line_rig.h"
#include "support/recording_window.h"
#include "support/script_peer.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;

// tests/modbus_rtu_peer.py in `mode`.
class PeerProcess : public testing::ScriptPeer {
 public:
  explicit PeerProcess(const char* mode) : ScriptPeer(testing::ModbusPeerScript(), {mode}) {}
};

class ModbusPeerTest : public ::testing::Test {
 protected:
  // Opens the terminal's end of the peer's line.
  void Open(const std::string& path) {
    ASSERT_TRUE(rig.Open(path, {9600, 8, kOneStopBit, kParityNone}));
  }
  void TearDown() override {
    rig.worker.StopAndWait();
    serial.Close();
  }

  testing::LineRig rig;
  SerialPort& serial = rig.port;
  TerminalState& state = rig.state;
  testing::RecordingWindow window{rig.state, rig.hub};
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
  SendComposedText(state, serial, rig.door);

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
  rig.StartWorker();

  client.Go();
  EXPECT_EQ(client.Line(), "registers 4660 22136");
  rig.worker.StopAndWait();
}

}  // namespace
}  // namespace quorvel
