// The ZMODEM auto-start pattern in what a device sends: found wherever it
// falls across bursts, and nowhere else.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/seeded_bytes.h"
#include "transfer/zmodem_autostart.h"

namespace quorvel {
namespace {

using namespace std::string_literals;

struct StartCase {
  const char* name;
  std::vector<std::string> bursts;
  int burst;       // where it completes: the burst, -1 never
  size_t offset;   // and just past it within that burst
  size_t partial;  // PartialMatch() after the last burst
};

class ZmodemStart : public ::testing::TestWithParam<StartCase> {};

TEST_P(ZmodemStart, CompletesWhereThePatternEnds) {
  const StartCase& c = GetParam();
  ZmodemStartDetector detector;
  int found = -1;
  for (size_t i = 0; i < c.bursts.size(); ++i) {
    std::span<const uint8_t> burst(reinterpret_cast<const uint8_t*>(c.bursts[i].data()),
                                   c.bursts[i].size());
    std::optional<size_t> at = detector.Feed(burst);
    if (at && found < 0) {
      found = static_cast<int>(i);
      EXPECT_EQ(*at, c.offset);
    }
  }
  EXPECT_EQ(found, c.burst);
  EXPECT_EQ(detector.PartialMatch(), c.partial);
}

const std::string kRqInit =
    "**\x18"
    "B00000000000000\r\x8a\x11"s;

INSTANTIATE_TEST_SUITE_P(
    Bursts, ZmodemStart,
    ::testing::Values(StartCase{"whole", {"$ sz fw.bin\r\nrz\r" + kRqInit}, 0, 22, 0},
                      StartCase{"split_in_the_middle", {"rz\r**\x18", "B00"}, 1, 3, 0},
                      StartCase{"byte_by_byte", {"*", "*", "\x18", "B", "0", "0", "0"}, 5, 1, 0},
                      StartCase{"after_more_stars",
                                {"****\x18"
                                 "B00"},
                                0,
                                8,
                                0},
                      StartCase{"star_after_a_part",
                                {"**\x18*",
                                 "*\x18"
                                 "B00"},
                                1,
                                5,
                                0},
                      StartCase{"one_star",
                                {"*\x18"
                                 "B00"},
                                -1,
                                0,
                                0},
                      StartCase{"another_header",
                                {"**\x18"
                                 "B01",
                                 "00"},
                                -1,
                                0,
                                0},
                      StartCase{"upper_case_hex_is_no_zmodem",
                                {"**\x18"
                                 "b00"},
                                -1,
                                0,
                                0},
                      StartCase{"held_at_the_end",
                                {"text **\x18"
                                 "B"},
                                -1,
                                0,
                                4},
                      StartCase{"text_with_stars", {"*** build passed ***\r\n"}, -1, 0, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ZmodemStartTest, RandomBytesSetItOffOnlyWhereThePatternIs) {
  std::vector<uint8_t> noise = testing::SeededBytes(1 << 20, 3);
  const std::string pattern =
      "**\x18"
      "B00";
  std::copy(pattern.begin(), pattern.end(), noise.begin() + 700'000);
  ZmodemStartDetector detector;
  std::optional<size_t> at = detector.Feed(noise);
  ASSERT_TRUE(at);
  EXPECT_EQ(*at, 700'006u);
}

}  // namespace
}  // namespace quorvel
