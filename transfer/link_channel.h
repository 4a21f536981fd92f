// A transfer's channel over the terminal's live link: while it is attached
// it reads the link's port itself on the transfer's thread (the receive
// worker stands aside, LinkHub::TakerReads::kItself), so an answer that a
// block waits for wakes only the thread that waits for it; and it writes
// through the link's door while the transfer holds the wire, so no window
// send, echo or answer lands inside the transfer (they go after it, in
// order). What it reads and writes is counted and heard by the listeners
// that hear transfers (the log file). Works for every port the link opens,
// network ports too (the port escapes telnet's IAC itself).
//
// Threads: Attach, Detach, Read, Write and DiscardInput on the transfer's
// thread; Divert and ReaderEnded on the receive worker's; Cancel and
// Abandon from any thread (they wake a read waiting on the port).
#pragma once

#include <atomic>
#include <cstdint>

#include "core/link_hub.h"
#include "engine/send_writer.h"
#include "transfer/transfer_channel.h"

namespace quorvel {

class LinkChannel : public TransferChannel, public ReceiveDiversion {
 public:
  // The most DiscardInput throws away in one go: a line that never stops
  // is left to the protocol's own purge, which has a deadline.
  static constexpr size_t kMostDiscarded = 4 << 20;

  // One for the life of the link: a worker may still hold it for a moment
  // after Detach, so it is reused, never destroyed between transfers.
  LinkChannel(LinkHub& hub, SendWriter& door) : hub_(hub), door_(door) {}
  ~LinkChannel() override { Detach(); }

  // Before a transfer, with no thread using the channel: not cancelled.
  void Reset();
  // Takes the wire (after a send in progress) and the received bytes. False
  // when cancelled or abandoned meanwhile, when the link is not open, or
  // when something else has taken the received bytes.
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
  // Bytes a worker handed over instead of standing aside: none, unless a
  // worker reads in spite of the hub (they could not be put in order).
  uint64_t Dropped() const { return dropped_.load(); }

 private:
  LinkHub& hub_;
  SendWriter& door_;
  bool attached_ = false;
  bool wireHeld_ = false;
  // The transfer's thread while it reads or waits on the port: false when
  // the worker has ended, and then it stays off the port (a port is closed
  // only once its worker has ended).
  class OnPort {
   public:
    explicit OnPort(LinkChannel& channel) : flag_(channel.onPort_) {
      flag_.store(true);
      allowed_ = !channel.readerEnded_.load();
      if (!allowed_) flag_.store(false);
    }
    ~OnPort() { flag_.store(false); }
    explicit operator bool() const { return allowed_; }

   private:
    std::atomic<bool>& flag_;
    bool allowed_ = false;
  };

  std::atomic<bool> readerEnded_{false};
  std::atomic<bool> onPort_{false};
  std::atomic<bool> cancelled_{false};
  std::atomic<bool> abandoned_{false};
  std::atomic<uint64_t> dropped_{0};
};

}  // namespace quorvel
