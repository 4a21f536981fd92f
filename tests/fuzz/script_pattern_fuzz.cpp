// What a script hands expect and the option readers, on any input: a hex
// pattern parses into as many bytes as wildcards flags, prints back to
// itself and matches where a plain search does; the option readers never
// raise, leave the Lua stack as they found it, and what they accept is
// within its bounds; the matcher's answers lie inside what it searched.
// Input: a mode byte (hex, options, match by its value mod 3), then the
// mode's own bytes.
#include <lua.hpp>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "script/script_options.h"
#include "script/script_pattern.h"

namespace {

using quorvel::PatternMatcher;
using quorvel::ScriptPattern;

// Pulls fuzzed values off the front of the input.
class Input {
 public:
  Input(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Empty() const { return size_ == 0; }
  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }
  std::string Bytes(size_t count) {
    count = std::min(count, size_);
    std::string bytes(reinterpret_cast<const char*>(data_), count);
    data_ += count;
    size_ -= count;
    return bytes;
  }
  // Up to the next zero byte (dropped), or the rest.
  std::string Field() {
    const uint8_t* zero = static_cast<const uint8_t*>(std::memchr(data_, 0, size_));
    size_t length = zero ? static_cast<size_t>(zero - data_) : size_;
    std::string field = Bytes(length);
    if (zero) Byte();
    return field;
  }
  std::string Rest() { return Bytes(size_); }

 private:
  const uint8_t* data_;
  size_t size_;
};

void CheckHex(Input& input) {
  std::string text = input.Field();
  std::string subject = input.Rest();
  std::string problem;
  auto pattern = ScriptPattern::Hex(text, problem);
  FUZZ_CHECK(pattern.has_value() == problem.empty());
  if (!pattern) return;
  const auto& bytes = pattern->bytes();
  const auto& wild = pattern->wild();
  FUZZ_CHECK(!bytes.empty() && bytes.size() == wild.size());

  // Printed back, it parses into the same pattern.
  std::string printed;
  static constexpr char kDigits[] = "0123456789abcdef";
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) printed += ' ';
    printed +=
        wild[i] ? std::string("??") : std::string{kDigits[bytes[i] >> 4], kDigits[bytes[i] & 15]};
  }
  auto again = ScriptPattern::Hex(printed, problem);
  FUZZ_CHECK(again && again->bytes() == bytes && again->wild() == wild);

  // The first place a plain search finds it.
  size_t expected = std::string::npos;
  for (size_t at = 0; at + bytes.size() <= subject.size() && expected == std::string::npos; ++at) {
    bool all = true;
    for (size_t i = 0; i < bytes.size() && all; ++i) {
      all = wild[i] || static_cast<uint8_t>(subject[at + i]) == bytes[i];
    }
    if (all) expected = at;
  }
  PatternMatcher matcher;
  std::string error;
  auto found =
      matcher.Find(*pattern, {reinterpret_cast<const uint8_t*>(subject.data()), subject.size()}, 0,
                   false, error);
  FUZZ_CHECK(error.empty());
  FUZZ_CHECK(found.has_value() == (expected != std::string::npos));
  if (found) {
    FUZZ_CHECK(found->begin == expected && found->end == expected + bytes.size());
    size_t wildBytes = 0;
    for (const auto& capture : found->captures) wildBytes += capture.text.size();
    FUZZ_CHECK(wildBytes == static_cast<size_t>(std::count(wild.begin(), wild.end(), true)));
  }
}

constexpr const char* kKeys[] = {"ending",   "escapes", "check", "regex",   "hex",
                                 "optional", "dtr",     "rts",   "baud",    "data",
                                 "parity",   "stop",    "send",  "receive", "protocol"};
constexpr const char* kWords[] = {
    "none",  "cr",   "lf",  "crlf", "modbus-crc16", "crc32",  "odd",       "even",   "Mark",
    "space", "1",    "1.5", "2",    "xmodem",       "YMODEM", "xmodem-1k", "zmodem", "fw.bin",
    "01 ??", "a(b)", "",    "T=%d+"};

// A value from the input, pushed: nil, a boolean, a number, a string (one
// of the words or raw bytes) or a table of a few of them.
void PushValue(lua_State* lua, Input& input, int depth) {
  uint8_t kind = input.Byte();
  switch (kind % 6) {
    case 0:
      lua_pushnil(lua);
      return;
    case 1:
      lua_pushboolean(lua, kind & 0x80);
      return;
    case 2: {
      std::string raw = input.Bytes(8);
      double number = 0;
      std::memcpy(&number, raw.data(), std::min(raw.size(), sizeof number));
      if (kind & 0x40) number = static_cast<double>(static_cast<int8_t>(raw.empty() ? 0 : raw[0]));
      lua_pushnumber(lua, number);
      return;
    }
    case 3:
      lua_pushstring(lua, kWords[input.Byte() % std::size(kWords)]);
      return;
    case 4: {
      std::string raw = input.Bytes(input.Byte() % 32);
      lua_pushlstring(lua, raw.data(), raw.size());
      return;
    }
    default:
      lua_newtable(lua);
      if (depth > 1) return;
      for (int entries = input.Byte() % 4; entries > 0 && !input.Empty(); --entries) {
        uint8_t key = input.Byte();
        if (key & 0x80) {
          lua_pushinteger(lua, key & 3);
        } else if (key & 0x40) {
          lua_pushboolean(lua, 1);  // a key that is no name
        } else {
          lua_pushstring(lua, kKeys[key % std::size(kKeys)]);
        }
        PushValue(lua, input, depth + 1);
        lua_rawset(lua, -3);
      }
  }
}

// Each reader on the value at index 1: the stack as it was, a verdict that
// agrees with the problem, and what it accepted within bounds.
void CheckOptions(Input& input) {
  static lua_State* lua = luaL_newstate();
  lua_settop(lua, 0);
  PushValue(lua, input, 0);
  std::string problem;
  auto verdict = [&](bool ok) {
    FUZZ_CHECK(lua_gettop(lua) == 1);
    FUZZ_CHECK(ok == problem.empty());
    problem.clear();
    return ok;
  };
  bool table = lua_type(lua, 1) == LUA_TTABLE;

  std::optional<ScriptPattern> pattern;
  if (verdict(quorvel::ReadPattern(lua, 1, pattern, problem))) FUZZ_CHECK(pattern.has_value());
  if (table) {
    quorvel::SendOptions send;
    if (verdict(quorvel::ReadSendOptions(lua, 1, true, send, problem))) {
      FUZZ_CHECK(send.ending == quorvel::LineEnding::kNone && !send.escapes);
    }
    verdict(quorvel::ReadSendOptions(lua, 1, false, send, problem));
    bool optional = false;
    verdict(quorvel::ReadExpectOptions(lua, 1, optional, problem));
    quorvel::ScriptLineLevels levels;
    if (verdict(quorvel::ReadLineLevels(lua, 1, levels, problem))) {
      FUZZ_CHECK(levels.dtr || levels.rts);
    }
    quorvel::ScriptLineSettings settings;
    if (verdict(quorvel::ReadLineSettings(lua, 1, settings, problem))) {
      FUZZ_CHECK(!(settings == quorvel::ScriptLineSettings{}));
      FUZZ_CHECK(!settings.baud || *settings.baud >= 1);
      FUZZ_CHECK(!settings.dataBits || (*settings.dataBits >= 5 && *settings.dataBits <= 8));
    }
    quorvel::ScriptTransfer transfer;
    if (verdict(quorvel::ReadTransfer(lua, 1, transfer, problem))) {
      if (transfer.send) {
        FUZZ_CHECK(!transfer.files.empty());
        for (const auto& file : transfer.files) {
          FUZZ_CHECK(!file.empty() && file.find('\0') == std::string::npos);
        }
      } else {
        FUZZ_CHECK(!transfer.folder.empty());
      }
    }
  }
  lua_settop(lua, 0);
  lua_gc(lua, LUA_GCSTEP, 0);
}

// A Lua pattern or a regex on a short subject: the answer lies inside it.
// Lua's matcher backtracks, so a pattern is kept to few repeats.
void CheckMatch(Input& input) {
  bool regex = input.Byte() & 1;
  std::string text = input.Field().substr(0, 32);
  std::string subject = input.Rest().substr(0, 256);
  if (std::count_if(text.begin(), text.end(), [](char c) {
        return c == '*' || c == '+' || c == '-' || c == '?' || c == '{';
      }) > 3)
    return;
  std::string problem;
  auto pattern = regex ? ScriptPattern::Regex(text, problem) : ScriptPattern::Lua(text, problem);
  FUZZ_CHECK(pattern.has_value() == problem.empty());
  if (!pattern) return;
  static PatternMatcher matcher;
  size_t from = subject.empty() ? 0 : subject.size() / 3;
  for (bool more : {false, true}) {
    std::string error;
    auto found =
        matcher.Find(*pattern, {reinterpret_cast<const uint8_t*>(subject.data()), subject.size()},
                     from, more, error);
    if (!found) continue;
    FUZZ_CHECK(error.empty());
    FUZZ_CHECK(found->begin >= from && found->begin <= found->end && found->end <= subject.size());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  Input input(data + 1, size - 1);
  switch (data[0] % 3) {
    case 0:
      CheckHex(input);
      break;
    case 1:
      CheckOptions(input);
      break;
    default:
      CheckMatch(input);
  }
  return 0;
}
