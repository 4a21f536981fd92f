#include "sending/answer_rules.h"

#include <algorithm>
#include <cctype>

namespace quorvel {
namespace {

constexpr struct {
  MatchKind kind;
  std::string_view key;
} kMatchKeys[] = {
    {MatchKind::kText, "text"}, {MatchKind::kHex, "hex"}, {MatchKind::kRegex, "regex"}};

constexpr struct {
  FrameBy frames;
  std::string_view key;
} kFrameKeys[] = {{FrameBy::kBurst, "burst"}, {FrameBy::kEndByte, "end-byte"}};

constexpr struct {
  RuleLine line;
  std::string_view key;
} kLineKeys[] = {{RuleLine::kPort, "port"}, {RuleLine::kA, "A"}, {RuleLine::kB, "B"}};

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool IsSeparator(char c) {
  return c == ' ' || c == '\t' || c == ',';
}

// libstdc++ reads the numbers of repeats ("{n,m}") and of back-references
// ("\\n") into a long without a bound, so a number of 19 digits overflows
// there; such numbers are refused first. Any repeat count of 7 digits is past
// the matcher's limit of states anyway.
bool HasOverlongNumber(std::string_view pattern) {
  constexpr size_t kMaxDigits = 6;
  auto digits = [&](size_t from) {
    size_t end = from;
    while (end < pattern.size() && pattern[end] >= '0' && pattern[end] <= '9') ++end;
    return end - from;
  };
  bool inBraces = false;
  for (size_t i = 0; i < pattern.size(); ++i) {
    char c = pattern[i];
    if (c == '\\') {
      if (digits(i + 1) > kMaxDigits) return true;
      ++i;  // the escaped character is no brace
    } else if (c == '{' || c == '}') {
      inBraces = c == '{';
    } else if (inBraces && digits(i) > kMaxDigits) {
      return true;
    }
  }
  return false;
}

// The pattern, once it compiles on its own (so it cannot reach outside the
// group it is put in), is searched for as a whole match of "anything, the
// pattern, anything" on the automaton libstdc++ runs in polynomial time: a
// search by backtracking, tried at every start, can take minutes on a
// pattern like "(a*)*b", and the worker must not stall on a frame. The price
// is that back-references are refused.
std::string CompileWrapped(std::string_view pattern, std::string_view before,
                           std::string_view after, std::regex& regex) {
  constexpr auto kFlags = std::regex::ECMAScript | std::regex_constants::__polynomial;
  if (HasOverlongNumber(pattern)) return "the regular expression holds a number too long to use";
  try {
    std::regex alone(pattern.begin(), pattern.end(), kFlags);
    regex = std::regex(std::string(before) + std::string(pattern) + std::string(after), kFlags);
  } catch (const std::regex_error& error) {
    return std::string("the regular expression is not valid: ") + error.what();
  }
  return "";
}

std::string RegexProblem(std::string_view pattern, std::regex& regex) {
  return CompileWrapped(pattern, "[\\s\\S]*(?:", ")[\\s\\S]*", regex);
}

// Compiles `pattern` into `rule`; the problem when it cannot be used.
std::string CompilePattern(MatchKind kind, std::string_view pattern, std::vector<uint8_t>& bytes,
                           std::vector<bool>& wild, std::regex& regex) {
  if (pattern.size() > kMaxPatternLength) {
    return "the pattern is longer than " + std::to_string(kMaxPatternLength) + " characters";
  }
  switch (kind) {
    case MatchKind::kText:
      bytes = ReadEscapes(pattern);
      return bytes.empty() ? "the text pattern is empty" : "";
    case MatchKind::kHex:
      return ParseHexPattern(pattern, bytes, wild);
    case MatchKind::kRegex:
      return RegexProblem(pattern, regex);
  }
  return "unknown pattern kind";
}

}  // namespace

std::string ParseHexPattern(std::string_view pattern, std::vector<uint8_t>& bytes,
                            std::vector<bool>& wild) {
  size_t i = 0;
  while (i < pattern.size()) {
    if (IsSeparator(pattern[i])) {
      ++i;
      continue;
    }
    size_t end = i;
    while (end < pattern.size() && !IsSeparator(pattern[end])) ++end;
    std::string_view run = pattern.substr(i, end - i);
    if (run.size() % 2 != 0)
      return "\"" + std::string(run) + "\" is not whole bytes (two digits each)";
    for (size_t pair = 0; pair < run.size(); pair += 2) {
      if (run[pair] == '?' && run[pair + 1] == '?') {
        bytes.push_back(0);
        wild.push_back(true);
        continue;
      }
      int high = HexDigit(run[pair]);
      int low = HexDigit(run[pair + 1]);
      if (high < 0 || low < 0) {
        return "\"" + std::string(run.substr(pair, 2)) + "\" is neither a hex byte nor ??";
      }
      bytes.push_back(static_cast<uint8_t>(high * 16 + low));
      wild.push_back(false);
    }
    i = end;
  }
  if (bytes.empty()) return "the hex pattern has no bytes";
  return "";
}

std::string CompileRegexSearch(std::string_view pattern, std::regex& regex) {
  // The lazy start makes the first place the pattern matches the one the
  // sub-match reports; the pattern compiled alone first keeps it inside its
  // group, as for a rule.
  return CompileWrapped(pattern, "[\\s\\S]*?(", ")[\\s\\S]*", regex);
}

std::string_view MatchKindKey(MatchKind kind) {
  for (const auto& entry : kMatchKeys) {
    if (entry.kind == kind) return entry.key;
  }
  return kMatchKeys[0].key;
}

std::optional<MatchKind> MatchKindFromKey(std::string_view key) {
  for (const auto& entry : kMatchKeys) {
    if (entry.key == key) return entry.kind;
  }
  return std::nullopt;
}

std::string_view FrameByKey(FrameBy frames) {
  for (const auto& entry : kFrameKeys) {
    if (entry.frames == frames) return entry.key;
  }
  return kFrameKeys[0].key;
}

std::optional<FrameBy> FrameByFromKey(std::string_view key) {
  for (const auto& entry : kFrameKeys) {
    if (entry.key == key) return entry.frames;
  }
  return std::nullopt;
}

std::string_view RuleLineKey(RuleLine line) {
  for (const auto& entry : kLineKeys) {
    if (entry.line == line) return entry.key;
  }
  return kLineKeys[0].key;
}

std::optional<RuleLine> RuleLineFromKey(std::string_view key) {
  for (const auto& entry : kLineKeys) {
    if (entry.key == key) return entry.line;
  }
  return std::nullopt;
}

std::string PatternProblem(MatchKind kind, std::string_view pattern) {
  std::vector<uint8_t> bytes;
  std::vector<bool> wild;
  std::regex regex;
  return CompilePattern(kind, pattern, bytes, wild, regex);
}

std::shared_ptr<const AnswerRuleTable> AnswerRuleTable::Build(const AnswerRules& rules,
                                                              const EntryLookup& lookup,
                                                              std::vector<std::string>* problems,
                                                              RuleLine line) {
  if (!rules.enabled) return nullptr;
  auto table = std::make_shared<AnswerRuleTable>();
  table->frames_ = rules.frames;
  auto report = [&](size_t index, const std::string& problem) {
    if (problems) problems->push_back("Rule " + std::to_string(index + 1) + ": " + problem + ".");
  };
  for (size_t i = 0; i < rules.rules.size() && i < static_cast<size_t>(kMaxAnswerRules); ++i) {
    const AnswerRule& rule = rules.rules[i];
    if (!rule.enabled || rule.line != line) continue;
    Compiled compiled{static_cast<int>(i),
                      rule.match,
                      {},
                      {},
                      {},
                      {},
                      std::clamp(rule.delayMs, 0, kMaxAnswerDelayMs)};
    std::string problem =
        CompilePattern(rule.match, rule.pattern, compiled.bytes, compiled.wild, compiled.regex);
    if (!problem.empty()) {
      report(i, problem);
      continue;
    }
    if (rule.entry.empty()) {
      compiled.answer = ComposeSend(rule.content, rule.asHex, rule.options);
    } else if (auto bytes = lookup ? lookup(rule.entry) : std::nullopt) {
      compiled.answer = std::move(*bytes);
    } else {
      report(i, "there is no send-list entry named \"" + rule.entry + "\"");
      continue;
    }
    table->rules_.push_back(std::move(compiled));
  }
  return table;
}

bool AnswerRuleTable::Matches(const Compiled& rule, std::span<const uint8_t> frame) {
  switch (rule.match) {
    case MatchKind::kText:
      return std::search(frame.begin(), frame.end(), rule.bytes.begin(), rule.bytes.end()) !=
             frame.end();
    case MatchKind::kHex:
      if (frame.size() < rule.bytes.size()) return false;
      for (size_t i = 0; i < rule.bytes.size(); ++i) {
        if (!rule.wild[i] && frame[i] != rule.bytes[i]) return false;
      }
      return true;
    case MatchKind::kRegex: {
      auto begin = reinterpret_cast<const char*>(frame.data());
      size_t length = std::min(frame.size(), kRegexInputLimit);
      try {
        return std::regex_match(begin, begin + length, rule.regex);
      } catch (const std::regex_error&) {
        return false;  // too complex for the matcher: taken as no match
      }
    }
  }
  return false;
}

std::optional<AnswerRuleTable::Answer> AnswerRuleTable::Match(
    std::span<const uint8_t> frame) const {
  for (const Compiled& rule : rules_) {
    if (Matches(rule, frame)) return Answer{rule.rule, &rule.answer, rule.delayMs};
  }
  return std::nullopt;
}

void InstallAnswerRules(TerminalState& state, std::shared_ptr<const AnswerRuleTable> table) {
  {
    std::lock_guard guard(state.lock);
    state.answerRules.swap(table);
  }
  // The old table, if this was its last holder, goes here, outside the lock.
  table.reset();
  state.FrameRulesChanged();
}

}  // namespace quorvel
