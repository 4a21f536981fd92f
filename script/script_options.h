// The option tables a script passes (send's {ending=, escapes=, check=},
// expect's pattern, line{}, set{}, transfer{}), read into the engine's
// types.
//
// Every reader takes the value at `index` of the script's stack, walks a
// table with raw access only (no metamethod runs, so no script code and no
// Lua error can come of reading) and either fills `out` and returns true or
// leaves why in `problem`, for the script's error message: a key it does not
// know (a typo must not be ignored quietly), a value of the wrong type, a
// name that is none of the allowed ones. What `out` holds after a failure is not
// to be relied on. The script's thread calls them.
#pragma once

#include <optional>
#include <string>

#include "script/script_link.h"
#include "script/script_pattern.h"
#include "sending/send_composer.h"

struct lua_State;

namespace quorvel {

// send's options; a hex send takes only `check`.
bool ReadSendOptions(lua_State* lua, int index, bool hex, SendOptions& out, std::string& problem);

// A Lua pattern (a string), {regex="..."} or {hex="..."}.
bool ReadPattern(lua_State* lua, int index, std::optional<ScriptPattern>& out,
                 std::string& problem);

// expect's options: {optional=true} when a timeout is no failed step.
bool ReadExpectOptions(lua_State* lua, int index, bool& optional, std::string& problem);

// line{dtr=, rts=}: booleans, at least one.
bool ReadLineLevels(lua_State* lua, int index, ScriptLineLevels& out, std::string& problem);

// set{baud=, data=, parity=, stop=}: at least one.
bool ReadLineSettings(lua_State* lua, int index, ScriptLineSettings& out, std::string& problem);

// transfer{send="fw.bin" or {"a.bin", "b.bin"}, protocol=...} or
// transfer{receive="dir/", protocol=...}.
bool ReadTransfer(lua_State* lua, int index, ScriptTransfer& out, std::string& problem);

}  // namespace quorvel
