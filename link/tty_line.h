// The terminal-device backend of SerialPort: a serial device of this
// machine (a UART, a USB adapter, a pseudo-terminal), opened exclusively in
// raw mode through termios2. See LineBackend for the threads; the
// descriptor changes only on the thread that opens and closes the port.
//
// A device that hangs up (an unplugged adapter) reads as gone: the port then
// has the reading thread Release it at once, so that the kernel can free its
// name for the adapter's return.
#pragma once

#include "core/unique_fd.h"
#include "link/line_backend.h"
#include "link/line_signals.h"
#include "link/tty_modem.h"

namespace quorvel {

class TtyLine : public LineBackend {
 public:
  // `modem` carries the modem lines and break of every device opened here.
  TtyLine(LineSignals& signals, ModemControl& modem) : signals_(signals), modem_(modem) {}
  ~TtyLine() override { Close(); }
  TtyLine(const TtyLine&) = delete;
  TtyLine& operator=(const TtyLine&) = delete;

  // A device held by another process, or one that is no terminal, fails
  // (EBUSY, ENOTTY). Both queues are emptied once the line is set.
  OpenOutcome Open(const PortTarget& target, const LineParameters& line,
                   LinesAtOpen lines) override;

  int Descriptor() const override { return fd_.Get(); }
  LineModem& Modem() override { return modem_; }

  ConfigOutcome SetConfig(const LineParameters& line) override;
  uint32_t RateInForce() const override;
  void SetHangUpOnClose(bool drop) override;

  int Read(uint8_t* buffer, int capacity) override;
  void WaitReadable(int timeoutMs) override;
  // Waits for room, then for the output queue to drain; what is still
  // queued at the deadline is discarded. Received bytes never are.
  int Write(const uint8_t* bytes, int count, int64_t deadline) override;
  int WriteSome(const uint8_t* bytes, int count, int waitMs) override;
  bool WaitDrained(int waitMs) override;

  void Release() override { StandInForDeadLine(fd_.Get()); }
  void Close() override;

 private:
  // 0 once open, else an errno value.
  int OpenDevice(const std::string& path);
  void ApplyLinesAtOpen(LinesAtOpen lines);
  static bool IsHangupError(int error);
  bool WaitWritable(int64_t deadline);
  bool DrainedBy(int64_t deadline);

  LineSignals& signals_;
  TtyModem modem_;
  UniqueFd fd_;
};

}  // namespace quorvel
