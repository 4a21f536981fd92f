// The network backend of SerialPort (see LineBackend): a serial port served
// over TCP, raw or with telnet and RFC 2217, as ser2net serves it.
//
// Connecting never blocks the caller (NetworkConnector). The worker waits on
// the socket as on a tty (poll, no timers). Everything written goes through
// one queue of whole telnet units, so the answers to the server's
// negotiation, the RFC 2217 commands of the line settings and modem lines
// (Rfc2217Session), and the data never split one another's escapes; the
// queue is bounded, and a server that floods us with requests while reading
// nothing is dropped like a hung-up line.
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
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/event_fd.h"
#include "core/unique_fd.h"
#include "link/line_backend.h"
#include "link/line_parameters.h"
#include "link/line_signals.h"
#include "link/modem_control.h"
#include "link/network_address.h"
#include "link/network_connector.h"
#include "link/rfc2217_session.h"

namespace quorvel {

class NetworkLine : public LineBackend {
 public:
  static constexpr std::chrono::milliseconds kConnectLimit = NetworkConnector::kLimit;
  // Beyond this much unsent output the server counts as gone.
  static constexpr size_t kMaxQueued = 4 * 1024 * 1024;

  explicit NetworkLine(LineSignals& signals) : signals_(signals) {}
  ~NetworkLine() override { Close(); }
  NetworkLine(const NetworkLine&) = delete;
  NetworkLine& operator=(const NetworkLine&) = delete;

  // Starts connecting to the target's address. An attempt still going is
  // abandoned first.
  OpenOutcome Open(const PortTarget& target, const LineParameters& line,
                   LinesAtOpen lines) override;
  bool Connecting() const override { return connector_.Running(); }
  // Readable from the end of a connection attempt until FinishConnect.
  int ConnectDescriptor() const { return connectDone_.Descriptor(); }
  // Open once connected (the session has begun with `line` and `lines` on
  // the far port), or why not, in the resolver's or the socket's words. An
  // attempt past kConnectLimit (a name lookup that hangs) is given up here.
  OpenOutcome FinishConnect(const LineParameters& line, LinesAtOpen lines) override;

  NetworkKind Kind() const { return kind_; }
  int Descriptor() const override { return socket_.Get(); }
  LineModem& Modem() override { return session_; }

  // RFC 2217: the line settings go to the far port; raw TCP keeps them here.
  ConfigOutcome SetConfig(const LineParameters& line) override;
  // The rate the server reports it set, 0 before it answered (or raw TCP).
  uint32_t RateInForce() const override { return session_.ServerRate(); }

  // -1 when the server closed the connection or it broke.
  int Read(uint8_t* buffer, int capacity) override;
  // Sends queued output meanwhile.
  void WaitReadable(int timeoutMs) override;
  // Nothing waits for the far port's queue: the bytes are the socket's.
  int Write(const uint8_t* bytes, int count, int64_t deadline) override;
  int WriteSome(const uint8_t* bytes, int count, int waitMs) override;
  // Until every queued byte went to the socket.
  bool WaitDrained(int waitMs) override;

  void Release() override;
  void Close() override;

 private:
  // With outMutex_ held: sends what the socket takes now. False when broken.
  bool FlushLocked();
  bool Queue(const std::vector<uint8_t>& units);  // any thread
  // With outMutex_ held: queues data, escaped for telnet.
  void AppendDataLocked(const uint8_t* bytes, size_t count);
  // Sends `count` bytes, waiting for room until `deadline` or a cancel: false
  // on a broken connection.
  bool Send(const uint8_t* bytes, int count, int64_t deadline);
  int Offer(const uint8_t* bytes, int count, int waitMs);
  bool WaitWritable(int64_t deadline);
  void MarkBroken();
  // A writer found the connection broken: the reader lets go of it.
  void HandBrokenToReader();

  LineSignals& signals_;
  NetworkConnector connector_;
  EventFd connectDone_;
  NetworkKind kind_ = NetworkKind::kTcp;
  // Set and closed with outMutex_ held, and only while no reader runs.
  UniqueFd socket_;

  std::mutex outMutex_;
  std::vector<uint8_t> out_;  // whole units, not yet taken by the socket
  size_t outSent_ = 0;        // of out_'s front
  bool telnet_ = false;       // data is escaped (RFC 2217), or raw (TCP)
  std::atomic<bool> broken_{false};

  Rfc2217Session session_{[this](const std::vector<uint8_t>& units) { return Queue(units); }};
};

}  // namespace quorvel
