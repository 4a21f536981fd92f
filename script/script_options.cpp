#include "script/script_options.h"

#include <lua.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <string_view>

namespace quorvel {
namespace {

constexpr size_t kMaxTransferFiles = 100;
constexpr size_t kMaxPathLength = 4096;

constexpr struct {
  ScriptParity parity;
  std::string_view name;
} kParities[] = {{ScriptParity::kNone, "none"},
                 {ScriptParity::kOdd, "odd"},
                 {ScriptParity::kEven, "even"},
                 {ScriptParity::kMark, "mark"},
                 {ScriptParity::kSpace, "space"}};

constexpr struct {
  ScriptStopBits stop;
  double value;
  std::string_view name;
} kStopBits[] = {{ScriptStopBits::kOne, 1.0, "1"},
                 {ScriptStopBits::kOneAndHalf, 1.5, "1.5"},
                 {ScriptStopBits::kTwo, 2.0, "2"}};

constexpr struct {
  ScriptProtocol protocol;
  std::string_view name;
} kProtocols[] = {{ScriptProtocol::kXmodem, "xmodem"},
                  {ScriptProtocol::kXmodem1k, "xmodem-1k"},
                  {ScriptProtocol::kYmodem, "ymodem"},
                  {ScriptProtocol::kZmodem, "zmodem"}};

std::string TypeName(lua_State* lua, int index) {
  return lua_typename(lua, lua_type(lua, index));
}

// "'x'" with the bytes a message may not carry made visible.
std::string Quoted(std::string_view text) {
  std::string quoted = "'";
  for (char c : text.substr(0, 64)) {
    auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      static constexpr char kDigits[] = "0123456789abcdef";
      quoted += "\\x";
      quoted += kDigits[byte >> 4];
      quoted += kDigits[byte & 0xF];
    } else {
      quoted += c;
    }
  }
  if (text.size() > 64) quoted += "...";
  return quoted + "'";
}

template <typename Names>
std::string NameList(const Names& names) {
  std::string list;
  for (const auto& entry : names) {
    if (!list.empty()) list += ", ";
    list += entry.name;
  }
  return list;
}

bool StringAt(lua_State* lua, int index, std::string_view& out) {
  if (lua_type(lua, index) != LUA_TSTRING) return false;
  size_t length = 0;
  const char* text = lua_tolstring(lua, index, &length);
  out = std::string_view(text, length);
  return true;
}

// Calls `field(key, valueIndex)` for each entry of the table at `index`;
// false, with the problem, at the first key that is no name or the first
// field that fails. Raw traversal: nothing of the script runs.
template <typename Field>
bool ForEachField(lua_State* lua, int index, std::string_view what, std::string& problem,
                  Field&& field) {
  index = lua_absindex(lua, index);
  if (lua_type(lua, index) != LUA_TTABLE) {
    problem = std::string(what) + " is a table, not a " + TypeName(lua, index);
    return false;
  }
  lua_pushnil(lua);
  while (lua_next(lua, index) != 0) {
    std::string_view key;
    bool ok = StringAt(lua, -2, key);
    if (!ok) {
      problem = std::string(what) + " names its fields: a key is a " + TypeName(lua, -2);
    } else {
      ok = field(key, lua_absindex(lua, -1));
    }
    lua_pop(lua, 1);
    if (!ok) {
      lua_pop(lua, 1);
      return false;
    }
  }
  return true;
}

bool Unknown(std::string_view key, std::string_view known, std::string& problem) {
  problem = "unknown field " + Quoted(key) + " (" + std::string(known) + ")";
  return false;
}

bool BooleanField(lua_State* lua, int index, std::string_view key, bool& out,
                  std::string& problem) {
  if (lua_type(lua, index) != LUA_TBOOLEAN) {
    problem = std::string(key) + " is true or false, not a " + TypeName(lua, index);
    return false;
  }
  out = lua_toboolean(lua, index) != 0;
  return true;
}

bool StringField(lua_State* lua, int index, std::string_view key, std::string_view& out,
                 std::string& problem) {
  if (!StringAt(lua, index, out)) {
    problem = std::string(key) + " is a string, not a " + TypeName(lua, index);
    return false;
  }
  return true;
}

// A whole number from `low` to `high`.
bool WholeField(lua_State* lua, int index, std::string_view key, double low, double high,
                double& out, std::string& problem) {
  bool number = lua_type(lua, index) == LUA_TNUMBER;
  double value = number ? lua_tonumber(lua, index) : 0;
  if (!number || !(value >= low && value <= high) || std::floor(value) != value) {
    problem = std::string(key) + " is a whole number from " + std::to_string(int64_t(low)) +
              " to " + std::to_string(int64_t(high));
    if (!number) problem += ", not a " + TypeName(lua, index);
    return false;
  }
  out = value;
  return true;
}

bool PathValue(std::string_view path, std::string_view key, std::string& out,
               std::string& problem) {
  if (path.empty() || path.size() > kMaxPathLength || path.find('\0') != path.npos) {
    problem = std::string(key) + " names a file: not empty, without a zero byte, at most " +
              std::to_string(kMaxPathLength) + " bytes";
    return false;
  }
  out = path;
  return true;
}

bool SameLetters(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool TransferFiles(lua_State* lua, int index, ScriptTransfer& out, std::string& problem) {
  std::string_view one;
  if (StringAt(lua, index, one)) {
    out.files.emplace_back();
    return PathValue(one, "send", out.files.back(), problem);
  }
  if (lua_type(lua, index) != LUA_TTABLE) {
    problem = "send is a file name or a list of them, not a " + TypeName(lua, index);
    return false;
  }
  lua_Unsigned count = lua_rawlen(lua, index);
  if (count == 0 || count > kMaxTransferFiles) {
    problem = "send lists 1 to " + std::to_string(kMaxTransferFiles) + " files";
    return false;
  }
  for (lua_Unsigned i = 1; i <= count; ++i) {
    lua_rawgeti(lua, index, static_cast<lua_Integer>(i));
    std::string_view name;
    bool ok = StringAt(lua, -1, name);
    if (!ok) {
      problem = "send lists file names: entry " + std::to_string(i) + " is a " + TypeName(lua, -1);
    } else {
      out.files.emplace_back();
      ok = PathValue(name, "send", out.files.back(), problem);
    }
    lua_pop(lua, 1);
    if (!ok) return false;
  }
  return true;
}

}  // namespace

bool ReadSendOptions(lua_State* lua, int index, bool hex, SendOptions& out, std::string& problem) {
  out = {};
  std::string checks;
  for (const ChecksumInfo& info : ChecksumTable()) {
    if (!checks.empty()) checks += ", ";
    checks += info.key;
  }
  std::string endings;
  for (const LineEndingInfo& info : LineEndingTable()) {
    if (!endings.empty()) endings += ", ";
    endings += info.key;
  }
  return ForEachField(lua, index, "the options", problem, [&](std::string_view key, int value) {
    std::string_view text;
    if (key == "check") {
      if (!StringField(lua, value, key, text, problem)) return false;
      auto kind = ChecksumFromKey(text);
      if (!kind) {
        problem = "check " + Quoted(text) + " is none of " + checks;
        return false;
      }
      out.checksum = *kind;
      return true;
    }
    if (hex) return Unknown(key, "a hex send takes only check", problem);
    if (key == "ending") {
      if (!StringField(lua, value, key, text, problem)) return false;
      auto ending = LineEndingFromKey(text);
      if (!ending) {
        problem = "ending " + Quoted(text) + " is none of " + endings;
        return false;
      }
      out.ending = *ending;
      return true;
    }
    if (key == "escapes") return BooleanField(lua, value, key, out.escapes, problem);
    return Unknown(key, "ending, escapes, check", problem);
  });
}

bool ReadPattern(lua_State* lua, int index, std::optional<ScriptPattern>& out,
                 std::string& problem) {
  out.reset();
  std::string_view text;
  if (StringAt(lua, index, text)) {
    out = ScriptPattern::Lua(text, problem);
    return out.has_value();
  }
  if (lua_type(lua, index) != LUA_TTABLE) {
    problem =
        "a pattern is a string, {regex=\"...\"} or {hex=\"...\"}, not a " + TypeName(lua, index);
    return false;
  }
  int kinds = 0;
  bool ok = ForEachField(lua, index, "the pattern", problem, [&](std::string_view key, int value) {
    if (key != "regex" && key != "hex") return Unknown(key, "regex or hex", problem);
    if (++kinds > 1) {
      problem = "a pattern is either {regex=...} or {hex=...}";
      return false;
    }
    if (!StringField(lua, value, key, text, problem)) return false;
    out = key == "regex" ? ScriptPattern::Regex(text, problem) : ScriptPattern::Hex(text, problem);
    return out.has_value();
  });
  if (ok && kinds == 0) {
    problem = "a pattern table holds regex= or hex=";
    ok = false;
  }
  return ok;
}

bool ReadExpectOptions(lua_State* lua, int index, bool& optional, std::string& problem) {
  optional = false;
  return ForEachField(lua, index, "the options", problem, [&](std::string_view key, int value) {
    if (key == "optional") return BooleanField(lua, value, key, optional, problem);
    return Unknown(key, "optional", problem);
  });
}

bool ReadLineLevels(lua_State* lua, int index, ScriptLineLevels& out, std::string& problem) {
  out = {};
  bool ok = ForEachField(lua, index, "the lines", problem, [&](std::string_view key, int value) {
    bool level = false;
    if (key != "dtr" && key != "rts") return Unknown(key, "dtr, rts", problem);
    if (!BooleanField(lua, value, key, level, problem)) return false;
    (key == "dtr" ? out.dtr : out.rts) = level;
    return true;
  });
  if (ok && !out.dtr && !out.rts) {
    problem = "name a line: {dtr=true} or {rts=false}";
    ok = false;
  }
  return ok;
}

bool ReadLineSettings(lua_State* lua, int index, ScriptLineSettings& out, std::string& problem) {
  out = {};
  bool ok = ForEachField(lua, index, "the settings", problem, [&](std::string_view key, int value) {
    double number = 0;
    std::string_view text;
    if (key == "baud") {
      if (!WholeField(lua, value, key, 1, 4294967295.0, number, problem)) return false;
      out.baud = static_cast<uint32_t>(number);
      return true;
    }
    if (key == "data") {
      if (!WholeField(lua, value, key, 5, 8, number, problem)) return false;
      out.dataBits = static_cast<int>(number);
      return true;
    }
    if (key == "parity") {
      if (!StringField(lua, value, key, text, problem)) return false;
      for (const auto& entry : kParities) {
        if (SameLetters(entry.name, text)) out.parity = entry.parity;
      }
      if (!out.parity) problem = "parity " + Quoted(text) + " is none of " + NameList(kParities);
      return out.parity.has_value();
    }
    if (key == "stop") {
      bool number = lua_type(lua, value) == LUA_TNUMBER;
      if (!number && !StringAt(lua, value, text)) {
        problem = "stop is 1, 1.5 or 2, not a " + TypeName(lua, value);
        return false;
      }
      double given = number ? lua_tonumber(lua, value) : 0;
      for (const auto& entry : kStopBits) {
        if (number ? given == entry.value : text == entry.name) out.stopBits = entry.stop;
      }
      if (!out.stopBits) problem = "stop is 1, 1.5 or 2";
      return out.stopBits.has_value();
    }
    return Unknown(key, "baud, data, parity, stop", problem);
  });
  if (ok && out == ScriptLineSettings{}) {
    problem = "name a setting: baud, data, parity or stop";
    ok = false;
  }
  return ok;
}

bool ReadTransfer(lua_State* lua, int index, ScriptTransfer& out, std::string& problem) {
  out = {};
  int directions = 0;
  bool protocol = false;
  bool ok = ForEachField(lua, index, "the transfer", problem, [&](std::string_view key, int value) {
    std::string_view text;
    if (key == "send" || key == "receive") {
      if (++directions > 1) {
        problem = "a transfer either sends or receives";
        return false;
      }
      out.send = key == "send";
      if (out.send) return TransferFiles(lua, value, out, problem);
      return StringField(lua, value, key, text, problem) &&
             PathValue(text, key, out.folder, problem);
    }
    if (key == "protocol") {
      if (!StringField(lua, value, key, text, problem)) return false;
      for (const auto& entry : kProtocols) {
        if (SameLetters(entry.name, text)) {
          out.protocol = entry.protocol;
          protocol = true;
        }
      }
      if (!protocol) problem = "protocol " + Quoted(text) + " is none of " + NameList(kProtocols);
      return protocol;
    }
    return Unknown(key, "send, receive, protocol", problem);
  });
  if (!ok) return false;
  if (directions == 0) {
    problem = "say what to do: send=\"file\" or receive=\"folder/\"";
    return false;
  }
  if (!protocol) {
    problem = "name the protocol: " + NameList(kProtocols);
    return false;
  }
  bool xmodem =
      out.protocol == ScriptProtocol::kXmodem || out.protocol == ScriptProtocol::kXmodem1k;
  if (xmodem && out.send && out.files.size() != 1) {
    problem = "XMODEM sends one file";
    return false;
  }
  return true;
}

}  // namespace quorvel
