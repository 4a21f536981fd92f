// Answer rules on any pattern and any frame: a pattern is usable exactly when
// it gets into the table, matching never fails, text and hex rules match as
// plain references do, and reading escapes never grows a text.
// Input: a kind byte (text, hex, regex by its value mod 3), the pattern up to
// the first zero byte, then the frame.
#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "sending/answer_rules.h"

namespace {

using quorvel::MatchKind;

int Digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  return (c | 0x20) - 'a' + 10;
}

// Hex pattern by hand: pairs of digits or "??", spaces and commas between.
bool HexMatches(const std::string& pattern, const std::vector<uint8_t>& frame) {
  std::vector<char> packed;
  for (char c : pattern) {
    if (c != ' ' && c != '\t' && c != ',') packed.push_back(c);
  }
  if (packed.size() / 2 > frame.size()) return false;
  for (size_t i = 0; i + 1 < packed.size(); i += 2) {
    if (packed[i] == '?') continue;
    if (Digit(packed[i]) * 16 + Digit(packed[i + 1]) != frame[i / 2]) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto kind = static_cast<MatchKind>(data[0] % 3);
  const uint8_t* end = data + size;
  const uint8_t* zero = std::find(data + 1, end, 0);
  std::string pattern(data + 1, zero);
  std::vector<uint8_t> frame(zero == end ? end : zero + 1, end);

  FUZZ_CHECK(quorvel::ReadEscapes(pattern).size() <= pattern.size());

  quorvel::AnswerRule rule;
  rule.match = kind;
  rule.pattern = pattern;
  rule.content.push_back('!');  // not = "!": GCC 12 warns falsely (-Wrestrict) on that
  std::vector<std::string> problems;
  auto table =
      quorvel::AnswerRuleTable::Build({true, quorvel::FrameBy::kBurst, {rule}}, {}, &problems);
  bool usable = quorvel::PatternProblem(kind, pattern).empty();
  FUZZ_CHECK(usable == problems.empty());
  bool matched = table->Match(frame).has_value();
  if (!usable) FUZZ_CHECK(!matched);
  if (usable && kind == MatchKind::kText) {
    std::vector<uint8_t> needle = quorvel::ReadEscapes(pattern);
    FUZZ_CHECK(matched == (std::search(frame.begin(), frame.end(), needle.begin(), needle.end()) !=
                           frame.end()));
  }
  if (usable && kind == MatchKind::kHex) FUZZ_CHECK(matched == HexMatches(pattern, frame));
  return 0;
}
