// The hex conversions behind "Send as Hex" and the frame-end byte, on their
// documented examples, the signed 8-bit arithmetic included.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "sending/hex.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

struct HexValueCase {
  std::string text;
  int32_t value;
};

class HexValueTest : public ::testing::TestWithParam<HexValueCase> {};

TEST_P(HexValueTest, ValueOfTheDigits) {
  const std::string& text = GetParam().text;
  EXPECT_EQ(HexValue(text.data(), static_cast<int>(text.size())), GetParam().value)
      << "text \"" << text << "\"";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, HexValueTest,
    ::testing::Values(HexValueCase{"", 0}, HexValueCase{"0d", 13}, HexValueCase{"0D", 13},
                      HexValueCase{"d", 13}, HexValueCase{"7e", 126}, HexValueCase{"FF", 255},
                      HexValueCase{"ff", 255}, HexValueCase{"00", 0}, HexValueCase{"123", 0x123},
                      HexValueCase{"aBcD", 0xABCD},
                      // No validation: every character adds what the digit arithmetic gives.
                      HexValueCase{"g", 16}, HexValueCase{"z", 35}, HexValueCase{" ", -16},
                      HexValueCase{"1g", 32}, HexValueCase{"G", 16}, HexValueCase{"@", 16},
                      HexValueCase{"0 ", -16},
                      // Characters above 0x7F are negative 8-bit numbers: c - 48 wraps.
                      HexValueCase{"\x80", 80}, HexValueCase{"\xB0", -128},
                      HexValueCase{"\xFF", -49}, HexValueCase{"1\xFF", 16 - 49},
                      // Long runs wrap in 32 bits; callers keep the low 8 bits.
                      HexValueCase{"123456789", 0x23456789}, HexValueCase{"FFFFFFFF", -1}));

TEST(HexValueTest, ReadsOnlyTheGivenLength) {
  EXPECT_EQ(HexValue("0d55", 2), 13);
  EXPECT_EQ(HexValue("0d55", 0), 0);
}

TEST(HexValueTest, FrameEndByteKeepsTheLowEightBits) {
  EXPECT_EQ(FrameEndByteOf("0D"), 0x0D);
  EXPECT_EQ(FrameEndByteOf("7e"), 0x7E);
  EXPECT_EQ(FrameEndByteOf(""), 0x00);
  EXPECT_EQ(FrameEndByteOf("zz"), static_cast<uint8_t>(35 * 16 + 35));
  EXPECT_EQ(FrameEndByteOf(" "), static_cast<uint8_t>(-16));
}

struct ParseCase {
  std::string text;
  Bytes bytes;
};

class ParseHexTextTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseHexTextTest, OneByteForEachRunOfDigits) {
  const std::string& text = GetParam().text;
  // Exactly as many bytes as the text has characters, guarded on both sides.
  std::vector<uint8_t> buffer(text.size() + 2, 0xEE);
  int n = ParseHexText(buffer.data() + 1, text);
  ASSERT_GE(n, 0);
  EXPECT_EQ(Bytes(buffer.begin() + 1, buffer.begin() + 1 + n), GetParam().bytes);
  EXPECT_LE(static_cast<size_t>(n), (text.size() + 1) / 2);
  EXPECT_EQ(buffer.front(), 0xEE);
  EXPECT_EQ(buffer.back(), 0xEE) << "nothing beyond the text's length is written";
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ParseHexTextTest,
    ::testing::Values(
        ParseCase{"01 06 00 01 00 23 99 D3", {0x01, 0x06, 0x00, 0x01, 0x00, 0x23, 0x99, 0xD3}},
        ParseCase{"01 03 00 00 00 0A C5 CD", {0x01, 0x03, 0x00, 0x00, 0x00, 0x0A, 0xC5, 0xCD}},
        ParseCase{"0106", {0x06}}, ParseCase{"A", {0x0A}}, ParseCase{"123", {0x23}},
        ParseCase{"1,2;3", {0x01, 0x02, 0x03}}, ParseCase{"0x1F", {0x00, 0x1F}},
        ParseCase{"zz", {}}, ParseCase{"", {}}, ParseCase{"   \r\n", {}},
        ParseCase{"ab\r\ncd", {0xAB, 0xCD}}, ParseCase{"fF", {0xFF}},
        ParseCase{"g1h2", {0x01, 0x02}},
        ParseCase{"\xFF"
                  "A\x80",
                  {0x0A}},
        ParseCase{"1 2 3 4 5", {1, 2, 3, 4, 5}}));

TEST(ParseHexTextTest, StopsAtTheFirstZeroByte) {
  std::string text("12\0 34", 6);
  uint8_t out[6] = {};
  EXPECT_EQ(ParseHexText(out, text), 1);
  EXPECT_EQ(out[0], 0x12);
}

TEST(ParseHexTextTest, EmptyTextWritesNothing) {
  uint8_t out[1] = {0xEE};
  EXPECT_EQ(ParseHexText(out, ""), 0);
  EXPECT_EQ(out[0], 0xEE);
}

}  // namespace
}  // namespace quorvel
