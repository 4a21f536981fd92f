// Reading a recording back: what the log's hex dump wrote reads as the bursts
// it came from, and each kind of damage is named with its line.
#include "sim/recording.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <time.h>

#include <string>
#include <vector>

#include "logging/log_format.h"
#include "sim/replay_player.h"

namespace quorvel {
namespace {

std::vector<uint8_t> Counting(size_t count, uint8_t first = 0) {
  std::vector<uint8_t> bytes(count);
  for (size_t i = 0; i < count; ++i) bytes[i] = static_cast<uint8_t>(first + i);
  return bytes;
}

class LocalTimeIsUtc : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* zone = getenv("TZ");
    saved_ = zone ? zone : "";
    hadZone_ = zone != nullptr;
    setenv("TZ", "UTC", 1);
    tzset();
  }
  void TearDown() override {
    if (hadZone_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved_;
  bool hadZone_ = false;
};

using RecordingRoundTrip = LocalTimeIsUtc;

// Both directions, bursts of every row shape (one byte, a full row, a row and
// a bit), an empty burst, and a recording across midnight and a year's end.
TEST_F(RecordingRoundTrip, ReadsBackWhatTheLogWrote) {
  struct Burst {
    LogDirection direction;
    int64_t unixMs;
    std::vector<uint8_t> bytes;
  };
  const int64_t newYearsEve = 1798761599'000;  // 2026-12-31T23:59:59.000 UTC
  const std::vector<Burst> written = {
      {LogDirection::kReceived, newYearsEve, Counting(1, 0x41)},
      {LogDirection::kSent, newYearsEve + 5, Counting(16, 0x00)},
      {LogDirection::kReceived, newYearsEve + 999, {}},
      {LogDirection::kReceived, newYearsEve + 1000, Counting(17, 0xf8)},
      {LogDirection::kSent, newYearsEve + 86'400'123, Counting(300, 0x20)},
  };
  LogFormatter formatter(LogFormat::kHex, true);
  std::string text;
  for (const Burst& burst : written) {
    formatter.Append(burst.direction, burst.unixMs, burst.bytes.data(), burst.bytes.size(), text);
  }
  std::vector<RecordedBurst> bursts;
  RecordingError error;
  ASSERT_TRUE(ParseRecording(text, bursts, error)) << error.line << ": " << error.message;
  ASSERT_EQ(bursts.size(), 4u) << "the empty burst gives none";
  size_t read = 0;
  for (const Burst& burst : written) {
    if (burst.bytes.empty()) continue;
    EXPECT_EQ(bursts[read].direction, burst.direction) << read;
    EXPECT_EQ(bursts[read].bytes, burst.bytes) << read;
    EXPECT_EQ(bursts[read].ms - bursts[0].ms, burst.unixMs - newYearsEve) << read;
    ++read;
  }
  EXPECT_EQ(bursts[1].line, 3u);
  // Carriage returns of a file that went through another system change nothing.
  std::string crlf;
  for (char c : text) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  std::vector<RecordedBurst> again;
  ASSERT_TRUE(ParseRecording(crlf, again, error)) << error.line << ": " << error.message;
  ASSERT_EQ(again.size(), bursts.size());
  EXPECT_EQ(again.back().bytes, bursts.back().bytes);
}

struct BadRecording {
  const char* name;
  std::string text;
  size_t line;
  const char* says;
};

void PrintTo(const BadRecording& bad, std::ostream* out) {
  *out << bad.name;
}

const std::string kHeader = "2026-12-07T14:15:28.123 RX\n";
const std::string kRow = "    41 42 0D                                         AB.\n";

class BadRecordings : public ::testing::TestWithParam<BadRecording> {};

TEST_P(BadRecordings, NameTheLineAndWhatIsWrong) {
  std::vector<RecordedBurst> bursts;
  RecordingError error;
  EXPECT_FALSE(ParseRecording(GetParam().text, bursts, error));
  EXPECT_EQ(error.line, GetParam().line);
  EXPECT_NE(error.message.find(GetParam().says), std::string::npos) << error.message;
}

INSTANTIATE_TEST_SUITE_P(
    Recording, BadRecordings,
    ::testing::Values(
        BadRecording{"RowWithoutHeader", kRow + kHeader, 1, "without a header"},
        BadRecording{"TruncatedRowText", kHeader + kRow.substr(0, kRow.size() - 2) + "\n", 2,
                     "truncated row"},
        BadRecording{"TruncatedRowBytes", kHeader + "    41 4", 2, "truncated row"},
        BadRecording{"TruncatedHeader", kHeader + kRow + "2026-12-07T14:15:28.200 ", 3,
                     "truncated header"},
        BadRecording{"CutStamp", kHeader + kRow + "2026-12-07T14:1", 3, "neither"},
        BadRecording{"UnknownDirection", "2026-12-07T14:15:28.123 XX\n" + kRow, 1,
                     "unknown direction \"XX\""},
        BadRecording{"TextLogLine", "2026-12-07T14:15:28.123 RX hello\n", 1, "text log"},
        BadRecording{"NonHexByte", kHeader + "    41 4G 0D" + std::string(38, ' ') + "AB.\n", 2,
                     "\"4G \" is not a hex byte"},
        BadRecording{"ImpossibleDate", "2026-02-29T14:15:28.123 RX\n" + kRow, 1, "neither"},
        BadRecording{"TimeGoesBack", kHeader + kRow + "2026-12-07T14:15:28.122 TX\n" + kRow, 3,
                     "the time goes back: 2026-12-07T14:15:28.122 after 2026-12-07T14:15:28.123"},
        BadRecording{"PreviousDayAfter", kHeader + kRow + "2026-12-06T23:59:59.999 TX\n", 3,
                     "goes back"},
        BadRecording{"TextWhereBytesEnd",
                     kHeader + "    41 42 0D  x" + std::string(35, ' ') + "AB.\n", 2,
                     "where the row's text should start"},
        BadRecording{"RowLongerThanBytes", kHeader + kRow.substr(0, kRow.size() - 1) + "X\n", 2,
                     "longer than its 3 bytes"}),
    [](const ::testing::TestParamInfo<BadRecording>& info) { return info.param.name; });

TEST(RecordingStamp, DaysAndMonthsCountAsTheCalendarDoes) {
  int64_t before = 0;
  int64_t after = 0;
  ASSERT_TRUE(ParseStamp("2028-02-28T23:59:59.999", before));
  ASSERT_TRUE(ParseStamp("2028-02-29T00:00:00.000", after)) << "a leap year's day";
  EXPECT_EQ(after - before, 1);
  ASSERT_TRUE(ParseStamp("2028-03-01T00:00:00.000", after));
  EXPECT_EQ(after - before, 86'400'001);
  EXPECT_FALSE(ParseStamp("2028-13-01T00:00:00.000", after));
  EXPECT_FALSE(ParseStamp("2028-01-01T24:00:00.000", after));
  EXPECT_FALSE(ParseStamp("2028-01-01 00:00:00.000", after));
}

// The script: host bursts in a row are one frame; device bursts stay apart
// with their own times.
TEST(ReplayScript, JoinsTheHostsBurstsAndKeepsTheDevicesApart) {
  auto burst = [](LogDirection direction, int64_t ms, std::vector<uint8_t> bytes) {
    RecordedBurst b;
    b.direction = direction;
    b.ms = ms;
    b.bytes = std::move(bytes);
    return b;
  };
  std::vector<ReplayStep> script =
      ReplayScript({burst(LogDirection::kReceived, 0, {1}), burst(LogDirection::kSent, 10, {2}),
                    burst(LogDirection::kSent, 12, {3}), burst(LogDirection::kReceived, 20, {4}),
                    burst(LogDirection::kReceived, 21, {5})});
  ASSERT_EQ(script.size(), 4u);
  EXPECT_FALSE(script[0].expect);
  EXPECT_TRUE(script[1].expect);
  EXPECT_EQ(script[1].bytes, (std::vector<uint8_t>{2, 3}));
  EXPECT_EQ(script[1].ms, 12);
  EXPECT_EQ(script[2].bytes, std::vector<uint8_t>{4});
  EXPECT_EQ(script[3].ms, 21);
}

}  // namespace
}  // namespace quorvel
