// Answer rules: "when a received frame matches P, send S", checked in order
// by the receive worker on each completed frame; the first match answers.
//
// A pattern is one of:
// - text: found anywhere in the frame; escapes (\r \n \t \\ \xHH) are read in
//   it as in a send, so "\r\n" or "\x00" can be matched;
// - hex: bytes and "??" wildcards ("01 03 ?? ??", "0103????"), matched
//   against the start of the frame, so a frame may carry more (its CRC);
// - regex: an ECMAScript regular expression found anywhere in the frame's
//   bytes as text (at most kRegexInputLimit of them, the frame's start), in
//   time linear in the frame whatever the pattern; back-references are not
//   supported. A match the matcher gives up on counts as no match.
// An answer is a send-list entry (by name, composed when the table is built)
// or content of its own with its options, sent after an optional delay.
//
// A rule answers one line: the window's first port, or one direction of a
// bridge (what side A read, answered on A; or the same for B). Each line's
// worker gets a table of its own rules only.
//
// The worker sees the rules only as an immutable AnswerRuleTable that the UI
// thread builds and swaps in whole (InstallAnswerRules), so matching never
// waits for the window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/terminal_state.h"
#include "sending/send_composer.h"

namespace quorvel {

inline constexpr int kMaxAnswerRules = 100;
inline constexpr int kMaxAnswerDelayMs = 60'000;
inline constexpr size_t kMaxPatternLength = 1000;
inline constexpr size_t kRegexInputLimit = 2048;  // above any frame: the worker keeps 2,000

enum class MatchKind : int { kText = 0, kHex, kRegex };
// How the worker cuts what it receives into frames for the rules.
enum class FrameBy : int {
  kBurst = 0,  // each burst: what arrived before the line fell quiet
  kEndByte,    // up to the window's frame-end byte, as the auto-reply does
};

// Which line a rule hears and answers.
enum class RuleLine : int {
  kPort = 0,  // the window's first port
  kA,         // what a bridge's side A read, answered on A
  kB,         // the same for side B
};

struct AnswerRule {
  bool enabled = true;
  RuleLine line = RuleLine::kPort;
  MatchKind match = MatchKind::kText;
  std::string pattern;
  std::string entry;    // a send-list entry's name; "" to send `content`
  std::string content;  // text, or hex digits when asHex
  bool asHex = false;
  SendOptions options;  // line ending, escapes and check of `content`
  int delayMs = 0;      // 0 to kMaxAnswerDelayMs
  bool operator==(const AnswerRule&) const = default;
};

struct AnswerRules {
  bool enabled = false;
  FrameBy frames = FrameBy::kBurst;
  std::vector<AnswerRule> rules;
  bool operator==(const AnswerRules&) const = default;
};

// The stored names of the kinds, and back (nothing for an unknown name).
std::string_view MatchKindKey(MatchKind kind);
std::optional<MatchKind> MatchKindFromKey(std::string_view key);
std::string_view FrameByKey(FrameBy frames);
std::optional<FrameBy> FrameByFromKey(std::string_view key);
std::string_view RuleLineKey(RuleLine line);
std::optional<RuleLine> RuleLineFromKey(std::string_view key);

// What is wrong with a pattern, for the user; "" when it is usable.
std::string PatternProblem(MatchKind kind, std::string_view pattern);

// A hex pattern's bytes, with `wild` true where it says "??"; what is wrong
// with it, for the user, when it is no pattern (then the vectors hold what
// was read before the fault). Pairs of hex digits or "??", spaces, tabs and
// commas between runs.
std::string ParseHexPattern(std::string_view pattern, std::vector<uint8_t>& bytes,
                            std::vector<bool>& wild);

// `pattern` compiled for std::regex_match with the checks and on the
// polynomial-time matcher the rules use, so that another matcher of
// received bytes (a script's expect) finds what a rule would; what is wrong
// with it when it cannot be used. `regex` matches "anything, then the
// pattern as sub-match 1, then anything", the pattern's own groups from 2
// on, and the leftmost start wins as in a search.
std::string CompileRegexSearch(std::string_view pattern, std::regex& regex);

// The bytes of a send-list entry by its name, or nothing when there is none.
using EntryLookup = std::function<std::optional<std::vector<uint8_t>>(std::string_view name)>;

class AnswerRuleTable {
 public:
  struct Answer {
    int rule;  // its index in AnswerRules::rules
    const std::vector<uint8_t>* bytes;
    int delayMs;
  };

  // The table of the rules of `rules` that answer `line`; null when they are
  // off. Rules switched off, with an unusable pattern or naming an entry
  // `lookup` does not know are left out; `problems` (when given) gets a line
  // for each of the last two kinds among the rules of `line`.
  static std::shared_ptr<const AnswerRuleTable> Build(const AnswerRules& rules,
                                                      const EntryLookup& lookup = {},
                                                      std::vector<std::string>* problems = nullptr,
                                                      RuleLine line = RuleLine::kPort);

  // The first rule that matches `frame`. Any thread.
  std::optional<Answer> Match(std::span<const uint8_t> frame) const;
  FrameBy Frames() const { return frames_; }
  // How many rules can answer.
  size_t Size() const { return rules_.size(); }

 private:
  struct Compiled {
    int rule;
    MatchKind match;
    std::vector<uint8_t> bytes;  // text to find, or hex bytes
    std::vector<bool> wild;      // hex: which bytes are "??"
    std::regex regex;
    std::vector<uint8_t> answer;
    int delayMs;
  };
  static bool Matches(const Compiled& rule, std::span<const uint8_t> frame);

  FrameBy frames_ = FrameBy::kBurst;
  std::vector<Compiled> rules_;
};

// Hands `table` (null: rules off) to the worker of `state`. Any thread; lock
// not held.
void InstallAnswerRules(TerminalState& state, std::shared_ptr<const AnswerRuleTable> table);

}  // namespace quorvel
