// The receive box's text for the receive log, as hex and as text.
#include <gtest/gtest.h>

#include <numeric>
#include <string>
#include <vector>

#include "engine/render.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

struct RenderCase {
  const char* name;
  Bytes bytes;
  bool hex;
  std::string text;
};

class RenderTest : public ::testing::TestWithParam<RenderCase> {};

TEST_P(RenderTest, LogBecomesTheReceiveText) {
  const RenderCase& c = GetParam();
  EXPECT_EQ(RenderReceiveText(c.bytes.data(), static_cast<int>(c.bytes.size()), c.hex), c.text);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RenderTest,
    ::testing::Values(
        RenderCase{"HexLowercaseWithTrailingSpace", {0x01, 0xAB, 0x00}, true, "01 ab 00 "},
        RenderCase{"HexEmpty", {}, true, ""},
        RenderCase{"HexExtremes", {0x00, 0x0F, 0xF0, 0xFF}, true, "00 0f f0 ff "},
        RenderCase{"TextUnchanged", {'O', 'K', 0x0D, 0x0A}, false, "OK\r\n"},
        RenderCase{"TextLeavesOutZeroBytes", {0x00, 'a', 0x00, 0x00, 'b', 0x00}, false, "ab"},
        RenderCase{"TextKeepsHighAndControlBytes",
                   {0x80, 0xFF, 0x01, 0x1B, 0x7F},
                   false,
                   "\x80\xFF\x01\x1B\x7F"},
        RenderCase{"TextOnlyZeros", {0x00, 0x00}, false, ""},
        RenderCase{"TextEmpty", {}, false, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RenderTest, EveryByteValueAsHex) {
  Bytes all(256);
  std::iota(all.begin(), all.end(), uint8_t{0});
  std::string text = RenderReceiveText(all.data(), 256, true);
  ASSERT_EQ(text.size(), 256u * 3);
  for (int i = 0; i < 256; ++i) {
    char expected[4];
    std::snprintf(expected, sizeof expected, "%.2x ", i);
    EXPECT_EQ(text.substr(static_cast<size_t>(i) * 3, 3), expected);
  }
}

TEST(RenderTest, RenderingPieceByPieceGivesTheWholeText) {
  Bytes log(9999);
  for (size_t i = 0; i < log.size(); ++i) log[i] = static_cast<uint8_t>(i * 13 % 256);
  for (bool hex : {false, true}) {
    std::string pieces;
    for (size_t at = 0; at < log.size(); at += 2000) {
      int n = static_cast<int>(std::min<size_t>(2000, log.size() - at));
      AppendReceiveText(pieces, log.data() + at, n, hex);
    }
    EXPECT_EQ(pieces, RenderReceiveText(log.data(), static_cast<int>(log.size()), hex));
  }
}

TEST(RenderTest, NonPositiveLengthRendersNothing) {
  uint8_t byte = 0x41;
  EXPECT_EQ(RenderReceiveText(&byte, 0, false), "");
  EXPECT_EQ(RenderReceiveText(&byte, -1, true), "");
}

}  // namespace
}  // namespace quorvel
