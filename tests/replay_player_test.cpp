// The replay's script on a clock the test holds: when each answer is due,
// when a short frame is judged, and what a mismatch leaves behind.
#include "sim/replay_player.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace quorvel {
namespace {

using Clock = ReplayPlayer::Clock;
using std::chrono::milliseconds;

RecordedBurst Burst(LogDirection direction, int64_t ms, std::vector<uint8_t> bytes) {
  RecordedBurst burst;
  burst.direction = direction;
  burst.ms = ms;
  burst.bytes = std::move(bytes);
  burst.line = 1;
  return burst;
}

struct Played {
  std::vector<std::string> reports;
  std::string out;
};

// The host asks 01 02 03, the device answers 06 ten recorded ms later.
ReplayPlayer Player(Played& played, ReplayOptions options) {
  return ReplayPlayer(ReplayScript({Burst(LogDirection::kSent, 100, {1, 2, 3}),
                                    Burst(LogDirection::kReceived, 110, {6})}),
                      options,
                      [&played](const std::string& line) { played.reports.push_back(line); });
}

struct Timing {
  const char* name;
  double speed;
  milliseconds due;
};

class ReplayTiming : public ::testing::TestWithParam<Timing> {};

TEST_P(ReplayTiming, AnswersAtTheRecordedDelayScaled) {
  Played played;
  ReplayPlayer player = Player(played, {GetParam().speed, false, false});
  Clock::time_point start{};
  player.Start(start);
  player.Advance(start, played.out);
  EXPECT_FALSE(player.NextWake()) << "nothing to do before the host speaks";
  const uint8_t frame[] = {1, 2, 3};
  Clock::time_point heard = start + milliseconds(500);
  player.Received(frame, 1, heard);
  player.Received(frame + 1, 2, heard);
  player.Advance(heard, played.out);
  if (GetParam().due > milliseconds(0)) {
    EXPECT_EQ(played.out, "");
    ASSERT_TRUE(player.NextWake());
    EXPECT_EQ(*player.NextWake(), heard + GetParam().due);
    player.Advance(heard + GetParam().due - std::chrono::microseconds(1), played.out);
    EXPECT_EQ(played.out, "");
    player.Advance(heard + GetParam().due, played.out);
  }
  EXPECT_EQ(played.out, "\x06");
  EXPECT_TRUE(player.Finished());
  EXPECT_EQ(player.Tally().matched, 1u);
}

INSTANTIATE_TEST_SUITE_P(Replay, ReplayTiming,
                         ::testing::Values(Timing{"AsRecorded", 1.0, milliseconds(10)},
                                           Timing{"TwiceAsFast", 2.0, milliseconds(5)},
                                           Timing{"HalfAsFast", 0.5, milliseconds(20)},
                                           Timing{"WithoutWaiting", 0.0, milliseconds(0)}),
                         [](const auto& info) { return info.param.name; });

// A frame shorter than recorded is judged only once the host has been quiet
// for the gap; strict stops there without the answer.
TEST(ReplayPlayer, JudgesAShortFrameAfterTheQuietGap) {
  for (bool strict : {false, true}) {
    Played played;
    ReplayPlayer player = Player(played, {0.0, strict, false});
    Clock::time_point start{};
    player.Start(start);
    const uint8_t frame[] = {1, 2};
    player.Received(frame, 2, start);
    player.Advance(start + ReplayPlayer::kQuietGap - milliseconds(1), played.out);
    EXPECT_EQ(player.Tally().mismatched, 0u);
    EXPECT_EQ(player.NextWake(), start + ReplayPlayer::kQuietGap);
    player.Advance(start + ReplayPlayer::kQuietGap, played.out);
    EXPECT_EQ(player.Tally().mismatched, 1u);
    EXPECT_EQ(player.StoppedOnMismatch(), strict);
    EXPECT_TRUE(player.Finished());
    EXPECT_EQ(played.out, strict ? "" : "\x06");
    ASSERT_GE(played.reports.size(), 4u);
    EXPECT_EQ(played.reports[1],
              "mismatch in exchange 1 (recording line 1): first difference at offset 2");
    EXPECT_EQ(played.reports[2], "  expected 01 02 03");
    EXPECT_EQ(played.reports[3], "  received 01 02");
  }
}

}  // namespace
}  // namespace quorvel
