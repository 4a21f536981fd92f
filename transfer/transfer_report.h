// What a transfer tells while it runs and how it ended. The protocol thread
// calls the observer; an observer copies what it is told under a short lock
// of its own and returns (the window reads it at its own pace and is never
// waited for).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quorvel {

enum class TransferProtocol { kXmodem, kXmodem1k, kYmodem, kZmodem };

enum class TransferStatus {
  kDone,                  // every file went whole
  kReceiverNeverStarted,  // no NAK, 'C' or ZRINIT within the wait
  kSenderNeverStarted,    // receiving: nothing came within the wait
  kCancelledByPeer,       // the other side sent its cancel (CAN CAN)
  kCancelledByUser,       // our cancel, sent to the other side
  kTooManyRetries,        // a block or header failed more often than the protocol allows
  kFileUnreadable,        // a file to send could not be opened or read
  kFileRefused,           // a received file could not be taken (name, size, disk full, unwritable)
  kLinkLost,              // the link closed or its device went away
  kProtocolError,         // the other side broke the protocol beyond recovery
};

struct TransferOutcome {
  TransferStatus status = TransferStatus::kDone;
  std::string detail;  // the file, the system's reason, the header refused...
  uint64_t bytes = 0;  // file bytes sent or written, every file of the batch
  int files = 0;       // files completed
  int retries = 0;
};

// A snapshot of the transfer now.
struct TransferProgress {
  std::string file;          // the file in hand ("" while waiting to start)
  uint64_t bytes = 0;        // of this file, sent and acknowledged or received
  int64_t total = -1;        // its size, -1 unknown (XMODEM)
  uint64_t blocks = 0;       // blocks (subpackets) of this file
  int retries = 0;           // of the whole transfer
  int waitSecondsLeft = -1;  // counting down while the other side has not started; -1 not waiting
};

// "XMODEM", "XMODEM-1K", "YMODEM", "ZMODEM".
const char* ProtocolName(TransferProtocol protocol);
// How a transfer that ended with `status` is told to the user, such as
// "cancelled by the other side".
const char* StatusText(TransferStatus status);

class TransferObserver {
 public:
  virtual ~TransferObserver() = default;
  // The transfer's state changed; called often (each block), so cheap.
  virtual void Progressed(const TransferProgress& progress) = 0;
  // A line for the session view, such as "YMODEM send firmware.bin: started".
  virtual void Noted(std::string_view text) = 0;
};

}  // namespace quorvel
