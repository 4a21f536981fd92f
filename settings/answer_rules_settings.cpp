#include "settings/answer_rules_settings.h"

#include <algorithm>

#include "settings/profile_file.h"

namespace quorvel {
namespace {

constexpr char kSection[] = "AnswerRules";

std::string Key(size_t index, const char* field) {
  return "Rule" + std::to_string(index + 1) + field;
}

class RuleReader {
 public:
  RuleReader(const ProfileDocument& document, size_t index, std::vector<std::string>& problems)
      : document_(document), index_(index), problems_(problems) {}

  std::string Text(const char* field) const {
    return document_.Get(kSection, Key(index_, field)).value_or("");
  }
  int Integer(const char* field, int defaultValue) const {
    return ProfileInteger(document_.Get(kSection, Key(index_, field)), defaultValue);
  }
  void Problem(const std::string& text) {
    problems_.push_back("Rule " + std::to_string(index_ + 1) + ": " + text + ".");
  }

  AnswerRule Read() {
    AnswerRule rule;
    rule.enabled = Integer("On", 1) != 0;
    // Rules stored before a rule could answer a bridge have no line: the port.
    std::string line = Text("Line");
    rule.line = RuleLineFromKey(line).value_or(RuleLine::kPort);
    if (!line.empty() && !RuleLineFromKey(line)) {
      Problem("unknown line \"" + line + "\", the rule answers the port");
    }
    rule.pattern = Text("Pattern");
    std::string match = Text("Match");
    if (auto kind = MatchKindFromKey(match.empty() ? "text" : match)) {
      rule.match = *kind;
    } else {
      rule.enabled = false;
      Problem("unknown match kind \"" + match + "\", so the rule is off");
    }
    if (std::string problem = PatternProblem(rule.match, rule.pattern); !problem.empty()) {
      Problem(problem);
    }
    rule.entry = Text("Entry");
    rule.content = Text("Content");
    rule.asHex = Integer("Hex", 0) != 0;
    rule.options.ending = Known(LineEndingFromKey(Text("LineEnding")), "line ending", "LineEnding");
    rule.options.escapes = Integer("Escapes", 0) != 0;
    rule.options.checksum = Known(ChecksumFromKey(Text("Checksum")), "check", "Checksum");
    int delay = Integer("DelayMs", 0);
    rule.delayMs = std::clamp(delay, 0, kMaxAnswerDelayMs);
    if (rule.delayMs != delay)
      Problem("the delay " + std::to_string(delay) + " ms is out of range");
    return rule;
  }

 private:
  // A stored choice, or none (with a word) when it is not one of ours.
  template <typename T>
  T Known(std::optional<T> value, const char* what, const char* field) {
    std::string text = Text(field);
    if (value || text.empty()) return value.value_or(T{});
    Problem(std::string("unknown ") + what + " \"" + text + "\", none is used");
    return T{};
  }

  const ProfileDocument& document_;
  size_t index_;
  std::vector<std::string>& problems_;
};

void AddRule(std::vector<ProfileValue>& values, size_t index, const AnswerRule& rule) {
  auto add = [&](const char* field, std::string value) {
    values.push_back({kSection, Key(index, field), std::move(value)});
  };
  add("On", rule.enabled ? "1" : "0");
  add("Match", std::string(MatchKindKey(rule.match)));
  add("Pattern", rule.pattern);
  add("Entry", rule.entry);
  add("Content", rule.content);
  add("Hex", rule.asHex ? "1" : "0");
  add("LineEnding", std::string(InfoOf(rule.options.ending).key));
  add("Escapes", rule.options.escapes ? "1" : "0");
  add("Checksum", std::string(InfoOf(rule.options.checksum).key));
  add("DelayMs", std::to_string(rule.delayMs));
  add("Line", std::string(RuleLineKey(rule.line)));
}

bool HasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

}  // namespace

LoadedAnswerRules LoadAnswerRules(const std::filesystem::path& file) {
  std::string text;
  ReadProfileFile(file, text);
  ProfileDocument document(text);
  LoadedAnswerRules loaded;
  AnswerRules& rules = loaded.rules;
  rules.enabled = ProfileInteger(document.Get(kSection, "Enabled"), 0) != 0;
  std::string frames = document.Get(kSection, "Frames").value_or("");
  rules.frames = FrameByFromKey(frames).value_or(FrameBy::kBurst);
  if (!frames.empty() && !FrameByFromKey(frames)) {
    loaded.problems.push_back("Unknown way of cutting frames \"" + frames +
                              "\", each burst is a frame.");
  }
  int count = std::max(ProfileInteger(document.Get(kSection, "Count"), 0), 0);
  if (count > kMaxAnswerRules) {
    loaded.problems.push_back("Only the first " + std::to_string(kMaxAnswerRules) + " of " +
                              std::to_string(count) + " rules are read.");
    count = kMaxAnswerRules;
  }
  for (size_t i = 0; i < static_cast<size_t>(count); ++i) {
    rules.rules.push_back(RuleReader(document, i, loaded.problems).Read());
  }
  return loaded;
}

bool SaveAnswerRules(const AnswerRules& rules, const std::filesystem::path& file,
                     std::string* problem) {
  auto fail = [&](std::string text) {
    if (problem) *problem = std::move(text);
    return false;
  };
  if (rules.rules.size() > static_cast<size_t>(kMaxAnswerRules)) {
    return fail("At most " + std::to_string(kMaxAnswerRules) + " rules can be kept.");
  }
  std::vector<ProfileValue> values = {
      {kSection, "Enabled", rules.enabled ? "1" : "0"},
      {kSection, "Frames", std::string(FrameByKey(rules.frames))},
      {kSection, "Count", std::to_string(rules.rules.size())},
  };
  for (size_t i = 0; i < rules.rules.size(); ++i) {
    const AnswerRule& rule = rules.rules[i];
    if (HasLineBreak(rule.pattern) || HasLineBreak(rule.content) || HasLineBreak(rule.entry)) {
      return fail("Rule " + std::to_string(i + 1) +
                  " holds a line break, which the settings file cannot keep; write \\r or \\n "
                  "with escapes on instead.");
    }
    AddRule(values, i, rule);
  }
  bool saved =
      EditProfileFile(file, [&](ProfileDocument& document) { return document.SetAll(values); });
  return saved || fail("The answer rules could not be written to " + file.string() + ".");
}

}  // namespace quorvel
