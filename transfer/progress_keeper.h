// The running account of a transfer that a protocol keeps: the progress it
// reports to its observer after each block, and the outcome it returns.
// Protocol thread only.
#pragma once

#include <string>

#include "transfer/transfer_report.h"

namespace quorvel {

class ProgressKeeper {
 public:
  explicit ProgressKeeper(TransferObserver& observer) : observer_(observer) {}

  // A file begins: `total` bytes, -1 when unknown.
  void StartFile(std::string name, int64_t total);
  // A block of `bytes` file bytes went or came.
  void AddBlock(uint64_t bytes);
  // A block, header or answer had to be tried again.
  void Retry();
  // Waiting for the other side to start: the seconds left, -1 no longer.
  void Waiting(int secondsLeft);
  // The file in hand turned out to hold `bytes` (XMODEM's padding gone).
  void SetFileBytes(uint64_t bytes) { progress_.bytes = bytes; }
  // A file is over, whole.
  void FileDone();

  // Ends the transfer with `status`: the outcome to return.
  TransferOutcome End(TransferStatus status, std::string detail = {});
  const TransferProgress& Now() const { return progress_; }

 private:
  TransferObserver& observer_;
  TransferProgress progress_;
  TransferOutcome outcome_;
  bool fileCounted_ = false;  // the file in hand is in outcome_ already
};

}  // namespace quorvel
