// The demo device: what it answers, and the device running on its own thread
// and line as the terminal's --demo uses it.
#include "sim/demo_device.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "sending/checksum.h"
#include "sim/wave_source.h"
#include "support/devsim_process.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

struct DemoCase {
  const char* name;
  std::string sent;
  std::string answer;
};

void PrintTo(const DemoCase& demo, std::ostream* out) {
  *out << demo.name;
}

std::string Modbus(Bytes frame) {
  AppendChecksum(ChecksumKind::kModbusCrc16, frame);
  return std::string(frame.begin(), frame.end());
}

class DemoAnswers : public ::testing::TestWithParam<DemoCase> {};

// A fresh device has made no reading yet: its temperature is 20.0 degrees
// (200 tenths, 0x00c8), and its first reading says 20.7.
TEST_P(DemoAnswers, AsTheHelpSays) {
  DemoResponder responder;
  const std::string& sent = GetParam().sent;
  EXPECT_EQ(responder.Answer(reinterpret_cast<const uint8_t*>(sent.data()), sent.size()),
            GetParam().answer);
}

INSTANTIATE_TEST_SUITE_P(
    Demo, DemoAnswers,
    ::testing::Values(
        DemoCase{"ReadWithCrLf", "READ\r\n", "T=20.7 C\r\n"},
        DemoCase{"ReadWithCrInLowerCase", "read\r", "T=20.7 C\r\n"},
        DemoCase{"IdWithLf", "ID?\n", "QUORVEL-DEMO,1.0\r\n"},
        DemoCase{"TwoCommandsInOneBurst", "ID?\r\nREAD\r\n", "QUORVEL-DEMO,1.0\r\nT=20.7 C\r\n"},
        DemoCase{"CommandWithoutItsEndIsEchoed", "READ", "READ"},
        DemoCase{"OtherTextIsEchoed", "hello\r\nREAD\r\n", "hello\r\nT=20.7 C\r\n"},
        DemoCase{"BinaryIsEchoed", std::string("\x00\xff\x10", 3), std::string("\x00\xff\x10", 3)},
        DemoCase{"WaveStartsWithoutAnAnswer", "wave 1000\r\n", ""},
        DemoCase{"WaveWithABadRate", "WAVE fast\r\nWAVE 100001\r",
                 "ERR WAVE takes a rate in lines a second\r\n"
                 "ERR WAVE takes a rate in lines a second\r\n"},
        DemoCase{"ModbusFromTheHelp", std::string("\x01\x03\x00\x00\x00\x02\xc4\x0b", 8),
                 Modbus({0x01, 0x03, 0x04, 0x00, 0xc8, 0x00, 0x01})},
        DemoCase{"ModbusOtherAddressAndRegisters", Modbus({0x11, 0x03, 0x01, 0x00, 0x00, 0x01}),
                 Modbus({0x11, 0x03, 0x02, 0x01, 0x00})},
        DemoCase{"ModbusTooManyRegisters", Modbus({0x01, 0x03, 0x00, 0x00, 0x00, 0x7e}),
                 Modbus({0x01, 0x83, 0x03})},
        DemoCase{"ModbusPastTheLastRegister", Modbus({0x01, 0x03, 0xff, 0xff, 0x00, 0x02}),
                 Modbus({0x01, 0x83, 0x03})},
        DemoCase{"ModbusBroadcastGetsNoAnswer", Modbus({0x00, 0x03, 0x00, 0x00, 0x00, 0x01}), ""},
        DemoCase{"ModbusWithABadCrcIsEchoed", std::string("\x01\x03\x00\x00\x00\x02\xc4\x0c", 8),
                 std::string("\x01\x03\x00\x00\x00\x02\xc4\x0c", 8)}),
    [](const ::testing::TestParamInfo<DemoCase>& info) { return info.param.name; });

// On its own line and thread, as the terminal runs it: the reading arrives
// unasked, a command is answered, and Stop ends it.
TEST(DemoDevice, ReportsAndAnswersOnItsOwnLine) {
  DemoDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(error)) << error;
  testing::Terminal terminal(device.Path());
  std::vector<uint8_t> reading = terminal.Receive(10, std::chrono::seconds(3));
  EXPECT_EQ(std::string(reading.begin(), reading.begin() + 2), "T=");
  terminal.Send(Bytes{'I', 'D', '?', '\r', '\n'});
  std::vector<uint8_t> name = terminal.Receive(18);
  EXPECT_EQ(std::string(name.begin(), name.end()), "QUORVEL-DEMO,1.0\r\n");
  device.Stop();
}

TEST(DemoWave, TheCommandAsksForARateOnce) {
  DemoResponder responder;
  for (auto [command, rate] :
       {std::pair{"WAVE 250\r", 250}, {"wave off\n", 0}, {"WAVE 0\r\n", 0}}) {
    responder.Answer(reinterpret_cast<const uint8_t*>(command), std::strlen(command));
    EXPECT_EQ(responder.TakeWaveRequest(), rate) << command;
    EXPECT_EQ(responder.TakeWaveRequest(), std::nullopt);
  }
}

TEST(DemoWave, LinesFollowTheThreeWaves) {
  EXPECT_EQ(WaveSource::Line(0, 1000), "sine:0.000 square:5 saw:-1.000\r\n");
  EXPECT_EQ(WaveSource::Line(500, 1000), "sine:10.000 square:-5 saw:-0.750\r\n");
  EXPECT_EQ(WaveSource::Line(3, 2), "sine:-10.000 square:-5 saw:-0.250\r\n");
}

TEST(DemoWave, OwesAtMostASecondAndDropsWhatFindsNoRoom) {
  auto start = WaveSource::Clock::now();
  WaveSource wave(100, start);
  std::string out;
  wave.AppendDue(start + std::chrono::seconds(5), out, 1 << 20);
  EXPECT_EQ(out.rfind(WaveSource::Line(499, 100)) + WaveSource::Line(499, 100).size(), out.size());
  EXPECT_EQ(out.find(WaveSource::Line(400, 100)), 0u);  // a second's worth, no more
  out.clear();
  wave.AppendDue(start + std::chrono::seconds(6), out, 100);
  EXPECT_LE(out.size(), 100u);
  EXPECT_GE(wave.NextDue(), start + std::chrono::seconds(6));
}

// On the demo's own line: WAVE starts the lines at once, in order.
TEST(DemoWave, StreamsOnItsLineWhenAsked) {
  DemoDevice device;
  std::string error;
  ASSERT_TRUE(device.Start(error)) << error;
  testing::Terminal terminal(device.Path());
  terminal.Send(Bytes{'W', 'A', 'V', 'E', ' ', '2', '0', '0', '0', '\r'});
  std::string expected;
  for (uint64_t n = 0; n < 40; ++n) expected += WaveSource::Line(n, 2000);
  std::vector<uint8_t> got = terminal.Receive(expected.size(), std::chrono::seconds(3));
  std::string text(got.begin(), got.end());
  // A reading may come first, once a second.
  if (text.starts_with("T=")) {
    text.erase(0, text.find('\n') + 1);
    got = terminal.Receive(expected.size() - text.size(), std::chrono::seconds(3));
    text.append(got.begin(), got.end());
  }
  EXPECT_EQ(text, expected);
  device.Stop();
}

}  // namespace
}  // namespace quorvel
