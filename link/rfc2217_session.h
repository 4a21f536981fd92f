// The telnet side of a network line, and RFC 2217 with it: the negotiation,
// the COM-PORT commands of the line settings, of DTR, RTS and break, and the
// far port's modem lines and rate as the server reports them. No I/O of its
// own: whole telnet units go to the `send` it is given (the line's output
// queue, which keeps them from splitting one another's escapes), and what
// came from the server is handed in through Decode.
//
// DTR, RTS and break are SET-CONTROL commands; CTS, DSR, DCD and RI come
// from the server's NOTIFY-MODEMSTATE. Commands wait until the server agrees
// to the option. A server that does not answer the requests for DTR and RTS
// within kAnswerLimit (ser2net in front of a pseudo-terminal) leaves the
// lines "not available", and the link goes on without them.
//
// Threads: Decode on the reading thread; SetConfig, Begin and End on the
// thread that opens and closes the port; the modem calls on the line
// watcher's and the line actions' threads. `send` is called with no lock of
// the modem state held.
#pragma once

#include <pthread.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "link/line_modem.h"
#include "link/line_parameters.h"
#include "link/modem_control.h"
#include "link/telnet_codec.h"

namespace quorvel {

class Rfc2217Session : public LineModem {
 public:
  static constexpr std::chrono::milliseconds kAnswerLimit{1500};
  static constexpr std::chrono::milliseconds kBreakLength{250};
  // RFC 2217 commands kept until the server agrees to the option, at most.
  static constexpr size_t kMaxHeld = 64 * 1024;

  using Sender = std::function<bool(const std::vector<uint8_t>& units)>;
  explicit Rfc2217Session(Sender send) : send_(std::move(send)) {}
  Rfc2217Session(const Rfc2217Session&) = delete;
  Rfc2217Session& operator=(const Rfc2217Session&) = delete;

  // A connection begins: with `telnet` the client's negotiation is sent, and
  // `line` and `lines` go to the far port once the server agrees to RFC
  // 2217; without it (raw TCP) nothing is ever decoded or sent.
  void Begin(bool telnet, const LineParameters& line, LinesAtOpen lines);
  // The connection broke: the modem calls fail from now on.
  void Broken();
  // The connection is closed: nothing is kept.
  void End();

  // Takes `count` received bytes in place: the data among them is left at
  // the front of `buffer`; returns how many.
  size_t Decode(uint8_t* buffer, size_t count);

  // The line settings to the far port (RFC 2217 only).
  void SetConfig(const LineParameters& line);
  // The rate the server reports it set, 0 before it answered (or raw TCP).
  uint32_t ServerRate() const;

  // The far port's modem lines.
  bool GetLines(unsigned* lines) override;
  bool Raise(unsigned lines) override;
  bool Drop(unsigned lines) override;
  ModemWait WaitForChange() override;
  void InterruptWait() override;
  bool SendBreak() override;
  bool SetBreak(bool on) override;
  // The break is a command in the queue: it waits for no output to drain.
  void DropQueuedOutput() override {}

 private:
  using Clock = std::chrono::steady_clock;
  enum class Lines { kPending, kAvailable, kUnavailable };

  void TakeNotices(const std::vector<telnet::ComPortNotice>& notices);
  void SendControl(uint8_t value);
  // With modemMutex_ held: an answer overdue makes the lines unavailable.
  void ExpireAnswerLocked();

  const Sender send_;

  std::mutex codecMutex_;  // the decoder's state and what it holds back
  std::unique_ptr<telnet::TelnetCodec> codec_;
  std::vector<uint8_t> replies_;
  std::vector<telnet::ComPortNotice> notices_;
  std::vector<uint8_t> held_;  // RFC 2217 commands until the server agrees to the option

  mutable std::mutex modemMutex_;
  std::condition_variable modemChanged_;
  bool connected_ = false;
  Lines lines_ = Lines::kUnavailable;
  Clock::time_point answerDeadline_;
  unsigned outputLines_ = 0;  // DTR and RTS as last set or reported
  unsigned inputLines_ = 0;   // CTS, DSR, DCD and RI as last reported
  uint64_t modemGeneration_ = 0;
  uint64_t interrupts_ = 0;
  uint32_t serverRate_ = 0;
};

}  // namespace quorvel
