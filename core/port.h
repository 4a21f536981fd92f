// The line as the terminal's state and its engine see it: a device that is
// open or not, that can be read, written and waited on. The serial port
// implements it; whoever opens, configures and closes the device holds the
// concrete port. A failure comes back as a value; what the user reads of it
// is for the window (or the layer that speaks to it) to choose.
#pragma once

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>

namespace quorvel {

// Why an operation on the line failed: the step, and the system's reason (an
// errno value, with the system's own words where it has more to say, such as
// a name that does not resolve).
struct PortFailure {
  enum class Step {
    kOpen,     // opening the device: missing, busy, no terminal, refused
    kConnect,  // reaching a port served over the network
    kWrite,    // writing to the open line
  };
  Step step = Step::kOpen;
  int error = 0;
  std::string detail;  // empty when the errno value says it all

  std::string Reason() const { return detail.empty() ? std::strerror(error) : detail; }
};

class Port {
 public:
  virtual ~Port() = default;

  virtual bool IsOpen() const = 0;

  // Returns at once with what is buffered: the count read, 0 for nothing,
  // a capacity of 0, a closed port or an error.
  virtual int Read(uint8_t* buffer, int capacity) = 0;

  // Writes every byte within the port's write bound (what the bound cuts off
  // is no failure); a failing write says why. Any thread may call; writes
  // never interleave. A closed port writes nothing and reports nothing.
  virtual std::optional<PortFailure> Write(const uint8_t* bytes, int count) = 0;

  // Waits until the device has bytes to read, `timeoutMs` passes (-1: no
  // limit) or CancelWaits() is called.
  virtual void WaitReadable(int timeoutMs) = 0;

  // Any thread: ends the current and every later wait at once, until
  // ResumeWaits or the next open.
  virtual void CancelWaits() = 0;
  // Undoes CancelWaits, while nobody else uses the port.
  virtual void ResumeWaits() = 0;

  // Any thread: ends the current WaitReadable once (or the next one).
  virtual void WakeReader() = 0;

  // Closes the device; nothing happens when it is closed already.
  virtual void Close() = 0;

  // How long a write may take: perByteMs * count + constantMs.
  virtual void SetWriteTimeouts(int perByteMs, int constantMs) = 0;

  // For a send written piece by piece, so that it can be counted, paced and
  // cancelled as it goes. Each is serialised with Write.
  //
  // The bound of a write of `count` bytes, in milliseconds.
  virtual int64_t WriteBoundMs(int64_t count) const = 0;
  // Writes the first bytes the device takes now, waiting up to `waitMs` for
  // room: returns how many were written, 0 when no room came in time (or
  // waits are cancelled), -1 on a device error or a closed port.
  virtual int WriteSome(const uint8_t* bytes, int count, int waitMs) = 0;
  // Waits up to `waitMs` for the output queue to empty; true once it is.
  virtual bool WaitDrained(int waitMs) = 0;
};

}  // namespace quorvel
