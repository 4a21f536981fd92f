#include "script/script_pattern.h"

#include <lua.hpp>

#include <algorithm>

#include "sending/answer_rules.h"

namespace quorvel {
namespace {

constexpr size_t kDescribedLength = 60;

std::string Shortened(std::string_view text) {
  if (text.size() <= kDescribedLength) return std::string(text);
  return std::string(text.substr(0, kDescribedLength - 3)) + "...";
}

// The first bounds every kind shares; "" when they hold.
std::string CommonProblem(std::string_view pattern) {
  if (pattern.empty()) return "the pattern is empty";
  if (pattern.size() > kMaxPatternLength) {
    return "the pattern is longer than " + std::to_string(kMaxPatternLength) + " characters";
  }
  return "";
}

// What the protected call hands string.find.
struct LuaFindCall {
  int find;
  const char* subject;
  size_t size;
  const std::string* pattern;
  lua_Integer init;
};

// Runs string.find(subject, pattern, init) and leaves its results on the
// stack. Called through lua_pcall only: every allocation here may raise.
int ProtectedFind(lua_State* lua) {
  auto* call = static_cast<LuaFindCall*>(lua_touserdata(lua, 1));
  lua_rawgeti(lua, LUA_REGISTRYINDEX, call->find);
  lua_pushlstring(lua, call->subject, call->size);
  lua_pushlstring(lua, call->pattern->data(), call->pattern->size());
  lua_pushinteger(lua, call->init);
  lua_call(lua, 3, LUA_MULTRET);
  return lua_gettop(lua) - 1;
}

}  // namespace

std::optional<ScriptPattern> ScriptPattern::Lua(std::string_view pattern, std::string& problem) {
  problem = CommonProblem(pattern);
  if (!problem.empty()) return std::nullopt;
  ScriptPattern made;
  made.kind_ = Kind::kLua;
  made.text_ = pattern;
  return made;
}

std::optional<ScriptPattern> ScriptPattern::Regex(std::string_view pattern, std::string& problem) {
  problem = CommonProblem(pattern);
  if (!problem.empty()) return std::nullopt;
  ScriptPattern made;
  made.kind_ = Kind::kRegex;
  made.text_ = pattern;
  problem = CompileRegexSearch(pattern, made.regex_);
  if (!problem.empty()) return std::nullopt;
  return made;
}

std::optional<ScriptPattern> ScriptPattern::Hex(std::string_view pattern, std::string& problem) {
  problem = CommonProblem(pattern);
  if (!problem.empty()) return std::nullopt;
  ScriptPattern made;
  made.kind_ = Kind::kHex;
  made.text_ = pattern;
  problem = ParseHexPattern(pattern, made.bytes_, made.wild_);
  if (!problem.empty()) return std::nullopt;
  return made;
}

std::string ScriptPattern::Describe() const {
  switch (kind_) {
    case Kind::kLua:
      return Shortened(text_);
    case Kind::kRegex:
      return "{regex=\"" + Shortened(text_) + "\"}";
    case Kind::kHex:
      return "{hex=\"" + Shortened(text_) + "\"}";
  }
  return text_;
}

size_t ScriptPattern::Span() const {
  switch (kind_) {
    case Kind::kLua:
      return kLuaMatchSpan;
    case Kind::kRegex:
      return kRegexMatchSpan;
    case Kind::kHex:
      return bytes_.size();
  }
  return 0;
}

PatternMatcher::PatternMatcher() {
  lua_ = luaL_newstate();
  if (!lua_) return;
  // Only the string library: this state runs nothing but string.find.
  luaL_requiref(lua_, LUA_STRLIBNAME, luaopen_string, 0);
  lua_getfield(lua_, -1, "find");
  find_ = luaL_ref(lua_, LUA_REGISTRYINDEX);
  lua_settop(lua_, 0);
}

PatternMatcher::~PatternMatcher() {
  if (lua_) lua_close(lua_);
}

std::optional<PatternMatch> PatternMatcher::Find(const ScriptPattern& pattern,
                                                 std::span<const uint8_t> subject, size_t from,
                                                 bool more, std::string& error) {
  error.clear();
  if (from > subject.size()) return std::nullopt;
  switch (pattern.kind()) {
    case ScriptPattern::Kind::kLua:
      return FindLua(pattern, subject, from, error);
    case ScriptPattern::Kind::kRegex: {
      auto begin = reinterpret_cast<const char*>(subject.data());
      auto flags = std::regex_constants::match_default;
      if (from > 0) flags |= std::regex_constants::match_prev_avail;
      if (more) flags |= std::regex_constants::match_not_eol;
      std::cmatch match;
      try {
        if (!std::regex_match(begin + from, begin + subject.size(), match, pattern.regex(), flags))
          return std::nullopt;
      } catch (const std::regex_error& fault) {
        error = std::string("the regular expression is too complex to match: ") + fault.what();
        return std::nullopt;
      }
      PatternMatch found;
      found.begin = from + static_cast<size_t>(match.position(1));
      found.end = found.begin + static_cast<size_t>(match.length(1));
      for (size_t group = 2; group < match.size(); ++group) {
        if (!match[group].matched) {
          found.captures.push_back({PatternCapture::Kind::kNone, {}, 0});
        } else {
          found.captures.push_back({PatternCapture::Kind::kText, match[group].str(), 0});
        }
      }
      return found;
    }
    case ScriptPattern::Kind::kHex: {
      const auto& bytes = pattern.bytes();
      const auto& wild = pattern.wild();
      size_t length = bytes.size();
      for (size_t at = from; at + length <= subject.size(); ++at) {
        size_t i = 0;
        while (i < length && (wild[i] || subject[at + i] == bytes[i])) ++i;
        if (i < length) continue;
        PatternMatch found{at, at + length, {}};
        for (size_t run = 0; run < length; ++run) {
          if (!wild[run] || (run > 0 && wild[run - 1])) continue;
          size_t runEnd = run;
          while (runEnd < length && wild[runEnd]) ++runEnd;
          found.captures.push_back(
              {PatternCapture::Kind::kText,
               std::string(subject.begin() + at + run, subject.begin() + at + runEnd), 0});
        }
        return found;
      }
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::optional<PatternMatch> PatternMatcher::FindLua(const ScriptPattern& pattern,
                                                    std::span<const uint8_t> subject, size_t from,
                                                    std::string& error) {
  if (!lua_) {
    error = "no Lua state could be made for matching";
    return std::nullopt;
  }
  // One byte of context before `from` gives a frontier (%f) the byte it
  // looks back at; string.find anchors "^" at `init`, and an anchored
  // pattern is only ever searched from the mark.
  size_t context = from > 0 ? from - 1 : 0;
  LuaFindCall call{find_, reinterpret_cast<const char*>(subject.data()) + context,
                   subject.size() - context, &pattern.text(),
                   static_cast<lua_Integer>(from - context + 1)};
  lua_settop(lua_, 0);
  lua_pushcfunction(lua_, ProtectedFind);
  lua_pushlightuserdata(lua_, &call);
  int status = lua_pcall(lua_, 1, LUA_MULTRET, 0);
  std::optional<PatternMatch> found;
  if (status != LUA_OK) {
    const char* message = lua_tostring(lua_, -1);
    error = message ? message : "the pattern could not be matched";
  } else if (lua_gettop(lua_) >= 2 && lua_isinteger(lua_, 1)) {
    found.emplace();
    found->begin = context + static_cast<size_t>(lua_tointeger(lua_, 1) - 1);
    found->end = context + static_cast<size_t>(lua_tointeger(lua_, 2));
    for (int i = 3; i <= lua_gettop(lua_); ++i) {
      if (lua_type(lua_, i) == LUA_TNUMBER) {
        int64_t position = static_cast<int64_t>(context) + lua_tointeger(lua_, i);
        found->captures.push_back({PatternCapture::Kind::kPosition, {}, position});
      } else {
        size_t length = 0;
        const char* text = lua_tolstring(lua_, i, &length);
        found->captures.push_back({PatternCapture::Kind::kText, std::string(text, length), 0});
      }
    }
  }
  lua_settop(lua_, 0);
  return found;
}

}  // namespace quorvel
