// One kind of line behind SerialPort: a terminal device of this machine
// (TtyLine) or a serial port served over the network (NetworkLine). The port
// picks one for each open and keeps the contract that both share: whether
// the line is open, the write lock and its bound, and handing a hang-up to
// the reading thread. A backend does the line's I/O and reports a line that
// is gone through the port's LineSignals.
//
// Threads, as SerialPort's own operations call them: Open, FinishConnect,
// SetConfig, SetHangUpOnClose and Close on the thread that opens and closes
// the port; Read, WaitReadable and Release on the reading thread; Write,
// WriteSome and WaitDrained on any thread, one at a time (the port's write
// lock), and never once Close has begun.
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "core/port.h"
#include "link/line_modem.h"
#include "link/line_parameters.h"
#include "link/modem_control.h"
#include "link/port_target.h"

namespace quorvel {

// What SetConfig did with the parameters.
struct ConfigOutcome {
  bool applied = false;  // false: the driver refused them and kept what it had
  uint32_t rate = 0;     // the rate in force afterwards as the driver reports it; 0 unknown
};

// How an open went: open, still connecting (a network port), or failed.
struct OpenOutcome {
  enum class State { kOpen, kConnecting, kFailed };
  State state = State::kFailed;
  PortFailure failure;  // why, when it failed

  static OpenOutcome Opened() { return {State::kOpen, {}}; }
  static OpenOutcome Connecting() { return {State::kConnecting, {}}; }
  static OpenOutcome Failed(PortFailure::Step step, int error, std::string detail = {}) {
    return {State::kFailed, {step, error, std::move(detail)}};
  }
  // Open now.
  explicit operator bool() const { return state == State::kOpen; }
  bool InProgress() const { return state == State::kConnecting; }
};

class LineBackend {
 public:
  virtual ~LineBackend() = default;

  // Opens `target` (of this backend's kind) with `line` applied and the
  // output lines as `lines` say; one that goes on is finished by
  // FinishConnect. A failure leaves the backend closed.
  virtual OpenOutcome Open(const PortTarget& target, const LineParameters& line,
                           LinesAtOpen lines) = 0;
  // Whether a connection is being made, and how it ended, as Open.
  virtual bool Connecting() const { return false; }
  virtual OpenOutcome FinishConnect(const LineParameters& line, LinesAtOpen lines);

  virtual int Descriptor() const = 0;
  virtual LineModem& Modem() = 0;

  // Applies the parameters that have values to the open line.
  virtual ConfigOutcome SetConfig(const LineParameters& line) = 0;
  // The rate the open line has now; 0 unknown.
  virtual uint32_t RateInForce() const = 0;
  // Whether the last close drops DTR and RTS; a line without them ignores it.
  virtual void SetHangUpOnClose(bool /*drop*/) {}

  // The count read, 0 for nothing now, -1 when the line is gone.
  virtual int Read(uint8_t* buffer, int capacity) = 0;
  // Waits until the line has bytes to read, `timeoutMs` passes (-1: no
  // limit), waits are cancelled or the reader is woken.
  virtual void WaitReadable(int timeoutMs) = 0;
  // Writes every byte, or as many as go before `deadline` (steady
  // milliseconds) or a cancel: 0, or the errno of a failure.
  virtual int Write(const uint8_t* bytes, int count, int64_t deadline) = 0;
  // The first bytes the line takes now, waiting up to `waitMs` for room: how
  // many, 0 when none, -1 on a failure.
  virtual int WriteSome(const uint8_t* bytes, int count, int waitMs) = 0;
  // Waits up to `waitMs` for the output queue to empty; true once it is.
  virtual bool WaitDrained(int waitMs) = 0;

  // The line is gone: let go of it at once, while the descriptor's number
  // stays ours until Close.
  virtual void Release() = 0;
  // Closes the line and ends an open that goes on; harmless when closed.
  virtual void Close() = 0;
};

// Puts a harmless file (/dev/null) in place of the dead line under the
// number `fd`: the kernel lets go of the device or connection now, while
// threads that still hold the number meet that file instead of whatever the
// number would name after a close.
void StandInForDeadLine(int fd);

}  // namespace quorvel
