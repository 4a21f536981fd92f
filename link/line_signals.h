// What a port shares with the backend that carries its line: the cancel of
// every wait, the reader's wake, and the mark a writer leaves when it finds
// the line gone, so that the reading thread lets go of it. Any thread may
// call every operation; each is a flag and a descriptor that poll() can wait
// on beside the line's own.
#pragma once

#include <atomic>

#include "core/event_fd.h"

namespace quorvel {

class LineSignals {
 public:
  // Ends the current and every later wait at once, until ResumeWaits.
  void CancelWaits() {
    cancelled_.store(true);
    cancelEvent_.Signal();
  }
  // Later waits wait again. Only while nobody else waits on the line, or a
  // wait could miss its cancellation.
  void ResumeWaits() {
    cancelEvent_.Drain();
    cancelled_.store(false);
  }
  bool Cancelled() const { return cancelled_.load(); }
  // Readable while waits are cancelled.
  int CancelDescriptor() const { return cancelEvent_.Descriptor(); }

  // Ends the reader's current wait once (or its next one).
  void WakeReader() { wake_.Signal(); }
  int WakeDescriptor() const { return wake_.Descriptor(); }
  // Whether a wake was waiting; it is taken.
  bool TakeWake() { return wake_.Drain(); }

  // The line is gone: the reader's next read lets go of it.
  void MarkHungUp() { markedHungUp_.store(true); }
  bool HungUpMarked() const { return markedHungUp_.load(); }
  void ClearHungUp() { markedHungUp_.store(false); }

  // Sleeps up to `ms`, or less when waits are cancelled.
  void Pause(int ms) const;

 private:
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> markedHungUp_{false};
  EventFd cancelEvent_;  // signalled while waits are cancelled
  EventFd wake_;         // signalled from WakeReader until a wait takes it
};

}  // namespace quorvel
