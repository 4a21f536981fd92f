// One serial device, opened by COM number. The receive worker reads it, the UI
// thread and the worker write it, the link control opens, configures and closes
// it; Open, SetConfig and Close run on the UI thread only, and the link control
// ends the worker before it closes, so no read ever meets a closed descriptor.
//
// A path may also name a serial port served over the network
// (rfc2217://HOST:PORT, tcp://HOST:PORT): the port then hands its operations
// to a NetworkLine (link/network_line.h), and every tty path works as before.
// Such a port does not open at once: Open and Reopen start connecting and
// report no success yet (Connecting() says so); ConnectDescriptor() turns
// readable when the attempt is over, and FinishConnect() opens the port or
// says why not.
//
// A device that hangs up (an unplugged adapter) is let go of by the reading
// thread itself, at once, so that the kernel can free its name for the
// adapter's return; the port then reads as closed and HangupDescriptor()
// turns readable, and Close() ends the rest.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "core/event_fd.h"
#include "core/port.h"
#include "core/window_services.h"
#include "link/line_parameters.h"
#include "link/modem_control.h"
#include "link/network_line.h"
#include "link/port_names.h"

namespace quorvel {

// What SetConfig did with the parameters.
struct ConfigOutcome {
  bool applied = false;  // false: the driver refused them and kept what it had
  uint32_t rate = 0;     // the rate in force afterwards as the driver reports it; 0 unknown
};

class SerialPort : public Port {
 public:
  SerialPort() : SerialPort(KernelModemControl()) {}
  // `modem` carries the modem lines and break of every device this port opens.
  explicit SerialPort(ModemControl& modem);
  ~SerialPort() override;  // closes the device if it is still open
  SerialPort(const SerialPort&) = delete;
  SerialPort& operator=(const SerialPort&) = delete;

  // Where "Open com fail!" and "Write com fail!" are shown; null shows nothing.
  void AttachWindow(WindowServices* window) override { window_.store(window); }

  PortNames& Names() { return names_; }
  const PortNames& Names() const { return names_; }

  bool IsOpen() const override { return isOpen_.load(std::memory_order_acquire); }

  // Opens COM `portNumber` exclusively in raw mode, sets DTR and RTS as
  // LinesAtOpen() says, applies `line` and empties both queues. On failure shows "Open com fail!",
  // returns false and stays closed. A device held by another process, or one that is no terminal,
  // fails.
  bool Open(int portNumber, const LineParameters& line);

  // Opens the device of the last successful Open again, in the same way but
  // showing nothing: returns 0 when open, otherwise why not (an errno value:
  // ENOENT while the device is away, EACCES or EBUSY while it is not ours yet).
  int Reopen(const LineParameters& line);
  // The path the last successful Open used; "" before any.
  const std::string& Path() const { return path_; }

  // A network port: whether the path of the last Open is one, whether a
  // connection attempt goes on, and its end (UI thread).
  bool IsNetwork() const { return network_.load(); }
  NetworkKind NetworkType() const { return net_.Kind(); }
  bool Connecting() const { return net_.Connecting(); }
  int ConnectDescriptor() const { return connectDone_.Descriptor(); }
  // 0 once open (the line settings of the Open or Reopen applied),
  // EINPROGRESS while connecting, otherwise an errno value with the reason in
  // ConnectFailure(). Shows nothing.
  int FinishConnect();
  const std::string& ConnectFailure() const { return net_.ConnectFailure(); }
  // "Open com fail!", for a connection that failed.
  void ShowOpenFail() { Show(StringId::kOpenFail); }

  // Readable from a hang-up until the next Open or Reopen.
  int HangupDescriptor() const { return hungUp_.Descriptor(); }
  // Whether the line hung up since the last call, Open or Reopen.
  bool TakeHangup() { return hungUp_.Drain(); }

  // Applies the parameters that have values to the open device; a closed port
  // or a rejected configuration changes nothing and shows nothing. Says
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
  // shows "Write com fail!". Any thread may call; writes never interleave.
  void Write(const uint8_t* bytes, int count) override;

  // Waits until the device has bytes to read, `timeoutMs` passes (-1: no
  // limit) or CancelWaits() is called. A hung-up device ends the wait, and
  // the Read after it closes the device (on the reading thread).
  void WaitReadable(int timeoutMs) override;

  // Any thread: ends the current and every later WaitReadable and Write wait
  // at once, until ResumeWaits or the next Open. Used to stop the worker
  // promptly.
  void CancelWaits() override;

  // Undoes CancelWaits: later waits wait again. Only while nobody else uses
  // the port (the worker has ended), or a wait could miss its cancellation.
  void ResumeWaits() override;

  // Any thread: ends the current WaitReadable once (or the next one, when
  // nobody waits now). The window uses it when a change it made may decide
  // something for the receive worker, such as a frame rule.
  void WakeReader() override;

  // Closes the device; nothing happens when it is closed already.
  void Close() override;

  // How long a write may take: perByteMs * count + constantMs.
  void SetWriteTimeouts(int perByteMs, int constantMs) override;

  int64_t WriteBoundMs(int64_t count) const override;
  int WriteSome(const uint8_t* bytes, int count, int waitMs) override;
  bool WaitDrained(int waitMs) override;

  int Descriptor() const { return network_.load() ? net_.Descriptor() : fd_; }

  ModemControl& Modem() {
    return network_.load() ? static_cast<ModemControl&>(net_.Modem()) : modem_;
  }
  // UI thread. Taken at every later open; while open, only whether closing
  // drops the lines (HUPCL: kept when both lines are active at open, cleared
  // otherwise, so a board kept out of reset is not reset by the close either).
  void SetLinesAtOpen(LinesAtOpen lines);
  LinesAtOpen GetLinesAtOpen() const { return linesAtOpen_; }

 private:
  void Show(StringId text);
  void ApplyLinesAtOpen();
  int OpenPath(const std::string& path, const LineParameters& line);
  int OpenDevice(const char* path);
  // Reading thread: a hang-up lets go of the device at once. A wait or a
  // writer only marks it (markedHungUp_; a writer also wakes the reader), and
  // the next Read lets go.
  void DropHungUpLine();
  void ReleaseDevice();    // with writeMutex_ held
  void CloseDescriptor();  // with writeMutex_ held
  static bool IsHangupError(int error);
  bool WaitWritable(int64_t deadline);
  void WaitForDrain(int64_t deadline);  // discards what is still queued then
  bool DrainedBy(int64_t deadline);
  // Sleeps up to `ms`, or less when CancelWaits() is called.
  void Pause(int ms);

  PortNames names_;
  ModemControl& modem_;
  LinesAtOpen linesAtOpen_;
  std::atomic<WindowServices*> window_{nullptr};
  std::atomic<bool> isOpen_{false};
  std::atomic<bool> cancelled_{false};
  int fd_ = -1;
  std::string path_;
  std::atomic<bool> markedHungUp_{false};
  EventFd hungUp_;
  EventFd cancelEvent_;  // signalled while waits are cancelled
  EventFd wake_;         // signalled from WakeReader until a wait takes it
  std::mutex writeMutex_;
  std::atomic<int> writePerByteMs_{100};
  std::atomic<int> writeConstantMs_{500};
  // The network backend, while path_ is a network path.
  std::atomic<bool> network_{false};
  EventFd connectDone_;
  NetworkLine net_{cancelEvent_};
  LineParameters pendingLine_;  // for the connection being made
};

}  // namespace quorvel
