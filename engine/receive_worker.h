// The terminal's loop on the line side: polls the port, gathers bursts into
// the receive log with their statistics, hands them to the taps (the log
// file, the session view), and answers frames in the echo and auto-reply
// modes and by the answer rules (engine/rule_responder.h).
#pragma once

#include <atomic>
#include <thread>

#include "core/terminal_state.h"
#include "engine/frame_gatherer.h"

namespace quorvel {

// Runs passes on the calling thread until the port is closed or `stop` is
// set, both seen at the end of a pass. Returns 0.
int ReceiveWorker(TerminalState& state, const std::atomic<bool>& stop);

// Owns the one receive worker of a terminal state.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { StopAndWait(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a worker for `state`; a worker still running is stopped first.
  void Start(TerminalState& state);

  // Tells the worker to stop and returns once it has ended. Call it on the
  // thread that serves state.uiCalls: while it waits it keeps serving the
  // worker's refreshes and message boxes, which the worker may be waiting on.
  void StopAndWait();

  bool Running() const { return !finished_.load(); }

 private:
  TerminalState* state_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
};

}  // namespace quorvel
