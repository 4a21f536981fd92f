#include "script/script_engine.h"

#include <lua.hpp>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>

#include "script/script_api.h"
#include "sending/send_list.h"

namespace quorvel {
namespace {

using Clock = ReceiveBuffer::Clock;

// Instructions between looks at Stop: a look costs a load of an atomic, and
// a tight loop runs some hundred million instructions a second, so a stop is
// seen within microseconds.
constexpr int kHookInstructions = 1000;
// What one search looks at before it looks at Stop again; a match found
// before a slice's end is searched again with a whole slice after it.
constexpr size_t kSearchSlice = 1u << 20;

std::string Megabytes(size_t bytes) {
  return std::to_string(bytes >> 20) + " MiB";
}

Clock::time_point DeadlineAfter(double ms) {
  return Clock::now() + std::chrono::microseconds(static_cast<int64_t>(ms * 1000.0));
}

std::string WholeMs(double ms) {
  return std::to_string(static_cast<int64_t>(std::llround(ms))) + " ms";
}

// Runs `work` with the C++ failures it may throw turned into an error for
// the script, since no exception may cross Lua's C frames.
template <typename Work>
ScriptEngine::Outcome Guarded(std::string& problem, Work&& work) {
  try {
    return work();
  } catch (const std::bad_alloc&) {
    problem = "out of memory";
  } catch (const std::exception& fault) {
    problem = fault.what();
  }
  return ScriptEngine::Outcome::kError;
}

// The standard libraries, the script's functions and os.exit ending the
// script rather than the program, then the chunk; under lua_pcall, since
// each of them may run out of the capped memory.
struct Preparation {
  const std::string* path = nullptr;  // a file, or else:
  std::string_view name;
  std::string_view code;
};

int Prepare(lua_State* lua) {
  auto* preparation = static_cast<Preparation*>(lua_touserdata(lua, 1));
  luaL_openlibs(lua);
  OpenScriptApi(lua);
  int status = LUA_OK;
  if (preparation->path) {
    status = luaL_loadfilex(lua, preparation->path->c_str(), "t");
  } else {
    lua_pushliteral(lua, "@");
    lua_pushlstring(lua, preparation->name.data(), preparation->name.size());
    lua_concat(lua, 2);
    status = luaL_loadbufferx(lua, preparation->code.data(), preparation->code.size(),
                              lua_tostring(lua, -1), "t");
  }
  if (status != LUA_OK) return lua_error(lua);
  return 1;
}

// A runtime error's message with the traceback after it.
int MessageHandler(lua_State* lua) {
  const char* message = lua_tostring(lua, 1);
  if (!message) {
    if (luaL_callmeta(lua, 1, "__tostring") && lua_type(lua, -1) == LUA_TSTRING) {
      message = lua_tostring(lua, -1);
    } else {
      message = lua_pushfstring(lua, "(error object is a %s value)", luaL_typename(lua, 1));
    }
  }
  luaL_traceback(lua, lua, message, 1);
  return 1;
}

int Panic(lua_State* lua) {
  const char* message = lua_tostring(lua, -1);
  std::fprintf(stderr, "quorvel: script engine: unprotected Lua error: %s\n",
               message ? message : "?");
  std::abort();
}

}  // namespace

ScriptEngine::ScriptEngine(ScriptLink& link, ScriptSink& sink, size_t memoryLimit)
    : link_(link), sink_(sink) {
  cap_.limit = memoryLimit;
  lua_ = lua_newstate(&ScriptEngine::Allocate, &cap_);
  if (!lua_) return;
  *static_cast<ScriptEngine**>(lua_getextraspace(lua_)) = this;
  lua_atpanic(lua_, Panic);
  lua_setwarnf(lua_, &ScriptEngine::Warn, this);
}

ScriptEngine::~ScriptEngine() {
  if (!lua_) return;
  // Finalizers run at the close: ending first makes the hook cut short any
  // that would not return, and quiet warnings keep the sink out of it. The
  // link is not interrupted: it may serve the next script.
  int running = kRunning;
  end_.compare_exchange_strong(running, static_cast<int>(ScriptEnd::kStopped));
  warningsOn_ = false;
  lua_sethook(lua_, &ScriptEngine::Hook, LUA_MASKCOUNT, kHookInstructions);
  lua_close(lua_);
}

void* ScriptEngine::Allocate(void* cap, void* block, size_t oldSize, size_t newSize) {
  auto* memory = static_cast<MemoryCap*>(cap);
  size_t old = block ? oldSize : 0;  // without a block, oldSize names what is made
  if (newSize == 0) {
    std::free(block);
    memory->used -= old;
    return nullptr;
  }
  // Only growth is refused: Lua takes a shrink as never failing. A refusal
  // makes Lua collect garbage and try again before it raises a memory error.
  if (newSize > old && newSize - old > memory->limit - memory->used) return nullptr;
  void* grown = std::realloc(block, newSize);
  if (!grown) return nullptr;
  memory->used = memory->used - old + newSize;
  return grown;
}

void ScriptEngine::Hook(lua_State* lua, lua_Debug*) {
  ScriptEngine& engine = Of(lua);
  if (engine.Ending()) engine.RaiseEnd(lua);
}

void ScriptEngine::Warn(void* self, const char* message, int more) {
  auto* engine = static_cast<ScriptEngine*>(self);
  try {
    engine->warning_ += message;
    if (more) return;
    std::string text;
    text.swap(engine->warning_);
    if (text == "@on") {
      engine->warningsOn_ = true;
    } else if (text == "@off") {
      engine->warningsOn_ = false;
    } else if (engine->warningsOn_ && text.rfind('@', 0) != 0) {
      engine->Print("Lua warning: " + text + "\n");
    }
  } catch (const std::exception&) {
    engine->warning_.clear();
  }
}

ScriptEngine& ScriptEngine::Of(lua_State* lua) {
  return **static_cast<ScriptEngine**>(lua_getextraspace(lua));
}

bool ScriptEngine::Loaded(int status, std::string& problem) {
  if (status == LUA_OK) {
    loaded_ = true;
    return true;
  }
  const char* message = lua_tostring(lua_, -1);
  problem = status == LUA_ERRMEM ? "out of memory while loading the script"
                                 : (message ? message : "the script could not be loaded");
  lua_settop(lua_, 0);
  return false;
}

bool ScriptEngine::LoadFile(const std::string& path, std::string& problem) {
  if (!lua_) {
    problem = "no Lua state could be made";
    return false;
  }
  Preparation preparation;
  preparation.path = &path;
  lua_pushcfunction(lua_, Prepare);
  lua_pushlightuserdata(lua_, &preparation);
  return Loaded(lua_pcall(lua_, 1, 1, 0), problem);
}

bool ScriptEngine::LoadText(std::string_view name, std::string_view code, std::string& problem) {
  if (!lua_) {
    problem = "no Lua state could be made";
    return false;
  }
  Preparation preparation;
  preparation.name = name;
  preparation.code = code;
  lua_pushcfunction(lua_, Prepare);
  lua_pushlightuserdata(lua_, &preparation);
  return Loaded(lua_pcall(lua_, 1, 1, 0), problem);
}

ScriptResult ScriptEngine::Run() {
  ScriptResult result;
  if (!loaded_) {
    result.end = ScriptEnd::kError;
    result.exitCode = 2;
    result.error = "no script is loaded";
    return result;
  }
  start_ = Clock::now();
  link_.Attach(&buffer_);
  // Coroutines the script makes take the hook from the state that makes
  // them, so it is set before any of the script runs.
  lua_sethook(lua_, &ScriptEngine::Hook, LUA_MASKCOUNT, kHookInstructions);
  lua_pushcfunction(lua_, MessageHandler);
  lua_insert(lua_, 1);
  int status = lua_pcall(lua_, 0, 0, 1);
  link_.Detach(&buffer_);

  int why = end_.load();
  if (why == kRunning) {
    result.end = status == LUA_OK ? ScriptEnd::kFinished : ScriptEnd::kError;
  } else {
    result.end = static_cast<ScriptEnd>(why);
  }
  if (result.end == ScriptEnd::kError) {
    if (status == LUA_ERRMEM) {
      result.error = "out of memory: a script may use at most " + Megabytes(cap_.limit);
    } else {
      const char* message = lua_tostring(lua_, -1);
      std::string text = message ? message : "the script raised an error";
      size_t trace = text.find("\nstack traceback:");
      result.error = text.substr(0, trace);
      if (trace != text.npos) result.traceback = text.substr(trace + 1);
    }
  }
  lua_settop(lua_, 0);
  SettlePending();
  std::string at = endWhere_.empty() ? "" : " at " + endWhere_;
  if (result.end == ScriptEnd::kStopped) {
    Record({"stopped", false, 0, 0, "the script was stopped" + at, endWhere_});
  } else if (result.end == ScriptEnd::kTimedOut) {
    Record({"timeout", false, 0, 0, "the run's time limit passed" + at, endWhere_});
  }
  result.steps = steps_;
  result.stepsNotKept = stepsNotKept_;
  result.failedNotKept = failedNotKept_;
  result.seconds = NowMs() / 1000.0;
  result.output = output_;
  result.outputCut = outputCut_;
  if (result.end == ScriptEnd::kError) {
    result.exitCode = 2;
  } else if (result.end == ScriptEnd::kExited) {
    result.exitCode = exitCode_;
  } else {
    result.exitCode = FailedSteps(result) > 0 ? 1 : 0;
  }
  return result;
}

void ScriptEngine::Stop(ScriptEnd why) {
  End(why);
}

void ScriptEngine::End(ScriptEnd why) {
  int expected = kRunning;
  if (!end_.compare_exchange_strong(expected, static_cast<int>(why))) return;
  buffer_.Interrupt();
  link_.Interrupt();
}

int ScriptEngine::RaiseEnd(lua_State* lua) {
  if (endWhere_.empty()) {
    // In the hook the running function is level 0; in a binding it is the
    // binding, and level 1 the script's line that called it.
    endWhere_ = Where(lua, 0);
    if (endWhere_.empty()) endWhere_ = Where(lua, 1);
  }
  // From here every instruction of this coroutine raises again, so a pcall
  // that catches the end gets no further than its next instruction.
  lua_sethook(lua, &ScriptEngine::Hook, LUA_MASKCOUNT, 1);
  lua_pushliteral(lua, "the script is ending");
  return lua_error(lua);
}

std::string ScriptEngine::Where(lua_State* lua, int level) const {
  lua_Debug debug;
  if (!lua_getstack(lua, level, &debug) || !lua_getinfo(lua, "Sl", &debug) ||
      debug.currentline <= 0) {
    return "";
  }
  return std::string(debug.short_src) + ":" + std::to_string(debug.currentline);
}

double ScriptEngine::NowMs() const {
  return std::chrono::duration<double, std::milli>(Clock::now() - start_).count();
}

void ScriptEngine::Record(ScriptStep step) {
  if (step.atMs == 0) step.atMs = NowMs();
  step.seconds = std::max(0.0, step.atMs - lastStepMs_) / 1000.0;
  lastStepMs_ = std::max(lastStepMs_, step.atMs);
  if (steps_.size() >= kKeptSteps) {
    if (stepsNotKept_++ == 0) {
      Print("-- more than " + std::to_string(kKeptSteps) +
            " steps: the later ones are counted, not listed\n");
    }
    failedNotKept_ += step.passed ? 0 : 1;
    return;
  }
  steps_.push_back(step);
  sink_.Stepped(steps_.back());
}

void ScriptEngine::SettlePending() {
  if (!pending_) return;
  ScriptStep step = std::move(*pending_);
  pending_.reset();
  Record(std::move(step));
}

void ScriptEngine::Print(std::string_view text) {
  if (output_.size() < kKeptOutput) {
    size_t room = kKeptOutput - output_.size();
    output_.append(text.substr(0, room));
    outputCut_ = outputCut_ || text.size() > room;
  } else if (!text.empty()) {
    outputCut_ = true;
  }
  sink_.Printed(text);
}

void ScriptEngine::NoteDropped() {
  uint64_t dropped = buffer_.TakeDropped();
  if (dropped == 0) return;
  Print("-- " + std::to_string(dropped) + " received bytes dropped unread (a script keeps " +
        Megabytes(ReceiveBuffer::kCapacity) + ")\n");
}

void ScriptEngine::Log(std::string_view text) {
  link_.Note(std::string(text));
  if (echoLog_) Print("log: " + std::string(text) + "\n");
}

void ScriptEngine::Check(bool passed, std::string name, std::string failure, std::string where) {
  DropPending();
  Record({std::move(name), passed, 0, 0, passed ? "" : std::move(failure), std::move(where)});
}

void ScriptEngine::Fail(std::string message, std::string where) {
  SettlePending();
  Record({message, false, 0, 0, message, where});
  endWhere_ = std::move(where);
  End(ScriptEnd::kFailed);
}

void ScriptEngine::Exit(int code) {
  SettlePending();
  exitCode_ = code;
  End(ScriptEnd::kExited);
}

ScriptEngine::Outcome ScriptEngine::LinkOutcome(const LinkFailure& failure) {
  if (Ending()) return Outcome::kEnding;
  if (!failure) return Outcome::kDone;
  problem_ = *failure;
  return Outcome::kRefused;
}

ScriptEngine::Outcome ScriptEngine::Send(std::string_view text, bool hex,
                                         const SendOptions& options) {
  return Guarded(problem_, [&] {
    if (hex && (!IsHexBytes(text) || ContentBytes(text, true, false).empty())) {
      problem_ = "not hex bytes (pairs of hex digits separated by spaces)";
      return Outcome::kError;
    }
    std::vector<uint8_t> bytes = ComposeSend(text, hex, options);
    if (bytes.empty()) return Outcome::kDone;
    return LinkOutcome(link_.Send(bytes));
  });
}

bool ScriptEngine::TakeMore(Clock::time_point deadline) {
  buffer_.Take(deadline);
  NoteDropped();
  return !Ending();
}

std::optional<PatternMatch> ScriptEngine::Search(size_t& searched, std::string& error) {
  std::span<const uint8_t> window = buffer_.Window();
  const ScriptPattern& pattern = *pattern_;
  size_t span = pattern.Span();
  while (true) {
    size_t from = pattern.Anchored() || searched <= span ? 0 : searched - span;
    size_t to = std::min(window.size(), searched + kSearchSlice);
    bool more = to < window.size();
    auto found = matcher_.Find(pattern, window.first(to), from, more, error);
    if (!error.empty()) return std::nullopt;
    if (found && more) {
      size_t again = std::min(window.size(), found->begin + kSearchSlice);
      found =
          matcher_.Find(pattern, window.first(again), found->begin, again < window.size(), error);
      if (!error.empty()) return std::nullopt;
    }
    if (found) return found;
    searched = to;
    if (!more || Ending()) return std::nullopt;
  }
}

ScriptEngine::Outcome ScriptEngine::Expect(double timeoutMs, bool optional,
                                           const std::string& where) {
  return Guarded(problem_, [&] {
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    buffer_.Take(Clock::now());
    NoteDropped();
    uint64_t searchedTo = buffer_.MarkPosition();
    bool looked = false;
    while (true) {
      uint64_t mark = buffer_.MarkPosition();
      size_t searched = searchedTo > mark ? static_cast<size_t>(searchedTo - mark) : 0;
      if (!looked || searched < buffer_.Window().size()) {
        looked = true;
        std::string error;
        std::optional<PatternMatch> found = Search(searched, error);
        searchedTo = mark + searched;
        if (!error.empty()) {
          problem_ = error;
          return Outcome::kError;
        }
        if (found) {
          match_ = std::move(*found);
          return Outcome::kDone;
        }
      }
      if (Ending()) return Outcome::kEnding;
      if (Clock::now() >= deadline) break;
      if (!TakeMore(deadline)) return Outcome::kEnding;
    }
    if (!optional) {
      pending_ = ScriptStep{"expect " + pattern_->Describe(),
                            false,
                            0,
                            NowMs(),
                            "nothing matched within " + WholeMs(timeoutMs),
                            where};
    }
    return Outcome::kNothing;
  });
}

ScriptEngine::Outcome ScriptEngine::Read(double timeoutMs) {
  return Guarded(problem_, [&] {
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    buffer_.Take(Clock::now());
    NoteDropped();
    while (buffer_.Window().empty() && Clock::now() < deadline) {
      if (!TakeMore(deadline)) return Outcome::kEnding;
    }
    if (Ending()) return Outcome::kEnding;
    return buffer_.Window().empty() ? Outcome::kNothing : Outcome::kDone;
  });
}

ScriptEngine::Outcome ScriptEngine::ReadLine(double timeoutMs, size_t& end) {
  return Guarded(problem_, [&] {
    Clock::time_point deadline = DeadlineAfter(timeoutMs);
    buffer_.Take(Clock::now());
    NoteDropped();
    uint64_t searchedTo = buffer_.MarkPosition();
    while (true) {
      std::span<const uint8_t> window = buffer_.Window();
      uint64_t mark = buffer_.MarkPosition();
      size_t from = searchedTo > mark ? static_cast<size_t>(searchedTo - mark) : 0;
      auto newline = std::find(window.begin() + static_cast<std::ptrdiff_t>(from), window.end(),
                               uint8_t{'\n'});
      if (newline != window.end()) {
        end = static_cast<size_t>(newline - window.begin());
        return Outcome::kDone;
      }
      searchedTo = mark + window.size();
      if (Ending()) return Outcome::kEnding;
      if (Clock::now() >= deadline) return Outcome::kNothing;
      if (!TakeMore(deadline)) return Outcome::kEnding;
    }
  });
}

void ScriptEngine::Flush() {
  buffer_.Take(Clock::now());
  buffer_.Consume(buffer_.Window().size());
  buffer_.TakeDropped();
}

ScriptEngine::Outcome ScriptEngine::Sleep(double ms) {
  buffer_.SleepUntil(DeadlineAfter(ms));
  return Ending() ? Outcome::kEnding : Outcome::kDone;
}

ScriptEngine::Outcome ScriptEngine::SetLines(const ScriptLineLevels& levels) {
  return Guarded(problem_, [&] { return LinkOutcome(link_.SetLines(levels)); });
}

ScriptEngine::Outcome ScriptEngine::SendBreak(int ms) {
  return Guarded(problem_, [&] { return LinkOutcome(link_.SendBreak(ms)); });
}

ScriptEngine::Outcome ScriptEngine::ApplyLine(const ScriptLineSettings& settings) {
  return Guarded(problem_, [&] { return LinkOutcome(link_.ApplyLine(settings)); });
}

ScriptEngine::Outcome ScriptEngine::Transfer() {
  return Guarded(problem_, [&] { return LinkOutcome(link_.Transfer(transfer_)); });
}

}  // namespace quorvel
