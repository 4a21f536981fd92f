// One serial line, opened by its target. The receive worker
// reads it, the UI thread and the worker write it, the link control opens,
// configures and closes it; Open, SetConfig and Close run on the UI thread
// only, and the link control ends the worker before it closes, so no read
// ever meets a closed descriptor.
//
// The line is a terminal device of this machine (TtyLine) or a serial port
// served over the network (rfc2217://HOST:PORT, tcp://HOST:PORT; NetworkLine):
// each open picks the backend, which does the I/O, and the port keeps the
// contract the worker, the writers and the link rely on. A network port
// does not open at once: Open and Reopen start connecting and say so;
// ConnectDescriptor() turns readable when the attempt is over, and
// FinishConnect() opens the port or says why not. Failures come back as
// values; the port shows nothing.
//
// A line that hangs up (an unplugged adapter, a server gone) is let go of by
// the reading thread itself, at once, so that the kernel can free its name
// for the adapter's return; the port then reads as closed and
// HangupDescriptor() turns readable, and Close() ends the rest.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "core/event_fd.h"
#include "core/port.h"
#include "link/line_backend.h"
#include "link/line_parameters.h"
#include "link/line_signals.h"
#include "link/modem_control.h"
#include "link/network_line.h"
#include "link/port_target.h"
#include "link/tty_line.h"

namespace quorvel {

class SerialPort : public Port {
 public:
  SerialPort() : SerialPort(KernelModemControl()) {}
  // `modem` carries the modem lines and break of every device this port opens.
  explicit SerialPort(ModemControl& modem) : tty_(signals_, modem) {}
  ~SerialPort() override;  // closes the device if it is still open
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  bool IsOpen() const override { return isOpen_.load(std::memory_order_acquire); }

  // Opens `target`: a device exclusively in raw mode, with DTR and RTS as
  // LinesAtOpen() says, `line` applied and both queues emptied; a network
  // port starts connecting. A failure leaves the port closed. A device held
  // by another process (EBUSY), or one that is no terminal (ENOTTY), fails.
  OpenOutcome Open(const PortTarget& target, const LineParameters& line);

  // Opens the target of the last Open again, in the same way: ENOENT while
  // the device is away, EACCES or EBUSY while it is not ours yet.
  OpenOutcome Reopen(const LineParameters& line);
  // The target of the last Open that did not fail; none before any.
  const std::optional<PortTarget>& Target() const { return target_; }
  // Its text (a device path or a network address); "" before any.
  const std::string& Path() const;

  // A network port: whether the target is one, its kind, whether a
  // connection attempt goes on, and its end (UI thread).
  bool IsNetwork() const { return target_ && target_->IsNetwork(); }
  NetworkKind NetworkType() const { return net_.Kind(); }
  bool Connecting() const { return Line().Connecting(); }
  int ConnectDescriptor() const { return net_.ConnectDescriptor(); }
  // Open once connected (the line settings of the Open or Reopen applied),
  // still connecting, or why not.
  OpenOutcome FinishConnect();

  // Readable from a hang-up until the next Open or Reopen.
  int HangupDescriptor() const { return hungUp_.Descriptor(); }
  // Whether the line hung up since the last call, Open or Reopen.
  bool TakeHangup() { return hungUp_.Drain(); }

  // Applies the parameters that have values to the open device; a closed port
  // or a rejected configuration changes nothing. Says
  // whether the driver took them and the rate it then has (a driver may
  // round a rate to one its clock can make).
  ConfigOutcome SetConfig(const LineParameters& line);
  // The rate the open device has now, as its driver reports it; 0 unknown.
  uint32_t RateInForce() const;

  // Returns at once with what is buffered: the count read, 0 for nothing,
  // a capacity of 0, a closed port or an error.
  int Read(uint8_t* buffer, int capacity) override;

  // Writes every byte, waiting for room and then for the output queue to
  // drain, within perByte * count + constant milliseconds; what is still queued
  // then is discarded. Received bytes are never discarded. A failing write
  // says why. Any thread may call; writes never interleave.
  std::optional<PortFailure> Write(const uint8_t* bytes, int count) override;

  // Waits until the device has bytes to read, `timeoutMs` passes (-1: no
  // limit) or CancelWaits() is called. A hung-up device ends the wait, and
  // the Read after it closes the device (on the reading thread).
  void WaitReadable(int timeoutMs) override;

  // Any thread: ends the current and every later WaitReadable and Write wait
  // at once, until ResumeWaits or the next Open. Used to stop the worker
  // promptly.
  void CancelWaits() override { signals_.CancelWaits(); }

  // Undoes CancelWaits: later waits wait again. Only while nobody else uses
  // the port (the worker has ended), or a wait could miss its cancellation.
  void ResumeWaits() override { signals_.ResumeWaits(); }

  // Any thread: ends the current WaitReadable once (or the next one, when
  // nobody waits now). The window uses it when a change it made may decide
  // something for the receive worker, such as a frame rule.
  void WakeReader() override { signals_.WakeReader(); }

  // Closes the device; nothing happens when it is closed already.
  void Close() override;

  // How long a write may take: perByteMs * count + constantMs.
  void SetWriteTimeouts(int perByteMs, int constantMs) override;

  int64_t WriteBoundMs(int64_t count) const override;
  int WriteSome(const uint8_t* bytes, int count, int waitMs) override;
  bool WaitDrained(int waitMs) override;

  int Descriptor() const { return Line().Descriptor(); }

  LineModem& Modem() { return Line().Modem(); }
  // UI thread. Taken at every later open; while open, only whether closing
  // drops the lines (HUPCL: kept when both lines are active at open, cleared
  // otherwise, so a board kept out of reset is not reset by the close either).
  void SetLinesAtOpen(LinesAtOpen lines);
  LinesAtOpen GetLinesAtOpen() const { return linesAtOpen_; }

 private:
  LineBackend& Line() const { return *line_.load(); }
  // Opens `target` on the backend its kind needs.
  OpenOutcome OpenTarget(const PortTarget& target, const LineParameters& line);
  // The backend opened the line: it reads as open from now on.
  void Opened();
  // Reading thread: a hang-up lets go of the device at once. A wait or a
  // writer only marks it (LineSignals; a writer also wakes the reader), and
  // the next Read lets go.
  void DropHungUpLine();

  LinesAtOpen linesAtOpen_;
  std::atomic<bool> isOpen_{false};
  std::optional<PortTarget> target_;
  LineParameters pendingLine_;  // for the connection being made
  LineSignals signals_;
  EventFd hungUp_;
  // Taken by every writer, and by whatever changes the descriptor under them.
  std::mutex writeMutex_;
  std::atomic<int> writePerByteMs_{100};
  std::atomic<int> writeConstantMs_{500};
  TtyLine tty_;
  NetworkLine net_{signals_};
  std::atomic<LineBackend*> line_{&tty_};  // the backend of the last Open
};

}  // namespace quorvel
