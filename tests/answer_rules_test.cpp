// Answer rules: matching, order, their section of the settings file, and the
// receive worker answering a device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/receive_worker.h"
#include "sending/answer_rules.h"
#include "sending/hex.h"
#include "settings/answer_rules_settings.h"
#include "support/line_rig.h"
#include "support/pty_device.h"
#include "support/recording_window.h"
#include "support/state_access.h"
#include "support/temp_files.h"

namespace quorvel {
namespace {

using Bytes = std::vector<uint8_t>;
using namespace std::chrono_literals;

Bytes B(std::string_view text) {
  return {text.begin(), text.end()};
}

AnswerRule Rule(MatchKind match, std::string pattern, std::string answer, int delayMs = 0) {
  AnswerRule rule;
  rule.match = match;
  rule.pattern = std::move(pattern);
  rule.content = std::move(answer);
  rule.delayMs = delayMs;
  return rule;
}

AnswerRules On(std::vector<AnswerRule> rules, FrameBy frames = FrameBy::kBurst) {
  return {true, frames, std::move(rules)};
}

struct MatchCase {
  const char* name;
  MatchKind match;
  std::string pattern;
  Bytes frame;
  bool matches;
};
void PrintTo(const MatchCase& c, std::ostream* os) {
  *os << c.name;
}

class PatternMatchTest : public ::testing::TestWithParam<MatchCase> {};

TEST_P(PatternMatchTest, FrameMatchesOrNot) {
  const MatchCase& c = GetParam();
  ASSERT_EQ(PatternProblem(c.match, c.pattern), "");
  auto table = AnswerRuleTable::Build(On({Rule(c.match, c.pattern, "x")}));
  EXPECT_EQ(table->Match(c.frame).has_value(), c.matches);
}

constexpr auto kText = MatchKind::kText;
constexpr auto kHex = MatchKind::kHex;
constexpr auto kRegex = MatchKind::kRegex;

INSTANTIATE_TEST_SUITE_P(
    Patterns, PatternMatchTest,
    ::testing::Values(
        MatchCase{"TextAnywhere", kText, "AT", B("\r\nAT+GMR\r\n"), true},
        MatchCase{"TextMissing", kText, "AT", B("A T"), false},
        MatchCase{"TextEscapes", kText, "OK\\r\\n", B("xOK\r\n"), true},
        MatchCase{"TextEscapedZero", kText, "\\x00\\xff", Bytes{1, 0, 0xFF}, true},
        MatchCase{"HexPrefix", kHex, "01 03", Bytes{1, 3, 0, 0, 0, 2, 0xC4, 0x0B}, true},
        MatchCase{"HexWildcards", kHex, "01 03 ?? ?? 00 02", Bytes{1, 3, 7, 9, 0, 2, 0, 0}, true},
        MatchCase{"HexCompactAndCase", kHex, "0a??Ff", Bytes{0x0A, 0x55, 0xFF}, true},
        MatchCase{"HexOnlyAtTheStart", kHex, "03", Bytes{1, 3}, false},
        MatchCase{"HexLongerThanFrame", kHex, "01 03 ??", Bytes{1, 3}, false},
        MatchCase{"HexByteDiffers", kHex, "01 ?? 02", Bytes{1, 0, 3}, false},
        MatchCase{"RegexSearch", kRegex, "T[0-9]+=", B("x T42=1"), true},
        MatchCase{"RegexAnchored", kRegex, "^OK", B(" OK"), false},
        MatchCase{"RegexEmptyMatchesAll", kRegex, "", Bytes{7}, true},
        MatchCase{"RegexAlternationStaysInItsGroup", kRegex, "A.*B|C[\\s\\S]D", B("xC\nD"), true},
        MatchCase{"RegexEndAnchor", kRegex, "OK\\r\\n$", B("1\r\nOK\r\n"), true},
        // Backtracking would take minutes on this; the frame is the longest.
        MatchCase{"RegexRunawayPatternEnds", kRegex, "(a*)*b", Bytes(2000, 'a'), false},
        MatchCase{"RegexSeesOnlyTheBoundedStart", kRegex, "END",
                  [] {
                    Bytes frame(kRegexInputLimit, 'a');
                    frame.insert(frame.end(), {'E', 'N', 'D'});
                    return frame;
                  }(),
                  false}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProblemCase {
  const char* name;
  MatchKind match;
  std::string pattern;
  std::string problem;  // a part of the message
};
void PrintTo(const ProblemCase& c, std::ostream* os) {
  *os << c.name;
}

class PatternProblemTest : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(PatternProblemTest, BadPatternIsNamedAndNeverMatches) {
  const ProblemCase& c = GetParam();
  EXPECT_NE(PatternProblem(c.match, c.pattern).find(c.problem), std::string::npos)
      << PatternProblem(c.match, c.pattern);
  std::vector<std::string> problems;
  auto table = AnswerRuleTable::Build(
      On({Rule(c.match, c.pattern, "bad"), Rule(kRegex, "", "good")}), {}, &problems);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].rfind("Rule 1: ", 0), 0u) << problems[0];
  EXPECT_EQ(*table->Match(B(c.pattern))->bytes, B("good"));
}

INSTANTIATE_TEST_SUITE_P(
    Problems, PatternProblemTest,
    ::testing::Values(ProblemCase{"RegexUnbalanced", kRegex, "(ab", "regular expression"},
                      ProblemCase{"RegexBadRepeat", kRegex, "*x", "regular expression"},
                      ProblemCase{"RegexOutOfItsGroup", kRegex, "a)|(b", "regular expression"},
                      ProblemCase{"RegexBackReference", kRegex, "(a)\\1", "regular expression"},
                      ProblemCase{"RegexHugeBackReference", kRegex, "\\4444444444444444444444",
                                  "number too long"},
                      ProblemCase{"RegexHugeRepeat", kRegex, "a{2,99999999999999999999}",
                                  "number too long"},
                      ProblemCase{"RegexTooManyStates", kRegex, "a{999999}", "regular expression"},
                      ProblemCase{"HexNotADigit", kHex, "01 0G", "\"0G\""},
                      ProblemCase{"HexHalfByte", kHex, "01 3", "whole bytes"},
                      ProblemCase{"HexSingleWildcard", kHex, "?1", "\"?1\""},
                      ProblemCase{"HexEmpty", kHex, " , ", "no bytes"},
                      ProblemCase{"TextEmpty", kText, "", "empty"},
                      ProblemCase{"TooLong", kText, std::string(5000, 'a'), "longer"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AnswerRuleTableTest, FirstEnabledMatchAnswersInTableOrder) {
  AnswerRules rules =
      On({Rule(kText, "A", "first"), Rule(kText, "AB", "second"), Rule(kHex, "41 42", "third")});
  rules.rules[0].enabled = false;
  auto table = AnswerRuleTable::Build(rules);
  auto answer = table->Match(B("ABC"));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->rule, 1);
  EXPECT_EQ(*answer->bytes, B("second"));
  EXPECT_FALSE(table->Match(B("xyz")));

  rules.enabled = false;
  EXPECT_EQ(AnswerRuleTable::Build(rules), nullptr) << "the whole table off";
}

TEST(AnswerRuleTableTest, AnswersAreComposedOnceWithTheirOptions) {
  AnswerRule own = Rule(kText, "R", "01 03 00 00 00 02");
  own.asHex = true;
  own.options.checksum = ChecksumKind::kModbusCrc16;
  AnswerRule byEntry = Rule(kText, "E", "");
  byEntry.entry = "Reset";
  AnswerRule missing = Rule(kText, "M", "");
  missing.entry = "Nowhere";
  std::vector<std::string> problems;
  auto table = AnswerRuleTable::Build(
      On({own, byEntry, missing}),
      [](std::string_view name) -> std::optional<Bytes> {
        if (name == "Reset") return Bytes{0xAA, 0x55};
        return std::nullopt;
      },
      &problems);
  EXPECT_EQ(*table->Match(B("R"))->bytes, (Bytes{1, 3, 0, 0, 0, 2, 0xC4, 0x0B}));
  EXPECT_EQ(*table->Match(B("E"))->bytes, (Bytes{0xAA, 0x55}));
  EXPECT_FALSE(table->Match(B("M")));
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_NE(problems[0].find("\"Nowhere\""), std::string::npos);
}

// Each line's table holds only the rules of that line, in their order.
TEST(AnswerRuleTableTest, EachLineGetsOnlyItsOwnRules) {
  AnswerRules rules = On({Rule(kText, "X", "port"), Rule(kText, "X", "A"), Rule(kText, "X", "B"),
                          Rule(kText, "Y", "A too")});
  rules.rules[1].line = RuleLine::kA;
  rules.rules[2].line = RuleLine::kB;
  rules.rules[3].line = RuleLine::kA;
  const struct {
    RuleLine line;
    size_t size;
    int rule;
    std::string answer;
  } kCases[] = {
      {RuleLine::kPort, 1, 0, "port"}, {RuleLine::kA, 2, 1, "A"}, {RuleLine::kB, 1, 2, "B"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(std::string(RuleLineKey(c.line)));
    auto table = AnswerRuleTable::Build(rules, {}, nullptr, c.line);
    ASSERT_TRUE(table);
    EXPECT_EQ(table->Size(), c.size);
    auto answer = table->Match(B("X"));
    ASSERT_TRUE(answer);
    EXPECT_EQ(answer->rule, c.rule);
    EXPECT_EQ(*answer->bytes, B(c.answer));
  }
}

class AnswerRulesFileTest : public ::testing::Test {
 protected:
  testing::TempDir dir;
  std::filesystem::path file = dir / "Quorvel.ini";
};

TEST_F(AnswerRulesFileTest, RulesRoundTripWhateverTheirPatterns) {
  AnswerRule full = Rule(kHex, "01 03 ?? ??", "  spaced \"quoted\" ; not a comment ");
  full.entry = "Read = holding";
  full.asHex = true;
  full.options = {LineEnding::kCrLf, true, ChecksumKind::kModbusLrc};
  full.delayMs = kMaxAnswerDelayMs;
  AnswerRule bad = Rule(kRegex, "([", "x");
  bad.enabled = false;
  AnswerRules rules =
      On({full, bad, Rule(kText, std::string(3000, 'z'), "long")}, FrameBy::kEndByte);
  testing::WriteFile(file, "[Port]\nCOM=2\n");
  std::string problem;
  ASSERT_TRUE(SaveAnswerRules(rules, file, &problem)) << problem;
  LoadedAnswerRules loaded = LoadAnswerRules(file);
  EXPECT_EQ(loaded.rules, rules) << "nothing lost, bad patterns included";
  ASSERT_EQ(loaded.problems.size(), 2u);
  EXPECT_EQ(loaded.problems[0].rfind("Rule 2: the regular expression", 0), 0u);
  EXPECT_EQ(loaded.problems[1].rfind("Rule 3: the pattern is longer", 0), 0u);
  EXPECT_EQ(testing::ReadAll(file).rfind("[Port]\nCOM=2\n", 0), 0u);

  // Fewer rules later: the stale keys stay behind but are not read.
  rules.rules.resize(1);
  ASSERT_TRUE(SaveAnswerRules(rules, file));
  EXPECT_EQ(LoadAnswerRules(file).rules, rules);
}

TEST_F(AnswerRulesFileTest, HostileValuesReadAsUsableOnesAndAreNamed) {
  testing::WriteFile(file,
                     "[AnswerRules]\nEnabled=1\nFrames=sideways\nCount=100000\n"
                     "Rule1Match=glob\nRule1Pattern=*\nRule1DelayMs=-5\n"
                     "Rule2Pattern=ok\nRule2LineEnding=lfcr\nRule2Checksum=md5\n"
                     "Rule2DelayMs=99999999999\n");
  LoadedAnswerRules loaded = LoadAnswerRules(file);
  ASSERT_EQ(loaded.rules.rules.size(), static_cast<size_t>(kMaxAnswerRules));
  EXPECT_EQ(loaded.rules.frames, FrameBy::kBurst);
  const AnswerRule& first = loaded.rules.rules[0];
  EXPECT_FALSE(first.enabled) << "an unknown match kind turns its rule off";
  EXPECT_EQ(first.pattern, "*");
  EXPECT_EQ(first.delayMs, 0);
  const AnswerRule& second = loaded.rules.rules[1];
  EXPECT_EQ(second.options, SendOptions{});
  EXPECT_GE(second.delayMs, 0);
  EXPECT_LE(second.delayMs, kMaxAnswerDelayMs);
  EXPECT_GE(loaded.problems.size(), 6u);

  std::string problem;
  AnswerRules broken = On({Rule(kText, "a\nb", "x")});
  EXPECT_FALSE(SaveAnswerRules(broken, file, &problem));
  EXPECT_NE(problem.find("line break"), std::string::npos);
  EXPECT_EQ(LoadAnswerRules(file).rules.rules.size(), static_cast<size_t>(kMaxAnswerRules))
      << "a refused save leaves the file as it was";
}

// Rule<n>Line as stored, and the line its rule answers; a rule stored before
// it existed answers the port, as it always did.
TEST_F(AnswerRulesFileTest, EachRuleKeepsTheLineItAnswers) {
  const struct {
    const char* stored;  // null: no key
    RuleLine line;
    bool named;  // as a problem
  } kCases[] = {{nullptr, RuleLine::kPort, false},   {"port", RuleLine::kPort, false},
                {"A", RuleLine::kA, false},          {"B", RuleLine::kB, false},
                {"sideways", RuleLine::kPort, true}, {"a", RuleLine::kPort, true}};
  std::string text = "[AnswerRules]\nEnabled=1\nCount=" + std::to_string(std::size(kCases)) + "\n";
  for (size_t i = 0; i < std::size(kCases); ++i) {
    std::string n = std::to_string(i + 1);
    text += "Rule" + n + "Pattern=x\nRule" + n + "Content=y\n";
    if (kCases[i].stored) text += "Rule" + n + "Line=" + kCases[i].stored + "\n";
  }
  testing::WriteFile(file, text);
  LoadedAnswerRules loaded = LoadAnswerRules(file);
  ASSERT_EQ(loaded.rules.rules.size(), std::size(kCases));
  size_t named = 0;
  for (size_t i = 0; i < std::size(kCases); ++i) {
    SCOPED_TRACE(kCases[i].stored ? kCases[i].stored : "(none)");
    EXPECT_EQ(loaded.rules.rules[i].line, kCases[i].line);
    EXPECT_TRUE(loaded.rules.rules[i].enabled) << "an unknown line does not turn a rule off";
    if (!kCases[i].named) continue;
    ASSERT_LT(named, loaded.problems.size());
    EXPECT_EQ(loaded.problems[named++].rfind("Rule " + std::to_string(i + 1) + ": unknown line", 0),
              0u);
  }
  EXPECT_EQ(loaded.problems.size(), named);

  ASSERT_TRUE(SaveAnswerRules(loaded.rules, file));
  EXPECT_EQ(LoadAnswerRules(file).rules, loaded.rules);
  std::string saved = testing::ReadAll(file);
  EXPECT_NE(saved.find("Rule3Line=A\n"), std::string::npos) << saved;
  EXPECT_NE(saved.find("Rule5Line=port\n"), std::string::npos) << saved;
}

// The worker answering a device on a pseudo-terminal.
class RulesOnWorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(rig.Open(device.Path(), {9600, 8, kOneStopBit, kParityNone}));
    rig.StartWorker();
  }
  void TearDown() override { rig.worker.StopAndWait(); }

  void Install(const AnswerRules& rules) {
    InstallAnswerRules(state, AnswerRuleTable::Build(rules));
  }

  testing::PtyDevice device;
  testing::LineRig rig;
  TerminalState& state = rig.state;
  testing::RecordingWindow window{rig.state, rig.hub};
};

TEST_F(RulesOnWorkerTest, MatchingFrameGetsItsAnswerAndOthersNone) {
  Install(On({Rule(kHex, "01 03 ?? ??", "\\x01\\x03\\x02", 0), Rule(kText, "AT", "OK")}));
  device.Send(Bytes{0x01, 0x03, 0x00, 0x10});
  EXPECT_EQ(device.Receive(12), B("\\x01\\x03\\x02")) << "escapes are off for this answer";
  device.Send(B("nothing"));
  ASSERT_TRUE(testing::WaitForRx(rig.hub.counters, 11));
  device.Send(B("AT\r"));
  EXPECT_EQ(device.Receive(2), B("OK"));
  EXPECT_EQ(device.Drain(), Bytes{});
}

TEST_F(RulesOnWorkerTest, DelayedAnswerWaitsWhileTheWorkerKeepsReading) {
  Install(On({Rule(kText, "slow", "S", 400), Rule(kText, "fast", "F")}));
  device.Send(B("slow"));
  ASSERT_TRUE(testing::WaitForRx(rig.hub.counters, 4));
  device.Send(B("fast"));
  ASSERT_TRUE(testing::WaitForRx(rig.hub.counters, 8)) << "read during the delay";
  EXPECT_EQ(device.Receive(2), B("FS")) << "the undelayed answer goes first";
}

TEST_F(RulesOnWorkerTest, EndByteFramesGatherAcrossBursts) {
  {
    std::lock_guard guard(state.lock);
    state.frameEndText = "0D";
    state.frameEndByte = FrameEndByteOf("0D");
  }
  Install(On({Rule(kRegex, "^AB+C\\r$", "yes")}, FrameBy::kEndByte));
  device.Send(B("AB"));
  ASSERT_TRUE(testing::WaitForRx(rig.hub.counters, 2));
  device.Send(B("BC\r"));
  EXPECT_EQ(device.Receive(3), B("yes"));
}

TEST_F(RulesOnWorkerTest, AutoReplyAnswersFirstAndAlone) {
  {
    std::lock_guard guard(state.lock);
    state.sendText = "reply";
    state.replyAfterFrame = 1;
    state.frameEndText = "0D";
    state.frameEndByte = FrameEndByteOf("0D");
  }
  Install(On({Rule(kText, "Q", "rule")}));
  device.Send(B("Q\r"));
  EXPECT_EQ(device.Receive(5), B("reply"));
  device.Send(B("Q"));  // no frame end: the auto-reply waits, the rule answers
  EXPECT_EQ(device.Receive(4), B("rule"));
  EXPECT_EQ(device.Drain(), Bytes{});
}

}  // namespace
}  // namespace quorvel
