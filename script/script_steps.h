// What a script run leaves: its steps and how it ended, as the Script pane,
// the headless output and the reports read them.
//
// A step is a check(), a fail(), an expect that timed out with nobody to
// judge it, or the run's own end when it was stopped or ran out of time.
// Exit codes, as `quorvel --script` returns them: 0 every step passed, 1 a
// step failed (a stop or a timeout is a failed step), 2 the script could not
// be loaded or raised an error; exit(code) gives its own.
#pragma once

#include <string>
#include <vector>

namespace quorvel {

struct ScriptStep {
  std::string name;
  bool passed = false;
  double seconds = 0;   // since the step before it ended (or the start)
  double atMs = 0;      // when it ended, from the script's start
  std::string failure;  // why, for a failed step
  std::string where;    // "board.lua:12", where the script made it
  bool operator==(const ScriptStep&) const = default;
};

enum class ScriptEnd {
  kFinished,  // the chunk returned
  kExited,    // exit(code) or os.exit
  kFailed,    // fail(message)
  kError,     // a Lua error nothing caught, or out of memory
  kStopped,   // Stop
  kTimedOut,  // the run's time limit
};

struct ScriptResult {
  ScriptEnd end = ScriptEnd::kFinished;
  int exitCode = 0;
  std::vector<ScriptStep> steps;
  std::string error;      // kError: "board.lua:12: attempt to call a nil value (global 'sned')"
  std::string traceback;  // kError: Lua's stack traceback, when there is one
  double seconds = 0;     // the whole run
  std::string output;     // what the script printed, its first kKeptOutput bytes
  bool outputCut = false;
  // Steps past the kept number (a check in an endless loop): counted only.
  int stepsNotKept = 0;
  int failedNotKept = 0;
};

inline int StepCount(const ScriptResult& result) {
  return static_cast<int>(result.steps.size()) + result.stepsNotKept;
}

inline int FailedSteps(const ScriptResult& result) {
  int failed = result.failedNotKept;
  for (const ScriptStep& step : result.steps) failed += step.passed ? 0 : 1;
  return failed;
}

}  // namespace quorvel
