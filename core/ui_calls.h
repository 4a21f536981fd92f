// Hands calls from the receive worker to the UI thread and waits for them.
//
// The window's services must run on the UI thread, but the worker needs them
// synchronously (a refresh between its capture and its append, a message box it
// waits on). The UI thread in turn sometimes waits for the worker: closing the
// link stops the worker and waits for it to end. If the UI thread simply
// blocked there while the worker blocked on a refresh, neither would move.
//
// So the side that waits for the worker keeps serving: ServeUntil() runs every
// call the worker hands over until the worker has ended. We chose serving over
// abandoning the worker's calls because a burst that is half-flushed must still
// reach the log and a "Write com fail!" must still be seen; nothing is dropped.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "core/event_fd.h"

namespace quorvel {

class UiCallQueue {
 public:
  UiCallQueue();
  UiCallQueue(const UiCallQueue&) = delete;
  UiCallQueue& operator=(const UiCallQueue&) = delete;

  // The thread that serves calls; by default the one that built the queue.
  void SetUiThread(std::thread::id id);
  bool OnUiThread() const;

  // Readable while calls are waiting: the UI thread's event loop watches it
  // and calls Serve(). A descriptor rather than a posted event, so that the
  // hand-over is a plain system call that thread checkers can follow.
  int WakeDescriptor() const { return callsWaiting_.Descriptor(); }

  // Runs `call` on the UI thread and returns after it has run. On the UI
  // thread itself it runs at once, so a handler may call it freely.
  void Run(const std::function<void()>& call);

  // UI thread: runs every call that is waiting now.
  void Serve();

  // UI thread: serves calls until `done()` holds. `done` is checked again after
  // every call served and after every Notify().
  void ServeUntil(const std::function<bool()>& done);

  // Any thread: makes a ServeUntil look at its condition again.
  void Notify();

 private:
  struct Pending {
    const std::function<void()>* call;
    bool finished = false;
  };

  std::mutex mutex_;
  std::condition_variable changed_;
  std::deque<Pending*> waiting_;
  unsigned long notifications_ = 0;
  std::thread::id uiThread_;
  EventFd callsWaiting_;
};

}  // namespace quorvel
