// One table of functions (script_api.h says what each does), one short
// function each that checks its arguments and calls the engine. Argument
// mistakes and what the engine cannot do are Lua errors at the script's
// line; what the link refuses comes back as `nil, reason`, so a script can
// try again or judge it. No C++ object with a destructor lives on these
// functions' stacks across a Lua call that may raise (see script_engine.h).
#include "script/script_api.h"

#include <lua.hpp>

#include <new>

#include "script/script_engine.h"
#include "script/script_options.h"

namespace quorvel {
namespace {

using Outcome = ScriptEngine::Outcome;

// Every function starts here: a script being ended gets the end at once,
// and a timed-out expect still waiting for its verdict is settled as failed
// by any call but those that judge or merely report.
ScriptEngine& Enter(lua_State* lua, bool settles = true) {
  ScriptEngine& engine = ScriptEngine::Of(lua);
  if (engine.Ending()) engine.RaiseEnd(lua);
  if (settles) engine.SettlePending();
  return engine;
}

// A reader of an option table, with C++ failures made a problem.
template <typename Read>
bool ReadGuarded(ScriptEngine& engine, Read&& read) {
  try {
    return read();
  } catch (const std::bad_alloc&) {
    engine.problem() = "out of memory";
  } catch (const std::exception& fault) {
    engine.problem() = fault.what();
  }
  return false;
}

// The engine's C++ work, with what it may throw made an error for the script.
template <typename Work>
Outcome Guarded(ScriptEngine& engine, Work&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    engine.problem() = "out of memory";
  } catch (const std::exception& fault) {
    engine.problem() = fault.what();
  }
  return Outcome::kError;
}

int OptionError(lua_State* lua, ScriptEngine& engine, const char* function) {
  return luaL_error(lua, "%s: %s", function, engine.problem().c_str());
}

// true; nil and the reason; or the error or end raised.
int Answer(lua_State* lua, ScriptEngine& engine, Outcome outcome, const char* function) {
  switch (outcome) {
    case Outcome::kDone:
      lua_pushboolean(lua, 1);
      return 1;
    case Outcome::kNothing:
      luaL_pushfail(lua);
      return 1;
    case Outcome::kRefused:
      luaL_pushfail(lua);
      lua_pushstring(lua, engine.problem().c_str());
      return 2;
    case Outcome::kError:
      return luaL_error(lua, "%s: %s", function, engine.problem().c_str());
    case Outcome::kEnding:
      break;
  }
  return engine.RaiseEnd(lua);
}

double OptMilliseconds(lua_State* lua, int arg, double fallback) {
  double ms = luaL_optnumber(lua, arg, fallback);
  luaL_argcheck(lua, ms >= 0 && ms <= ScriptEngine::kMaxWaitMs, arg,
                "milliseconds from 0 to 86400000");
  return ms;
}

// An optional table argument: whether one was given.
bool OptTable(lua_State* lua, int arg) {
  if (lua_isnoneornil(lua, arg)) return false;
  luaL_checktype(lua, arg, LUA_TTABLE);
  return true;
}

// The bytes before the mark that `outcome` returns, then the mark moved.
int PushWindow(lua_State* lua, ScriptEngine& engine, size_t length, size_t consumed) {
  auto bytes = engine.Received();
  lua_pushlstring(lua, reinterpret_cast<const char*>(bytes.data()), length);
  engine.Consume(consumed);
  return 1;
}

int SendText(lua_State* lua, bool hex) {
  const char* function = hex ? "send_hex" : "send";
  ScriptEngine& engine = Enter(lua);
  size_t length = 0;
  const char* text = luaL_checklstring(lua, 1, &length);
  SendOptions options;
  if (OptTable(lua, 2) && !ReadGuarded(engine, [&] {
        return ReadSendOptions(lua, 2, hex, options, engine.problem());
      })) {
    return OptionError(lua, engine, function);
  }
  return Answer(lua, engine, engine.Send({text, length}, hex, options), function);
}

int Send(lua_State* lua) {
  return SendText(lua, false);
}

int SendHex(lua_State* lua) {
  return SendText(lua, true);
}

int Expect(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  luaL_checkany(lua, 1);
  if (!ReadGuarded(engine, [&] { return ReadPattern(lua, 1, engine.pattern(), engine.problem()); }))
    return OptionError(lua, engine, "expect");
  double timeoutMs = OptMilliseconds(lua, 2, ScriptEngine::kDefaultWaitMs);
  bool optional = false;
  if (OptTable(lua, 3) &&
      !ReadGuarded(engine, [&] { return ReadExpectOptions(lua, 3, optional, engine.problem()); })) {
    return OptionError(lua, engine, "expect");
  }
  Outcome outcome =
      Guarded(engine, [&] { return engine.Expect(timeoutMs, optional, engine.Where(lua, 1)); });
  if (outcome != Outcome::kDone) return Answer(lua, engine, outcome, "expect");
  const PatternMatch& match = engine.match();
  int results = 1 + static_cast<int>(match.captures.size());
  luaL_checkstack(lua, results, "too many captures");
  auto bytes = engine.Received();
  lua_pushlstring(lua, reinterpret_cast<const char*>(bytes.data()) + match.begin,
                  match.end - match.begin);
  for (const PatternCapture& capture : match.captures) {
    if (capture.kind == PatternCapture::Kind::kText) {
      lua_pushlstring(lua, capture.text.data(), capture.text.size());
    } else if (capture.kind == PatternCapture::Kind::kPosition) {
      lua_pushinteger(lua, capture.position);
    } else {
      lua_pushnil(lua);
    }
  }
  engine.Consume(match.end);
  return results;
}

int Read(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  Outcome outcome = engine.Read(OptMilliseconds(lua, 1, 0));
  if (outcome != Outcome::kDone) return Answer(lua, engine, outcome, "read");
  size_t size = engine.Received().size();
  return PushWindow(lua, engine, size, size);
}

int ReadLine(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  size_t end = 0;
  Outcome outcome = engine.ReadLine(OptMilliseconds(lua, 1, ScriptEngine::kDefaultWaitMs), end);
  if (outcome != Outcome::kDone) return Answer(lua, engine, outcome, "readline");
  size_t length = end > 0 && engine.Received()[end - 1] == '\r' ? end - 1 : end;
  return PushWindow(lua, engine, length, end + 1);
}

int Flush(lua_State* lua) {
  Enter(lua).Flush();
  return 0;
}

int Sleep(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  luaL_checknumber(lua, 1);
  Outcome outcome = engine.Sleep(OptMilliseconds(lua, 1, 0));
  if (outcome != Outcome::kDone) return Answer(lua, engine, outcome, "sleep");
  return 0;
}

int Now(lua_State* lua) {
  lua_pushnumber(lua, Enter(lua, false).NowMs());
  return 1;
}

int Line(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  luaL_checktype(lua, 1, LUA_TTABLE);
  ScriptLineLevels levels;
  if (!ReadGuarded(engine, [&] { return ReadLineLevels(lua, 1, levels, engine.problem()); }))
    return OptionError(lua, engine, "line");
  return Answer(lua, engine, engine.SetLines(levels), "line");
}

int SendBreak(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  lua_Integer ms = luaL_optinteger(lua, 1, ScriptEngine::kDefaultBreakMs);
  luaL_argcheck(lua, ms >= 1 && ms <= 10'000, 1, "milliseconds from 1 to 10000");
  return Answer(lua, engine, engine.SendBreak(static_cast<int>(ms)), "send_break");
}

int Set(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  luaL_checktype(lua, 1, LUA_TTABLE);
  ScriptLineSettings settings;
  if (!ReadGuarded(engine, [&] { return ReadLineSettings(lua, 1, settings, engine.problem()); }))
    return OptionError(lua, engine, "set");
  return Answer(lua, engine, engine.ApplyLine(settings), "set");
}

int Transfer(lua_State* lua) {
  ScriptEngine& engine = Enter(lua);
  luaL_checktype(lua, 1, LUA_TTABLE);
  if (!ReadGuarded(engine,
                   [&] { return ReadTransfer(lua, 1, engine.transfer(), engine.problem()); }))
    return OptionError(lua, engine, "transfer");
  return Answer(lua, engine, engine.Transfer(), "transfer");
}

int Print(lua_State* lua) {
  ScriptEngine& engine = Enter(lua, false);
  int count = lua_gettop(lua);
  luaL_Buffer line;
  luaL_buffinit(lua, &line);
  for (int i = 1; i <= count; ++i) {
    if (i > 1) luaL_addchar(&line, '\t');
    luaL_tolstring(lua, i, nullptr);
    luaL_addvalue(&line);
  }
  luaL_addchar(&line, '\n');
  luaL_pushresult(&line);
  size_t length = 0;
  const char* text = lua_tolstring(lua, -1, &length);
  Guarded(engine, [&] {
    engine.Print({text, length});
    return Outcome::kDone;
  });
  return 0;
}

int Log(lua_State* lua) {
  ScriptEngine& engine = Enter(lua, false);
  size_t length = 0;
  const char* text = luaL_checklstring(lua, 1, &length);
  Guarded(engine, [&] {
    engine.Log({text, length});
    return Outcome::kDone;
  });
  return 0;
}

int Check(lua_State* lua) {
  ScriptEngine& engine = Enter(lua, false);
  luaL_checkany(lua, 1);
  bool passed = lua_toboolean(lua, 1) != 0;
  size_t length = 0;
  const char* name = luaL_optlstring(lua, 2, nullptr, &length);
  const char* got = lua_isnil(lua, 1) ? "got nil" : "got false";
  Outcome outcome = Guarded(engine, [&] {
    std::string where = engine.Where(lua, 1);
    std::string named = name ? std::string(name, length) : "check at " + where;
    engine.Check(passed, std::move(named), got, std::move(where));
    return Outcome::kDone;
  });
  if (outcome != Outcome::kDone) return Answer(lua, engine, outcome, "check");
  lua_pushboolean(lua, passed);
  return 1;
}

int Fail(lua_State* lua) {
  ScriptEngine& engine = Enter(lua, false);
  size_t length = 0;
  const char* message = luaL_optlstring(lua, 1, "fail()", &length);
  Guarded(engine, [&] {
    engine.Fail(std::string(message, length), engine.Where(lua, 1));
    return Outcome::kDone;
  });
  return engine.RaiseEnd(lua);
}

// exit([code]), and os.exit([code]) as the same: true is 0, false 1.
int Exit(lua_State* lua) {
  ScriptEngine& engine = Enter(lua, false);
  lua_Integer code = 0;
  if (lua_isboolean(lua, 1)) {
    code = lua_toboolean(lua, 1) ? 0 : 1;
  } else {
    code = luaL_optinteger(lua, 1, 0);
    luaL_argcheck(lua, code >= 0 && code <= 255, 1, "an exit code from 0 to 255");
  }
  Guarded(engine, [&] {
    engine.Exit(static_cast<int>(code));
    return Outcome::kDone;
  });
  return engine.RaiseEnd(lua);
}

constexpr luaL_Reg kApi[] = {
    {"send", Send},         {"send_hex", SendHex},
    {"expect", Expect},     {"read", Read},
    {"readline", ReadLine}, {"flush", Flush},
    {"sleep", Sleep},       {"now", Now},
    {"line", Line},         {"send_break", SendBreak},
    {"set", Set},           {"transfer", Transfer},
    {"print", Print},       {"log", Log},
    {"check", Check},       {"fail", Fail},
    {"exit", Exit},         {nullptr, nullptr},
};

// Where Lua runs script code with hooks off, Stop could not reach it, so
// the standard functions that lead there are guarded.
//
// An error raised by the hook reaches xpcall's handler with hooks still
// off: a handler that loops would hold the script. Once the script is
// ending, the handler is passed over and the error goes on as it was.
int GuardedHandler(lua_State* lua) {
  if (ScriptEngine::Of(lua).Ending()) return 1;
  lua_pushvalue(lua, lua_upvalueindex(1));
  lua_insert(lua, 1);
  lua_call(lua, lua_gettop(lua) - 1, 1);
  return 1;
}

int AllResults(lua_State* lua, int, lua_KContext) {
  return lua_gettop(lua);
}

int GuardedXpcall(lua_State* lua) {
  luaL_checkany(lua, 2);
  lua_pushvalue(lua, 2);
  lua_pushcclosure(lua, GuardedHandler, 1);
  lua_replace(lua, 2);
  lua_pushvalue(lua, lua_upvalueindex(1));
  lua_insert(lua, 1);
  // With a continuation, a coroutine may still yield inside the call.
  lua_callk(lua, lua_gettop(lua) - 1, LUA_MULTRET, 0, AllResults);
  return lua_gettop(lua);
}

// Finalizers (__gc) run with hooks off wherever the collector happens to
// run them, so a metatable that holds one is refused.
int GuardedSetmetatable(lua_State* lua) {
  if (lua_type(lua, 2) == LUA_TTABLE) {
    lua_pushliteral(lua, "__gc");
    if (lua_rawget(lua, 2) != LUA_TNIL) {
      return luaL_error(lua, "a script cannot set a finalizer (__gc): Stop could not end it");
    }
    lua_pop(lua, 1);
  }
  lua_pushvalue(lua, lua_upvalueindex(1));
  lua_insert(lua, 1);
  lua_call(lua, lua_gettop(lua) - 1, LUA_MULTRET);
  return lua_gettop(lua);
}

int RefusedSethook(lua_State* lua) {
  return luaL_error(lua, "debug.sethook is not for scripts: the engine's hook is what Stop uses");
}

// Replaces table[name] (the table on top) by `guard`, with the original as
// its upvalue.
void Guard(lua_State* lua, const char* name, lua_CFunction guard) {
  lua_getfield(lua, -1, name);
  lua_pushcclosure(lua, guard, 1);
  lua_setfield(lua, -2, name);
}

}  // namespace

void OpenScriptApi(lua_State* lua) {
  lua_pushglobaltable(lua);
  luaL_setfuncs(lua, kApi, 0);
  Guard(lua, "xpcall", GuardedXpcall);
  Guard(lua, "setmetatable", GuardedSetmetatable);
  lua_pop(lua, 1);
  // os.exit would end the whole program, the window with it.
  if (lua_getglobal(lua, LUA_OSLIBNAME) == LUA_TTABLE) {
    lua_pushcfunction(lua, Exit);
    lua_setfield(lua, -2, "exit");
  }
  lua_pop(lua, 1);
  if (lua_getglobal(lua, LUA_DBLIBNAME) == LUA_TTABLE) {
    Guard(lua, "setmetatable", GuardedSetmetatable);
    lua_pushcfunction(lua, RefusedSethook);
    lua_setfield(lua, -2, "sethook");
  }
  lua_pop(lua, 1);
}

}  // namespace quorvel
