// The network backend of SerialPort: a serial port served over TCP, raw or
// with telnet and RFC 2217, as ser2net serves it. SerialPort keeps its own
// contract (open, read, write, wait, cancel, hang-up) and hands each
// operation here while its path is a network path.
//
// Connecting never blocks the caller: the name is resolved and the socket
// connected on a short-lived thread, within kConnectLimit, and a descriptor
// turns readable when the attempt is over. The worker waits on the socket as
// on a tty (poll, no timers). Everything written goes through one queue of
// whole telnet units, so the answers to the server's negotiation, the RFC 2217
// commands of the line settings and modem lines, and the data never split
// one another's escapes; the queue is bounded, and a server that floods us
// with requests while reading nothing is dropped like a hung-up line.
//
// The modem lines of the far port are a ModemControl of their own: DTR, RTS
// and break are SET-CONTROL commands; CTS, DSR, DCD and RI come from the
// server's NOTIFY-MODEMSTATE. A server that does not answer the requests for
// DTR and RTS within kAnswerLimit (ser2net in front of a pseudo-terminal)
// leaves the lines "not available", and the link goes on without them.
//
// Why not libgensio (ser2net's own library, which has an RFC 2217 client):
// it drives its I/O from its own selector loop (gensio_os_funcs service()),
// with callbacks instead of reads, and wakes its threads with a signal that
// every thread of the process must keep blocked; its selector offers no
// descriptor for our poll() to wait on, and its name lookup is a blocking
// getaddrinfo in the caller. Fitting it to the worker would mean a second
// event-loop thread and data handed across, or a whole os_funcs of our own.
// The protocol itself is small: telnet_codec.h.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_fd.h"
#include "link/line_parameters.h"
#include "link/modem_control.h"
#include "link/network_address.h"
#include "link/telnet_codec.h"

namespace quorvel {

class NetworkLine;

// The far port's modem lines over RFC 2217. Every call ignores its fd.
class NetworkModem : public ModemControl {
 public:
  explicit NetworkModem(NetworkLine& line) : line_(line) {}
  bool GetLines(int fd, unsigned* lines) override;
  bool Raise(int fd, unsigned lines) override;
  bool Drop(int fd, unsigned lines) override;
  ModemWait WaitForChange(int fd) override;
  void InterruptWait(pthread_t waiter) override;
  bool SendBreak(int fd) override;

 private:
  NetworkLine& line_;
};

class NetworkLine {
 public:
  static constexpr std::chrono::milliseconds kConnectLimit{5000};
  static constexpr std::chrono::milliseconds kAnswerLimit{1500};
  static constexpr std::chrono::milliseconds kBreakLength{250};
  // Beyond this much unsent output the server counts as gone.
  static constexpr size_t kMaxQueued = 4 * 1024 * 1024;
  // RFC 2217 commands kept until the server agrees to the option, at most.
  static constexpr size_t kMaxHeld = 64 * 1024;

  // `cancel` is readable while the port's waits are cancelled.
  explicit NetworkLine(const EventFd& cancel);
  ~NetworkLine();
  NetworkLine(const NetworkLine&) = delete;
  NetworkLine& operator=(const NetworkLine&) = delete;

  // Starts connecting to `address`; `done` is signalled when the attempt is
  // over. An attempt still going is abandoned first.
  void StartConnect(const NetworkAddress& address, const EventFd& done);
  bool Connecting() const { return attempt_ != nullptr; }
  // After the attempt: 0 when connected (the session has begun with `line`
  // and `lines` on the far port), EINPROGRESS while it goes on, otherwise an
  // errno value, with the reason in ConnectFailure(). An attempt past
  // kConnectLimit (a name lookup that hangs) is given up here.
  int FinishConnect(const LineParameters& line, LinesAtOpen lines);
  const std::string& ConnectFailure() const { return failure_; }
  // Leaves an attempt to end on its own; what it connects is closed.
  void AbandonConnect();

  NetworkKind Kind() const { return kind_; }
  int Descriptor() const { return fd_; }

  // The data operations of the open connection (see SerialPort).
  // Read: the count of data bytes, 0 for none now, -1 when the server closed.
  int Read(uint8_t* buffer, int capacity);
  // Waits for data, `timeoutMs`, the cancel or `wake`; sends queued output
  // meanwhile. Returns false when the connection failed.
  bool WaitReadable(int timeoutMs, EventFd& wake);
  // Queues `count` bytes and sends them, waiting for room until `deadline`
  // (ms, steady clock) or a cancel. False on a broken connection.
  bool Write(const uint8_t* bytes, int count, int64_t deadline);
  // The first bytes that fit now (waiting up to `waitMs` for room): count
  // taken, 0 when none, -1 on a broken connection.
  int WriteSome(const uint8_t* bytes, int count, int waitMs);
  // Waits up to `waitMs` until every queued byte went to the socket.
  bool WaitDrained(int waitMs);

  // RFC 2217: the line settings to the far port; for raw TCP nothing.
  void SetConfig(const LineParameters& line);
  // The rate the server reports it set, 0 before it answered (or raw TCP).
  uint32_t ServerRate() const;

  NetworkModem& Modem() { return modem_; }

  // The reading thread found the connection gone: the socket is let go of
  // at once (its number stays ours, on a harmless file, until Close).
  void Release();
  // Closes the connection and abandons an attempt.
  void Close();

  struct Attempt;  // one connection attempt, shared with its thread

 private:
  friend class NetworkModem;

  // With outMutex_ held: sends what the socket takes now. False when broken.
  bool FlushLocked();
  bool Queue(const std::vector<uint8_t>& units);  // any thread
  bool WaitWritable(int64_t deadline);
  void TakeNotices(const std::vector<telnet::ComPortNotice>& notices);
  void SendControl(uint8_t value);
  void MarkBroken();

  const EventFd& cancel_;
  std::shared_ptr<Attempt> attempt_;
  std::string failure_;
  NetworkKind kind_ = NetworkKind::kTcp;
  std::atomic<int> fd_{-1};

  std::mutex readMutex_;  // the reader's decoder state
  std::unique_ptr<telnet::TelnetCodec> codec_;
  std::vector<uint8_t> replies_;
  std::vector<telnet::ComPortNotice> notices_;
  std::vector<uint8_t> held_;  // RFC 2217 commands until the server agrees to the option

  std::mutex outMutex_;
  std::vector<uint8_t> out_;  // whole units, not yet taken by the socket
  size_t outSent_ = 0;        // of out_'s front
  bool telnet_ = false;       // data is escaped (RFC 2217), or raw (TCP)
  std::atomic<bool> broken_{false};

  // The far port's modem lines.
  NetworkModem modem_{*this};
  mutable std::mutex modemMutex_;
  std::condition_variable modemChanged_;
  enum class Lines { kPending, kAvailable, kUnavailable };
  Lines lines_ = Lines::kUnavailable;
  std::chrono::steady_clock::time_point answerDeadline_;
  unsigned outputLines_ = 0;  // DTR and RTS as last set or reported
  unsigned inputLines_ = 0;   // CTS, DSR, DCD and RI as last reported
  uint64_t modemGeneration_ = 0;
  uint64_t interrupts_ = 0;
  uint32_t serverRate_ = 0;
};

}  // namespace quorvel
