// The modem-control calls on a terminal descriptor: the output lines DTR and
// RTS, the input lines CTS, DSR, DCD and RI, and break. The tty backend makes
// them through this small interface (see TtyModem) because a pseudo-terminal
// carries none of them: the terminal uses the kernel's calls, tests put a
// scripted device here. What the link uses is LineModem, which a far port
// over RFC 2217 implements as well.
#pragma once

#include <pthread.h>

namespace quorvel {

// One bit per line, whatever the implementation.
inline constexpr unsigned kLineDtr = 1u << 0;
inline constexpr unsigned kLineRts = 1u << 1;
inline constexpr unsigned kLineCts = 1u << 2;
inline constexpr unsigned kLineDsr = 1u << 3;
inline constexpr unsigned kLineDcd = 1u << 4;
inline constexpr unsigned kLineRi = 1u << 5;
inline constexpr unsigned kOutputLines = kLineDtr | kLineRts;
inline constexpr unsigned kInputLines = kLineCts | kLineDsr | kLineDcd | kLineRi;

enum class ModemWait {
  kChanged,      // an input line changed (or may have: read them to know)
  kInterrupted,  // InterruptWait ended it
  kUnsupported,  // the driver cannot wait for a change: look instead
  kFailed,       // the device no longer answers (unplugged, hung up)
};

// Whether DTR and RTS are active right after the port opens. Linux raises
// both on open; a board with an auto-reset circuit wants them dropped at once.
struct LinesAtOpen {
  bool dtrActive = true;
  bool rtsActive = true;
  bool operator==(const LinesAtOpen&) const = default;
};

// Every call works on an open terminal descriptor, from any thread; a call
// that fails changes nothing.
class ModemControl {
 public:
  virtual ~ModemControl() = default;

  // The lines now, as kLine... bits; false when the driver has no modem
  // lines (a pseudo-terminal) or does not answer.
  virtual bool GetLines(int fd, unsigned* lines) = 0;
  // Makes `lines` active (Raise) or inactive (Drop); the others stay.
  virtual bool Raise(int fd, unsigned lines) = 0;
  virtual bool Drop(int fd, unsigned lines) = 0;

  // Blocks until an input line changes, the driver fails or InterruptWait.
  virtual ModemWait WaitForChange(int fd) = 0;
  // Any thread: ends the wait that thread `waiter` is in now. A wait that
  // starts just after this call is not ended, so the caller repeats it until
  // the waiter has seen its own reason to stop.
  virtual void InterruptWait(pthread_t waiter) = 0;

  // Sends a break of about a quarter of a second, after what is queued for
  // output; returns once it is over.
  virtual bool SendBreak(int fd) = 0;
  // Starts a break of its caller's length (after what is queued for output)
  // or ends it; the caller times it, so that a long one can be cut short.
  virtual bool SetBreak(int fd, bool on) = 0;
};

// The kernel's modem-control calls; one instance serves every port.
ModemControl& KernelModemControl();

}  // namespace quorvel
