// A script run on a thread of its own, as the Script pane and the headless
// command line start it: load, run, Stop, an overall time limit, and what the
// script says as a stream of events.
//
// The runner never calls into a window. Each event (a printed line, a step,
// the end) is queued under a short lock, and EventDescriptor() turns
// readable when the queue was empty; the window (or the headless loop)
// watches it beside its other descriptors and takes the queue at its pace.
// Printed text waiting in the queue is bounded; past kMaxQueuedOutput it is
// dropped and a note says so (the result keeps its own copy for the
// report). Steps and the end are never dropped.
//
// Threads: Start, Wait and the destructor on the owner's thread; Stop,
// Running and TakeEvents from any (not from a signal handler). A time limit
// is kept by a watchdog thread that stops the script when it passes, inside
// a blocking send or transfer too.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "core/event_fd.h"
#include "script/script_engine.h"
#include "script/script_link.h"
#include "script/script_steps.h"

namespace quorvel {

struct ScriptEvent {
  enum class Kind { kPrinted, kStep, kEnded };
  Kind kind = Kind::kPrinted;
  std::string text;  // kPrinted
  ScriptStep step;   // kStep
};

class ScriptRunner : private ScriptSink {
 public:
  static constexpr size_t kMaxQueuedOutput = 4u << 20;

  struct Options {
    double timeoutSeconds = 0;  // 0: no limit
    size_t memoryLimit = ScriptEngine::kDefaultMemoryLimit;
    // log(text) is also printed ("log: text"), for a run with no session
    // view or log file to show it.
    bool echoLog = false;
    // Told on the script's thread once Running() is false and the kEnded
    // event is queued; must return at once. A window that waits for the end
    // while it serves the script's calls wakes its wait here.
    std::function<void()> ended;
  };

  explicit ScriptRunner(ScriptLink& link) : link_(link) {}
  ~ScriptRunner() override;  // stops a running script and waits for its end
  ScriptRunner(const ScriptRunner&) = delete;
  ScriptRunner& operator=(const ScriptRunner&) = delete;

  // Loads the script and starts it. False, with why in `problem` and nothing
  // started, when a script runs already, the file cannot be read or it does
  // not compile ("board.lua:3: '=' expected near 'x'"). The events of an
  // earlier run not yet taken are dropped.
  bool Start(const std::string& path, const Options& options, std::string& problem);
  // The same for a script held in memory, named `name` in its messages.
  bool StartText(std::string_view name, std::string_view code, const Options& options,
                 std::string& problem);

  // Ends the running script promptly (a failed step "stopped"); harmless
  // when none runs. Never waits.
  void Stop();
  bool Running() const { return running_.load(); }

  int EventDescriptor() const { return news_.Descriptor(); }
  // Quiets the descriptor and returns the events queued since the last call.
  std::vector<ScriptEvent> TakeEvents();

  // Waits for the script's end (at once after its kEnded event) and returns
  // its result; an empty result when none was started.
  ScriptResult Wait();

 private:
  bool Begin(std::unique_ptr<ScriptEngine> engine, const Options& options);
  void Run();
  void Watch(double timeoutSeconds);
  void Join();
  void Push(ScriptEvent event);
  void Printed(std::string_view text) override;
  void Stepped(const ScriptStep& step) override;

  ScriptLink& link_;
  std::unique_ptr<ScriptEngine> engine_;  // the owner's; Stop reads it under mutex_
  std::thread thread_;
  std::thread watchdog_;
  std::atomic<bool> running_{false};
  std::function<void()> ended_;  // the run's, set before its thread starts

  mutable std::mutex mutex_;
  std::condition_variable over_;    // for the watchdog
  bool done_ = false;               // under mutex_
  std::vector<ScriptEvent> queue_;  // under mutex_
  size_t queuedOutput_ = 0;         // under mutex_
  bool outputDropped_ = false;      // under mutex_
  ScriptResult result_;             // under mutex_, once done_
  EventFd news_;
};

}  // namespace quorvel
