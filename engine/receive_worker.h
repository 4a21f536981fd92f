// A line's loop on the line side: polls the port, gathers bursts, hands
// every run read to the line's listeners, counts each burst with its
// interval since the last transmission, and, for a line shown by the
// terminal's window, puts the bursts into the terminal state's receive log
// and answers frames in the echo and auto-reply modes and by the answer
// rules (engine/rule_responder.h), as replies through the line's door.
// While a file transfer takes the received bytes (LinkHub::TakeReceived),
// what is read goes to it instead.
#pragma once

#include <atomic>
#include <thread>

#include "core/link_hub.h"
#include "core/terminal_state.h"
#include "engine/frame_gatherer.h"
#include "engine/rule_responder.h"
#include "engine/send_writer.h"

namespace quorvel {

// What a worker works with. `terminal` may be null: then there is no
// receive log, no frame is answered and the window is told nothing; the
// counters' news says that bursts came. Such a line may still answer by
// the rules of `answers` (a bridge's side), which outlives the worker.
struct WorkerParts {
  LinkHub& hub;
  SendWriter& door;
  TerminalState* terminal = nullptr;
  AnswerSource* answers = nullptr;  // only without a terminal
};

// Runs passes on the calling thread until the port is closed or `stop` is
// set, both seen at the end of a pass. Returns 0.
int ReceiveWorker(const WorkerParts& parts, const std::atomic<bool>& stop);

// Owns the one receive worker of a line.
class WorkerThread {
 public:
  WorkerThread() = default;
  ~WorkerThread() { StopAndWait(); }
  WorkerThread(const WorkerThread&) = delete;
  WorkerThread& operator=(const WorkerThread&) = delete;

  // Starts a worker; a worker still running is stopped first.
  void Start(const WorkerParts& parts);

  // Tells the worker to stop and returns once it has ended. Call it on the
  // thread that serves the hub's uiCalls: while it waits it keeps serving the
  // worker's refreshes, which the worker may be waiting on.
  void StopAndWait();

  bool Running() const { return !finished_.load(); }

 private:
  LinkHub* hub_ = nullptr;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<bool> finished_{true};
};

}  // namespace quorvel
