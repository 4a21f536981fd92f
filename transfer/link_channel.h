// A transfer's channel over the terminal's live link: the receive worker
// hands it what it reads (the state's diversion), and writes go to the port
// piece by piece while the transfer holds the wire, so no window send, echo
// or answer lands inside the transfer (they go after it, in order). Works
// for every port the link opens, network ports too (the port escapes
// telnet's IAC itself).
//
// Threads: Attach, Detach, Read, Write and DiscardInput on the transfer's
// thread; Divert and ReaderEnded on the receive worker's; Cancel and
// Abandon from any thread. One short lock guards what was received.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "core/terminal_state.h"
#include "transfer/transfer_channel.h"

namespace quorvel {

class LinkChannel : public TransferChannel, public ReceiveDiversion {
 public:
  // Bytes received and not read yet, at most; beyond it they are dropped
  // (the protocol asks again), so a stalled transfer cannot grow without end.
  static constexpr size_t kMaxWaiting = 4 << 20;

  // One for the life of the state's window: a worker may still hold it for
  // a moment after Detach, so it is reused, never destroyed between
  // transfers.
  explicit LinkChannel(TerminalState& state) : state_(state) {}
  ~LinkChannel() override { Detach(); }

  // Before a transfer, with no thread using the channel: not cancelled.
  void Reset();
  // Takes the wire (after a send in progress) and the received bytes. False
  // when cancelled or abandoned meanwhile, or when the link is not open.
  bool Attach();
  // Gives both back; replies left meanwhile go out now, after the transfer.
  void Detach();

  int Read(uint8_t* buffer, int capacity, int timeoutMs) override;
  bool Write(const uint8_t* bytes, int count) override;
  void DiscardInput() override;
  bool CancelRequested() const override { return cancelled_.load(); }

  void Divert(const uint8_t* bytes, int count) override;
  void ReaderEnded() override;

  // The user's cancel: reads end, writes still go (the cancel sequence).
  void Cancel();
  // The link is going: reads and writes end at once.
  void Abandon();
  // Bytes dropped for want of room.
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  TerminalState& state_;
  bool attached_ = false;
  bool wireHeld_ = false;
  std::mutex mutex_;
  std::condition_variable arrived_;
  std::vector<uint8_t> waiting_;
  size_t readAt_ = 0;
  bool readerEnded_ = false;
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace quorvel
