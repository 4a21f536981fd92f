// One run of one script: its Lua state, the functions it may call, what it
// has received, its steps and its end.
//
// Threads: the runner's script thread makes the engine, loads the chunk and
// runs it (script/script_runner.h does all of that); Stop alone may be called
// from any thread, and the sink is called on the script's thread only. The
// engine never calls into a window: what the script prints and the steps it
// takes go to the sink, which must return at once.
//
// Safety: the script is the user's own code and has the standard libraries
// (os.exit ends the script, not the program). Bytes from the device are only
// ever data: a pattern is matched against them, nothing runs them. The
// state's memory is capped by its allocator; going past the cap is a Lua
// memory error, which ends the script with a clear message unless it
// catches it. Stop reaches the script within a count hook's interval even in
// `while true do end`, and inside a blocking expect, read, readline, sleep,
// send or transfer; once stopping, the hook raises at every instruction, so
// no pcall can hold the script.
//
// Bindings that reach C++ must not hold C++ objects across a Lua call that
// can raise (Lua is built as C: its errors jump past destructors), so what a
// call composes lives in the engine, not on the binding's stack.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "script/receive_buffer.h"
#include "script/script_link.h"
#include "script/script_pattern.h"
#include "script/script_steps.h"
#include "sending/send_composer.h"

struct lua_State;
struct lua_Debug;

namespace quorvel {

// Hears what a running script says. The script's thread calls it; each call
// returns at once (copy, queue, wake).
class ScriptSink {
 public:
  virtual ~ScriptSink() = default;
  // What print() wrote, with its line end; also the engine's own notes
  // ("-- 4096 received bytes dropped unread").
  virtual void Printed(std::string_view text) = 0;
  virtual void Stepped(const ScriptStep& step) = 0;
};

class ScriptEngine {
 public:
  static constexpr size_t kDefaultMemoryLimit = 64u << 20;
  static constexpr double kDefaultWaitMs = 10'000;  // expect and readline
  static constexpr double kMaxWaitMs = 86'400'000;  // a day
  static constexpr int kDefaultBreakMs = 250;       // as the Port menu's break
  static constexpr size_t kKeptOutput = 1u << 20;   // printed output kept for the report
  static constexpr size_t kKeptSteps = 100'000;     // beyond, steps are only counted

  ScriptEngine(ScriptLink& link, ScriptSink& sink, size_t memoryLimit = kDefaultMemoryLimit);
  ~ScriptEngine();
  ScriptEngine(const ScriptEngine&) = delete;
  ScriptEngine& operator=(const ScriptEngine&) = delete;

  // Compiles the script (text only, never a precompiled chunk). False, with
  // "file:line: message" as Lua words it in `problem`, when the file cannot
  // be read or does not compile.
  bool LoadFile(const std::string& path, std::string& problem);
  bool LoadText(std::string_view name, std::string_view code, std::string& problem);

  // Runs the loaded chunk to its end on the calling thread, with the
  // buffer attached to the link for the while; the result and exit code.
  ScriptResult Run();

  // Any thread; the first reason given stands. The script ends promptly.
  void Stop(ScriptEnd why);
  // Before Run: log(text) is printed too ("log: text").
  void EchoLog(bool on) { echoLog_ = on; }

  // The binding's side (script/script_api.cpp); the script's thread only.
  enum class Outcome {
    kDone,     // results are ready to push
    kNothing,  // nil
    kRefused,  // nil and problem()
    kError,    // a Lua error with problem()
    kEnding,   // the script is being ended: raise that
  };
  static ScriptEngine& Of(lua_State* lua);
  bool Ending() const { return end_.load() != kRunning; }
  int RaiseEnd(lua_State* lua);
  std::string& problem() { return problem_; }
  // Records a timed-out expect still waiting for its verdict (any call but
  // check, print, log and now settles it as failed).
  void SettlePending();
  void DropPending() { pending_.reset(); }
  std::string Where(lua_State* lua, int level) const;

  Outcome Send(std::string_view text, bool hex, const SendOptions& options);
  // `pattern` is read into pattern() first.
  std::optional<ScriptPattern>& pattern() { return pattern_; }
  Outcome Expect(double timeoutMs, bool optional, const std::string& where);
  const PatternMatch& match() const { return match_; }
  std::span<const uint8_t> Received() const { return buffer_.Window(); }
  void Consume(size_t count) { buffer_.Consume(count); }
  Outcome Read(double timeoutMs);                   // the window holds what to return
  Outcome ReadLine(double timeoutMs, size_t& end);  // the line is Received()[0, end)
  void Flush();
  Outcome Sleep(double ms);
  double NowMs() const;
  Outcome SetLines(const ScriptLineLevels& levels);
  Outcome SendBreak(int ms);
  Outcome ApplyLine(const ScriptLineSettings& settings);
  ScriptTransfer& transfer() { return transfer_; }
  Outcome Transfer();
  void Print(std::string_view text);
  void Log(std::string_view text);
  void Check(bool passed, std::string name, std::string failure, std::string where);
  // fail(message) and exit(code): the script ends after the step.
  void Fail(std::string message, std::string where);
  void Exit(int code);

 private:
  static constexpr int kRunning = -1;
  struct MemoryCap {
    size_t used = 0;
    size_t limit = 0;
  };
  static void* Allocate(void* cap, void* block, size_t oldSize, size_t newSize);
  static void Hook(lua_State* lua, lua_Debug* debug);
  static void Warn(void* engine, const char* message, int more);
  bool Loaded(int status, std::string& problem);
  void Record(ScriptStep step);
  void End(ScriptEnd why);
  // Waits for more to arrive or the deadline; false when the script must end.
  bool TakeMore(ReceiveBuffer::Clock::time_point deadline);
  std::optional<PatternMatch> Search(size_t& searched, std::string& error);
  Outcome LinkOutcome(const LinkFailure& failure);
  void NoteDropped();

  ScriptLink& link_;
  ScriptSink& sink_;
  MemoryCap cap_;
  lua_State* lua_ = nullptr;
  bool loaded_ = false;
  ReceiveBuffer buffer_;
  PatternMatcher matcher_;
  ReceiveBuffer::Clock::time_point start_ = ReceiveBuffer::Clock::now();
  double lastStepMs_ = 0;
  std::atomic<int> end_{kRunning};  // a ScriptEnd once ending
  int exitCode_ = 0;
  std::string endWhere_;  // where the script was when its end reached it
  std::string problem_;
  std::optional<ScriptPattern> pattern_;
  PatternMatch match_;
  ScriptTransfer transfer_;
  std::optional<ScriptStep> pending_;
  std::vector<ScriptStep> steps_;
  int stepsNotKept_ = 0;
  int failedNotKept_ = 0;
  std::string output_;
  bool outputCut_ = false;
  std::string warning_;
  bool warningsOn_ = false;
  bool echoLog_ = false;
};

}  // namespace quorvel
