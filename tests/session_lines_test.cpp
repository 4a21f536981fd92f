// What the session view shows of a line's bytes: every byte accounted for
// through UTF-8 errors, controls as symbols, escape sequences hidden; hex
// rows that line up; what a typed find pattern stands for.
#include "history/session_lines.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;

struct DecodeCase {
  const char* name;
  std::string bytes;
  DecodeOptions options;
  std::u32string text;
};

void PrintTo(const DecodeCase& c, std::ostream* out) {
  *out << c.name;
}

class DecodeLineTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeLineTest, ShowsTheTextAndAccountsForEveryByte) {
  const DecodeCase& c = GetParam();
  Bytes bytes(c.bytes.begin(), c.bytes.end());
  DecodedLine line = DecodeLine(bytes, c.options);
  EXPECT_EQ(line.text, c.text);
  ASSERT_EQ(line.byteOf.size(), line.text.size() + 1);
  EXPECT_EQ(line.byteOf.back(), bytes.size());
  for (size_t i = 0; i + 1 < line.byteOf.size(); ++i) EXPECT_LT(line.byteOf[i], line.byteOf[i + 1]);
  if (!c.options.hideAnsi && !c.options.dropLineEnd && !line.byteOf.empty()) {
    EXPECT_EQ(line.byteOf.front(), 0u) << "nothing hidden: the characters cover every byte";
  }
}

constexpr DecodeOptions kUtf8{SessionEncoding::kUtf8, false, false, false};
constexpr DecodeOptions kLatin1{SessionEncoding::kLatin1, false, false, false};
constexpr DecodeOptions kSymbols{SessionEncoding::kLatin1, true, false, false};
constexpr DecodeOptions kNoAnsi{SessionEncoding::kUtf8, false, true, true};
constexpr DecodeOptions kNoEnd{SessionEncoding::kLatin1, false, false, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, DecodeLineTest,
    ::testing::Values(DecodeCase{"Utf8Valid", "h\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", kUtf8,
                                 U"h\u00E9\u20AC\U0001F600"},
                      DecodeCase{"Utf8CutShort", "a\xE2\x82", kUtf8, U"a\uFFFD"},
                      DecodeCase{"Utf8LoneContinuation", "\x80\x80", kUtf8, U"\uFFFD\uFFFD"},
                      DecodeCase{"Utf8Overlong", "\xC0\xAF", kUtf8, U"\uFFFD\uFFFD"},
                      DecodeCase{"Utf8Surrogate", "\xED\xA0\x80", kUtf8, U"\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"Utf8PastMax", "\xF4\x90\x80\x80", kUtf8,
                                 U"\uFFFD\uFFFD\uFFFD\uFFFD"},
                      DecodeCase{"Utf8BadThenGood", "\xE2\x28\xA1x", kUtf8, U"\uFFFD(\uFFFDx"},
                      DecodeCase{"Latin1EachByte", "\xE9\xFF", kLatin1, U"\u00E9\u00FF"},
                      DecodeCase{"ControlSymbols", std::string("\x00\x01\t\x7F", 4), kSymbols,
                                 U"\u2400\u2401\u2409\u2421"},
                      DecodeCase{"AnsiHidden",
                                 "\x1B[1;31mred\x1B[0m \x1B]0;title\x07x\x1B"
                                 "c\r\n",
                                 kNoAnsi, U"red x"},
                      DecodeCase{"LineEndDropped", "ab\r\n", kNoEnd, U"ab"},
                      DecodeCase{"LoneCrDropped", "ab\r", kNoEnd, U"ab"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SessionLinesTest, HexRowsLineUpUnderTheFirst) {
  Bytes bytes(20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i + 0xF0 - 10);
  HexRows rows = WrapHex(bytes, 30, 12);
  EXPECT_EQ(rows.bytesPerRow, 6u);
  ASSERT_EQ(rows.rows.size(), 4u);
  EXPECT_EQ(rows.rows[0], "E6 E7 E8 E9 EA EB");
  EXPECT_EQ(rows.rows[1], std::string(12, ' ') + "EC ED EE EF F0 F1");
  EXPECT_EQ(rows.rows[3], std::string(12, ' ') + "F8 F9");
  for (const std::string& row : rows.rows) EXPECT_LE(row.size(), 30u);
  EXPECT_EQ(WrapHex(bytes, 5, 40).bytesPerRow, 1u) << "at least a byte a row";
}

TEST(SessionLinesTest, CopyGivesBytesAsHexAndTextAsUtf8) {
  EXPECT_EQ(BytesAsHex(Bytes{0x00, 0x0D, 0x0A, 0xFF}), "00 0D 0A FF");
  EXPECT_EQ(BytesAsHex(Bytes{}), "");
  EXPECT_EQ(ToUtf8(U"a\u00E9\u2400\U0001F600"), "a\xC3\xA9\xE2\x90\x80\xF0\x9F\x98\x80");
}

TEST(SessionLinesTest, StampsInEachStyle) {
  SessionLine line;
  line.sinceOpenNs = 12'345'678'901;
  line.sincePreviousNs = 3'250'999;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  line.wallMs = int64_t{now} * 1000 + 7;
  char clock[16];
  std::snprintf(clock, sizeof clock, "%02d:%02d:%02d.007", local.tm_hour, local.tm_min,
                local.tm_sec);
  EXPECT_EQ(StampText(StampStyle::kNone, line), "");
  EXPECT_EQ(StampText(StampStyle::kTimeOfDay, line), clock);
  EXPECT_EQ(StampText(StampStyle::kSinceOpen, line), "12.345");
  EXPECT_EQ(StampText(StampStyle::kSincePrevious, line), "+3.250");
}

struct PatternCase {
  const char* name;
  std::string typed;
  SessionDisplay display;
  SessionEncoding encoding;
  std::optional<Bytes> bytes;
};

void PrintTo(const PatternCase& c, std::ostream* out) {
  *out << c.name;
}

class FindPatternTest : public ::testing::TestWithParam<PatternCase> {};

TEST_P(FindPatternTest, TurnsWhatWasTypedIntoBytes) {
  const PatternCase& c = GetParam();
  EXPECT_EQ(FindPattern(c.typed, c.display, c.encoding), c.bytes);
}

constexpr auto kText = SessionDisplay::kText;
constexpr auto kHex = SessionDisplay::kHex;
constexpr auto kU = SessionEncoding::kUtf8;
constexpr auto kL = SessionEncoding::kLatin1;

INSTANTIATE_TEST_SUITE_P(
    Cases, FindPatternTest,
    ::testing::Values(PatternCase{"Utf8AsTyped", "\xC3\xA9t", kText, kU, Bytes{0xC3, 0xA9, 't'}},
                      PatternCase{"Latin1OneBytePerChar", "\xC3\xA9t", kText, kL, Bytes{0xE9, 't'}},
                      PatternCase{"Latin1CannotHoldEuro", "\xE2\x82\xAC", kText, kL, std::nullopt},
                      PatternCase{"EmptyText", "", kText, kU, std::nullopt},
                      PatternCase{"HexPairs", "0d0A ff", kHex, kU, Bytes{0x0D, 0x0A, 0xFF}},
                      PatternCase{"HexHalfPair", "0d 0", kHex, kU, std::nullopt},
                      PatternCase{"HexSplitPair", "0 d", kHex, kU, std::nullopt},
                      PatternCase{"HexNotDigit", "0g", kHex, kU, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace quorvel
