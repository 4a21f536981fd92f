// The checks a send can end with, against their published check values and
// real frames, and the judging of received frames by them.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <vector>

#include "sending/checksum.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes BytesOf(std::string_view text) {
  return Bytes(text.begin(), text.end());
}

struct CheckCase {
  ChecksumKind kind;
  std::string data;
  Bytes wire;  // the check as it goes on the wire
};

class ChecksumWireTest : public ::testing::TestWithParam<CheckCase> {};

TEST_P(ChecksumWireTest, AppendsTheCheckInWireOrder) {
  const CheckCase& c = GetParam();
  EXPECT_EQ(ChecksumBytes(c.kind, BytesOf(c.data)), c.wire) << InfoOf(c.kind).label;
}

// "123456789" is the data the published check values are given for.
INSTANTIATE_TEST_SUITE_P(
    CheckValues, ChecksumWireTest,
    ::testing::Values(CheckCase{ChecksumKind::kModbusCrc16, "123456789", {0x37, 0x4B}},
                      CheckCase{ChecksumKind::kCrc16CcittFalse, "123456789", {0x29, 0xB1}},
                      CheckCase{ChecksumKind::kCrc16Xmodem, "123456789", {0x31, 0xC3}},
                      CheckCase{ChecksumKind::kCrc8, "123456789", {0xF4}},
                      CheckCase{ChecksumKind::kCrc32, "123456789", {0x26, 0x39, 0xF4, 0xCB}},
                      CheckCase{ChecksumKind::kXor8, "123456789", {0x31}},
                      CheckCase{ChecksumKind::kSum8, "123456789", {0xDD}},
                      CheckCase{ChecksumKind::kModbusLrc, "123456789", {0x23}},
                      CheckCase{ChecksumKind::kNone, "123456789", {}},
                      // Read 10 holding registers from unit 1, as Modbus RTU sends it.
                      CheckCase{ChecksumKind::kModbusCrc16,
                                std::string("\x01\x03\x00\x00\x00\x0A", 6),
                                {0xC5, 0xCD}},
                      // A Modbus ASCII frame gets its LRC as two hex digits.
                      CheckCase{ChecksumKind::kModbusLrc, ":010300000001", BytesOf("FB")},
                      CheckCase{ChecksumKind::kCrc32, "", {0, 0, 0, 0}}));

TEST(ChecksumTest, EveryKindJudgesItsOwnFramesValidAndAChangedByteBad) {
  Bytes data = BytesOf(":0103000A0002");
  for (const ChecksumInfo& info : ChecksumTable()) {
    Bytes frame = data;
    AppendChecksum(info.kind, frame);
    if (info.kind == ChecksumKind::kNone) {
      EXPECT_EQ(CheckFrame(info.kind, frame), FrameCheck::kUnchecked);
      continue;
    }
    EXPECT_EQ(CheckFrame(info.kind, frame), FrameCheck::kValid) << info.label;
    frame[3] ^= 0x04;  // '0' becomes '4': still a hex digit for the ASCII frame
    EXPECT_EQ(CheckFrame(info.kind, frame), FrameCheck::kBad) << info.label;
    EXPECT_EQ(CheckFrame(info.kind, Bytes{0x01}), FrameCheck::kBad) << info.label;
    EXPECT_EQ(CheckFrame(info.kind, Bytes{}), FrameCheck::kBad) << info.label;
  }
}

TEST(ChecksumTest, ContinuedChecksMatchTheWholeAtEverySplit) {
  // Long enough for CRC-32's eight-byte steps to meet every remainder.
  const Bytes data = BytesOf("123456789 the quick brown fox jumps over the lazy dog");
  EXPECT_EQ(Crc32(data), 0xB3CF8503u);  // as zlib computes it
  for (size_t split = 0; split <= data.size(); ++split) {
    std::span<const uint8_t> head(data.data(), split),
        tail(data.data() + split, data.size() - split);
    EXPECT_EQ(Crc32Continue(Crc32(head), tail), Crc32(data)) << split;
    EXPECT_EQ(Crc16XmodemContinue(Crc16Xmodem(head), tail), Crc16Xmodem(data)) << split;
  }
}

TEST(ChecksumTest, AsciiFrameIsJudgedWithItsLineEnding) {
  EXPECT_EQ(CheckFrame(ChecksumKind::kModbusLrc, BytesOf(":010300000001FB\r\n")),
            FrameCheck::kValid);
  EXPECT_EQ(CheckFrame(ChecksumKind::kModbusLrc, BytesOf(":010300000001FC\r\n")), FrameCheck::kBad);
}

TEST(ChecksumTest, KeysRoundTripAndUnknownKeysAreRefused) {
  for (const ChecksumInfo& info : ChecksumTable()) {
    EXPECT_EQ(ChecksumFromKey(info.key), info.kind);
    EXPECT_EQ(InfoOf(info.kind).key, info.key);
  }
  EXPECT_FALSE(ChecksumFromKey("crc64"));
  EXPECT_FALSE(ChecksumFromKey(""));
}

}  // namespace
}  // namespace quorvel
