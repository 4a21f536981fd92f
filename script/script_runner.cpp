#include "script/script_runner.h"

#include <chrono>

namespace quorvel {

ScriptRunner::~ScriptRunner() {
  Stop();
  Join();
  // The engine goes before the members its sink writes to.
  engine_.reset();
}

bool ScriptRunner::Start(const std::string& path, const Options& options, std::string& problem) {
  if (Running()) {
    problem = "a script is running";
    return false;
  }
  auto engine =
      std::make_unique<ScriptEngine>(link_, static_cast<ScriptSink&>(*this), options.memoryLimit);
  if (!engine->LoadFile(path, problem)) return false;
  return Begin(std::move(engine), options);
}

bool ScriptRunner::StartText(std::string_view name, std::string_view code, const Options& options,
                             std::string& problem) {
  if (Running()) {
    problem = "a script is running";
    return false;
  }
  auto engine =
      std::make_unique<ScriptEngine>(link_, static_cast<ScriptSink&>(*this), options.memoryLimit);
  if (!engine->LoadText(name, code, problem)) return false;
  return Begin(std::move(engine), options);
}

bool ScriptRunner::Begin(std::unique_ptr<ScriptEngine> engine, const Options& options) {
  Join();
  {
    std::lock_guard guard(mutex_);
    engine_.swap(engine);
    done_ = false;
    queue_.clear();
    queuedOutput_ = 0;
    outputDropped_ = false;
    result_ = {};
  }
  engine.reset();  // the last run's, outside the lock: its close may run finalizers
  news_.Drain();
  link_.Resume();
  engine_->EchoLog(options.echoLog);
  ended_ = options.ended;
  running_ = true;
  thread_ = std::thread(&ScriptRunner::Run, this);
  if (options.timeoutSeconds > 0) {
    watchdog_ = std::thread(&ScriptRunner::Watch, this, options.timeoutSeconds);
  }
  return true;
}

void ScriptRunner::Run() {
  ScriptResult result = engine_->Run();
  {
    std::lock_guard guard(mutex_);
    result_ = std::move(result);
    done_ = true;
  }
  over_.notify_all();
  running_ = false;
  Push({ScriptEvent::Kind::kEnded, {}, {}});
  if (ended_) ended_();
}

void ScriptRunner::Watch(double timeoutSeconds) {
  auto deadline = std::chrono::steady_clock::now() +
                  std::chrono::microseconds(static_cast<int64_t>(timeoutSeconds * 1e6));
  std::unique_lock lock(mutex_);
  if (!over_.wait_until(lock, deadline, [&] { return done_; })) {
    engine_->Stop(ScriptEnd::kTimedOut);
  }
}

void ScriptRunner::Stop() {
  std::lock_guard guard(mutex_);
  if (engine_ && !done_) engine_->Stop(ScriptEnd::kStopped);
}

void ScriptRunner::Join() {
  if (thread_.joinable()) thread_.join();
  if (watchdog_.joinable()) watchdog_.join();
}

ScriptResult ScriptRunner::Wait() {
  Join();
  std::lock_guard guard(mutex_);
  return result_;
}

std::vector<ScriptEvent> ScriptRunner::TakeEvents() {
  // Quieted before the queue is taken, so an event queued meanwhile is
  // either taken now or signals again.
  news_.Drain();
  std::vector<ScriptEvent> events;
  std::lock_guard guard(mutex_);
  events.swap(queue_);
  queuedOutput_ = 0;
  outputDropped_ = false;
  return events;
}

void ScriptRunner::Push(ScriptEvent event) {
  bool first = false;
  {
    std::lock_guard guard(mutex_);
    if (event.kind == ScriptEvent::Kind::kPrinted) {
      if (queuedOutput_ + event.text.size() > kMaxQueuedOutput) {
        // One note where the gap begins, until the queue is taken.
        if (outputDropped_) return;
        outputDropped_ = true;
        event.text = "-- printed output dropped: it came faster than it was read\n";
      }
      queuedOutput_ += event.text.size();
    }
    first = queue_.empty();
    queue_.push_back(std::move(event));
  }
  if (first) news_.Signal();
}

void ScriptRunner::Printed(std::string_view text) {
  Push({ScriptEvent::Kind::kPrinted, std::string(text), {}});
}

void ScriptRunner::Stepped(const ScriptStep& step) {
  Push({ScriptEvent::Kind::kStep, {}, step});
}

}  // namespace quorvel
