// The modem lines and break of the line that is open now, whichever backend
// carries it: a terminal device's, through the kernel's calls on its
// descriptor (or a test's scripted device), or a far port's over RFC 2217.
// The link's line watcher, line actions and board use it. Every call may
// come from any thread while the line is open; a call that fails changes
// nothing.
#pragma once

#include "link/modem_control.h"

namespace quorvel {

class LineModem {
 public:
  virtual ~LineModem() = default;

  // The lines now, as kLine... bits; false when the line has no modem lines
  // (a pseudo-terminal) or does not answer.
  virtual bool GetLines(unsigned* lines) = 0;
  // Makes `lines` active (Raise) or inactive (Drop); the others stay.
  virtual bool Raise(unsigned lines) = 0;
  virtual bool Drop(unsigned lines) = 0;

  // Blocks until an input line changes, the line fails or InterruptWait.
  virtual ModemWait WaitForChange() = 0;
  // Any thread: ends the wait in progress now. A wait that starts just after
  // this call is not ended, so the caller repeats it until the waiter has
  // seen its own reason to stop.
  virtual void InterruptWait() = 0;

  // Sends a break of about a quarter of a second, after what is queued for
  // output; returns once it is over.
  virtual bool SendBreak() = 0;
  // Starts a break (after what is queued for output) or ends it: a break of
  // the caller's length, timed by the caller.
  virtual bool SetBreak(bool on) = 0;
  // Any thread: drops the output still queued, so that a break waiting for
  // it to drain (which it never does while the far side holds the line)
  // goes ahead.
  virtual void DropQueuedOutput() = 0;
};

}  // namespace quorvel
