// The line as a file transfer sees it: bytes in with a deadline, bytes out in
// order, and the user's cancel. The protocols (XMODEM, YMODEM, ZMODEM) run on
// a thread of their own and talk only to this; the terminal's link, a
// pseudo-terminal in a test and a fuzzer's input all stand behind it.
#pragma once

#include <cstdint>

namespace quorvel {

// The waits of a transfer; tests shorten them.
struct TransferTiming {
  int startWaitMs = 60000;     // for the other side to start (NAK, 'C', ZRINIT; or the first block)
  int replyTimeoutMs = 10000;  // for an answer to a block or header, before sending it again
  int maxRetries = 10;         // of one block or header, before giving up
};

class TransferChannel {
 public:
  // What Read returns besides a count of bytes.
  static constexpr int kTimedOut = 0;    // nothing came within the time given
  static constexpr int kLinkLost = -1;   // the link closed, its device went away, or writing failed
  static constexpr int kCancelled = -2;  // the user asked to cancel: send the protocol's cancel

  virtual ~TransferChannel() = default;

  // Waits up to `timeoutMs` for received bytes and takes up to `capacity` of
  // them (capacity > 0): their count, or one of the values above. A cancel
  // asked for during the wait ends it at once.
  virtual int Read(uint8_t* buffer, int capacity, int timeoutMs) = 0;

  // Hands `count` bytes to the line, in order, whole: false when the link is
  // lost. Never blocks for longer than the link's write bound.
  virtual bool Write(const uint8_t* bytes, int count) = 0;

  // Throws away what was received and not read yet (the rest of a damaged
  // block, before asking again).
  virtual void DiscardInput() = 0;

  // Whether the user asked to cancel; stays true once it is.
  virtual bool CancelRequested() const = 0;
};

}  // namespace quorvel
