// The three kinds of pattern a script's expect waits for, parsed once, and
// the matcher that finds them in received bytes.
//
// - a Lua pattern, matched by Lua's own string.find (not the script's, which
//   the script may have replaced) in a Lua state of the matcher's own, on a
//   copy of the bytes: bytes from the device are only ever the subject of a
//   search, never code;
// - {regex="..."}: an ECMAScript regular expression on the answer rules'
//   matcher (sending/answer_rules.h): polynomial time whatever the
//   pattern, no back-references;
// - {hex="06 ?? 0D"}: bytes and "??" wildcards, found anywhere.
//
// Received bytes come in pieces, so a search looks again each time more
// arrive, at the new bytes and the Span() before them: a match longer than
// its kind's span can be missed when its bytes came apart (a hex match is
// never longer than its pattern). "^" (a Lua pattern's, a regex's) holds at
// the mark, where the search of an expect begins.
//
// Threads: a matcher belongs to one thread (the script's); patterns are
// values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <regex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct lua_State;

namespace quorvel {

inline constexpr size_t kLuaMatchSpan = 64u << 10;
inline constexpr size_t kRegexMatchSpan = 8u << 10;

class ScriptPattern {
 public:
  enum class Kind { kLua, kRegex, kHex };

  // The pattern, or nothing with what is wrong in `problem` (a regex that
  // does not compile, a hex text that is not bytes and "??", an empty or
  // overlong pattern). A Lua pattern's own faults ("malformed pattern") show
  // when it is matched, as in Lua.
  static std::optional<ScriptPattern> Lua(std::string_view pattern, std::string& problem);
  static std::optional<ScriptPattern> Regex(std::string_view pattern, std::string& problem);
  static std::optional<ScriptPattern> Hex(std::string_view pattern, std::string& problem);

  Kind kind() const { return kind_; }
  const std::string& text() const { return text_; }
  // How it reads in a step's name: `login:`, `{regex="T=(\d+)"}`, `{hex="06 ?? 0D"}`.
  std::string Describe() const;
  // How far before the bytes searched last a match may begin.
  size_t Span() const;
  // Whether it can only match at the mark (a Lua pattern starting with "^").
  bool Anchored() const { return kind_ == Kind::kLua && !text_.empty() && text_[0] == '^'; }

  const std::vector<uint8_t>& bytes() const { return bytes_; }  // hex
  const std::vector<bool>& wild() const { return wild_; }       // hex: "??"
  const std::regex& regex() const { return regex_; }

 private:
  Kind kind_ = Kind::kLua;
  std::string text_;
  std::vector<uint8_t> bytes_;
  std::vector<bool> wild_;
  std::regex regex_;
};

// One capture: text, a position (a Lua "()" capture, 1-based from the
// subject's start), or a regex group left out of the match.
struct PatternCapture {
  enum class Kind { kText, kPosition, kNone };
  Kind kind = Kind::kText;
  std::string text;
  int64_t position = 0;
  bool operator==(const PatternCapture&) const = default;
};

struct PatternMatch {
  size_t begin = 0;  // in the subject
  size_t end = 0;
  std::vector<PatternCapture> captures;  // a hex pattern's: each run of "??"
};

class PatternMatcher {
 public:
  PatternMatcher();  // a Lua state of its own for Lua patterns
  ~PatternMatcher();
  PatternMatcher(const PatternMatcher&) = delete;
  PatternMatcher& operator=(const PatternMatcher&) = delete;

  // The first match of `pattern` in `subject` that begins at `from` or
  // later; the bytes before `from` are context only ("^" does not hold past
  // the subject's start, a frontier or "\b" sees the byte before). `more`
  // says bytes follow the subject, so "$" does not hold at its end. Nothing
  // when there is none, or when matching failed, with why in `error` (a
  // malformed Lua pattern, a regex too complex for the matcher's limits).
  std::optional<PatternMatch> Find(const ScriptPattern& pattern, std::span<const uint8_t> subject,
                                   size_t from, bool more, std::string& error);

 private:
  std::optional<PatternMatch> FindLua(const ScriptPattern& pattern,
                                      std::span<const uint8_t> subject, size_t from,
                                      std::string& error);
  lua_State* lua_ = nullptr;
  int find_ = 0;  // string.find, in the state's registry
};

}  // namespace quorvel
