// What expect searches and how: the matcher on each pattern kind (where a
// match begins, what "^", "$", frontiers and word edges see at the edges of
// what is searched), the receive buffer's waits and bound, and searches
// over more than one slice of a large window.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "script/receive_buffer.h"
#include "script/script_pattern.h"
#include "script/script_runner.h"
#include "support/fake_script_link.h"

namespace quorvel {
namespace {

using namespace std::chrono_literals;
using Kind = ScriptPattern::Kind;

std::span<const uint8_t> SpanOf(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

struct FindCase {
  const char* name;
  Kind kind;
  std::string pattern;
  std::string subject;
  size_t from;
  bool more;
  int begin;  // -1: no match
  int end;
  std::vector<std::string> captures;
};
void PrintTo(const FindCase& c, std::ostream* os) {
  *os << c.name;
}

class PatternFindTest : public ::testing::TestWithParam<FindCase> {};

TEST_P(PatternFindTest, FindsTheFirstMatchFromItsStart) {
  const FindCase& c = GetParam();
  std::string problem;
  std::optional<ScriptPattern> pattern =
      c.kind == Kind::kLua     ? ScriptPattern::Lua(c.pattern, problem)
      : c.kind == Kind::kRegex ? ScriptPattern::Regex(c.pattern, problem)
                               : ScriptPattern::Hex(c.pattern, problem);
  ASSERT_TRUE(pattern) << problem;
  PatternMatcher matcher;
  std::string error;
  auto found = matcher.Find(*pattern, SpanOf(c.subject), c.from, c.more, error);
  EXPECT_EQ(error, "");
  ASSERT_EQ(found.has_value(), c.begin >= 0);
  if (!found) return;
  EXPECT_EQ(found->begin, static_cast<size_t>(c.begin));
  EXPECT_EQ(found->end, static_cast<size_t>(c.end));
  std::vector<std::string> captures;
  for (const PatternCapture& capture : found->captures) {
    captures.push_back(capture.kind == PatternCapture::Kind::kPosition
                           ? std::to_string(capture.position)
                       : capture.kind == PatternCapture::Kind::kNone ? "(none)"
                                                                     : capture.text);
  }
  EXPECT_EQ(captures, c.captures);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, PatternFindTest,
    ::testing::Values(
        FindCase{"LuaLeftmost", Kind::kLua, "%d+", "ab 123 45", 0, false, 3, 6, {}},
        FindCase{"LuaFromSkipsEarlier", Kind::kLua, "%d+", "ab 123 45", 5, false, 5, 6, {}},
        FindCase{"LuaAnchorHoldsAtTheStart", Kind::kLua, "^ab", "abc", 0, false, 0, 2, {}},
        FindCase{"LuaAnchorOnlyAtTheStart", Kind::kLua, "^ab", "xab", 0, false, -1, 0, {}},
        FindCase{
            "LuaFrontierSeesTheByteBefore", Kind::kLua, "%f[%a]ab", "xab", 1, false, -1, 0, {}},
        FindCase{"LuaFrontierAfterASpace", Kind::kLua, "%f[%a]ab", " ab", 1, false, 1, 3, {}},
        FindCase{"LuaPositionCapture", Kind::kLua, "()b", "aab", 1, false, 2, 3, {"3"}},
        FindCase{
            "LuaPlainBytes", Kind::kLua, "\r\n", std::string("a\0\r\n", 4), 0, false, 2, 4, {}},
        FindCase{"RegexLeftmostWithGroups",
                 Kind::kRegex,
                 "(\\d)(\\d)",
                 "x 12 34",
                 0,
                 false,
                 2,
                 4,
                 {"1", "2"}},
        FindCase{
            "RegexWordEdgeSeesTheByteBefore", Kind::kRegex, "\\bab", "xab", 1, false, -1, 0, {}},
        FindCase{"RegexWordEdgeAfterASpace", Kind::kRegex, "\\bab", " ab", 1, false, 1, 3, {}},
        FindCase{"RegexCaretNotPastTheStart", Kind::kRegex, "^ab", "xab", 1, false, -1, 0, {}},
        FindCase{"RegexDollarAtTheEnd", Kind::kRegex, "ab$", "xab", 0, false, 1, 3, {}},
        FindCase{"RegexDollarNotBeforeMore", Kind::kRegex, "ab$", "xab", 0, true, -1, 0, {}},
        FindCase{"RegexLazyInsidePattern", Kind::kRegex, "a.*?b", "a1b2b", 0, false, 0, 3, {}},
        FindCase{
            "HexAnywhere", Kind::kHex, "03 04", std::string("\1\2\3\4", 4), 0, false, 2, 4, {}},
        FindCase{"HexRunsOfWildcardsAreCaptures",
                 Kind::kHex,
                 "01 ?? ?? 04 ??",
                 std::string("\0\1\2\3\4\5", 6),
                 0,
                 false,
                 1,
                 6,
                 {"\2\3", "\5"}},
        FindCase{"HexPastTheEndIsNoMatch",
                 Kind::kHex,
                 "04 ??",
                 std::string("\3\4", 2),
                 0,
                 false,
                 -1,
                 0,
                 {}}));

TEST(PatternProblems, NameWhatIsWrong) {
  std::string problem;
  EXPECT_FALSE(ScriptPattern::Hex("01 0", problem));
  EXPECT_EQ(problem, "\"0\" is not whole bytes (two digits each)");
  EXPECT_FALSE(ScriptPattern::Regex("a{99999999999999999999}", problem));
  EXPECT_EQ(problem, "the regular expression holds a number too long to use");
  EXPECT_FALSE(ScriptPattern::Lua(std::string(1001, 'a'), problem));
  EXPECT_EQ(problem, "the pattern is longer than 1000 characters");

  PatternMatcher matcher;
  std::string error;
  auto malformed = ScriptPattern::Lua("[a", problem);
  ASSERT_TRUE(malformed);
  EXPECT_FALSE(matcher.Find(*malformed, SpanOf("abc"), 0, false, error));
  EXPECT_EQ(error, "malformed pattern (missing ']')");
}

TEST(ReceiveBufferWaits, TakeWakesForBytesAndForInterrupt) {
  ReceiveBuffer buffer;
  EXPECT_FALSE(buffer.Take(ReceiveBuffer::Clock::now()));  // nothing, no wait

  std::thread feeder([&] { buffer.Received(reinterpret_cast<const uint8_t*>("ok"), 2); });
  EXPECT_TRUE(buffer.Take(ReceiveBuffer::Clock::now() + 10s));
  feeder.join();
  ASSERT_EQ(buffer.Window().size(), 2u);
  buffer.Consume(1);
  EXPECT_EQ(buffer.Window().size(), 1u);
  EXPECT_EQ(buffer.MarkPosition(), 1u);

  std::thread stopper([&] { buffer.Interrupt(); });
  EXPECT_FALSE(buffer.Take(ReceiveBuffer::Clock::now() + 3600s));
  stopper.join();
  buffer.SleepUntil(ReceiveBuffer::Clock::now() + 3600s);  // returns: interrupted for good
  EXPECT_TRUE(buffer.Interrupted());
}

TEST(ReceiveBufferBound, OldestGoAndAreCounted) {
  ReceiveBuffer buffer;
  std::vector<uint8_t> chunk(1u << 20);
  const size_t kChunks = 20;
  for (size_t i = 0; i < kChunks; ++i) {
    std::fill(chunk.begin(), chunk.end(), static_cast<uint8_t>(i));
    buffer.Received(chunk.data(), static_cast<int>(chunk.size()));
  }
  ASSERT_TRUE(buffer.Take(ReceiveBuffer::Clock::now()));
  auto window = buffer.Window();
  uint64_t dropped = buffer.TakeDropped();
  EXPECT_LE(window.size(), ReceiveBuffer::kCapacity);
  EXPECT_EQ(window.size() + dropped, kChunks * chunk.size());
  EXPECT_EQ(window.back(), kChunks - 1);  // the newest are kept
  EXPECT_EQ(buffer.TakeDropped(), 0u);

  // The window's own bound: what is kept unread there and what arrives
  // later never pass the capacity together.
  for (size_t i = 0; i < kChunks; ++i) {
    buffer.Received(chunk.data(), static_cast<int>(chunk.size()));
    buffer.Take(ReceiveBuffer::Clock::now());
  }
  EXPECT_LE(buffer.Window().size(), ReceiveBuffer::kCapacity);
  // Nothing was consumed: the mark moved by what the window dropped.
  EXPECT_EQ(buffer.MarkPosition(), buffer.TakeDropped());
}

// A search over a window larger than one slice: the match lies across a
// slice's edge, and a greedy match is not cut there.
struct LargeCase {
  const char* name;
  size_t filler;  // bytes before the match
  const char* code;
  const char* output;
};
void PrintTo(const LargeCase& c, std::ostream* os) {
  *os << c.name;
}

class LargeWindowTest : public ::testing::TestWithParam<LargeCase> {};

TEST_P(LargeWindowTest, MatchIsWhole) {
  const LargeCase& c = GetParam();
  testing::FakeScriptLink link;
  link.device = [&](const std::string&) { return std::string(c.filler, '.') + "MARK12345!\n"; };
  ScriptRunner runner(link);
  std::string problem;
  ASSERT_TRUE(runner.StartText("test.lua", c.code, {}, problem)) << problem;
  ScriptResult result = runner.Wait();
  std::string output;
  for (const ScriptEvent& event : runner.TakeEvents()) output += event.text;
  EXPECT_EQ(output, c.output) << result.error;
}

constexpr size_t kSlice = 1u << 20;

INSTANTIATE_TEST_SUITE_P(
    Slices, LargeWindowTest,
    ::testing::Values(LargeCase{"LuaAcrossTheEdge", kSlice - 3,
                                R"lua(send("x") print(expect("MARK(%d+)")))lua",
                                "MARK12345\t12345\n"},
                      LargeCase{"LuaGreedyNotCut", kSlice - 6,
                                R"lua(send("x") print(expect("%d+")))lua", "12345\n"},
                      LargeCase{"RegexAcrossTheEdge", kSlice - 3,
                                R"lua(send("x") print(expect({regex="MARK(\\d+)"})))lua",
                                "MARK12345\t12345\n"},
                      LargeCase{"HexAfterThreeSlices", 3 * kSlice + 1,
                                R"lua(send("x") print(expect({hex="4D 41 52 4B"})))lua", "MARK\n"},
                      LargeCase{"ReadlineFarOn", 2 * kSlice,
                                R"lua(send("x") print(#readline()))lua", "2097162\n"}));

}  // namespace
}  // namespace quorvel
