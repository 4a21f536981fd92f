// The receiving side that XMODEM and YMODEM share: asking the sender to
// start, taking blocks in order, answering damaged blocks and silence, the
// end of a file, and each way it can fail. Protocol thread only.
//
// A damaged block (complement or check wrong, cut short by silence, out of
// order) is answered with NAK once the line has gone quiet, so the rest of
// it is not read as the next block; a repeat of the block before (our ACK
// was lost) is acknowledged again and dropped. An EOT is believed only when
// the sender repeats it: the first is answered with NAK, as noise can make
// one. After `timing.maxRetries` errors in a row the transfer is cancelled.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transfer/line_reader.h"
#include "transfer/progress_keeper.h"
#include "transfer/transfer_channel.h"
#include "transfer/xmodem_block.h"

namespace quorvel {

class BlockReceiver {
 public:
  BlockReceiver(TransferChannel& channel, ProgressKeeper& progress, const TransferTiming& timing)
      : reader_(channel), progress_(progress), timing_(timing) {}

  enum class Got { kBlock, kEnd, kEnded };

  struct Asking {
    int waitMs;              // how long the sender may take to start
    bool countdown;          // shown in the progress
    bool fallBackToSum;      // after a few 'C's unanswered, ask with NAK for checksum blocks
    TransferStatus silence;  // the outcome when nothing came
  };
  // Asks the sender to start ('C', every few seconds) and waits for block
  // `expected`, then goes on as Next does.
  Got Start(uint8_t expected, const Asking& asking);
  // The next block, numbered `expected`; kEnd after the sender's end of file.
  Got Next(uint8_t expected);

  // The block just taken.
  const uint8_t* Data() const { return parser_.Data(); }
  size_t Size() const { return parser_.Size(); }

  // Answers the sender with `bytes` (ACK, 'C'); false when the link was lost
  // (recorded).
  bool Answer(std::initializer_list<uint8_t> bytes);
  // What a repeat of the block before `expected` is answered with: ACK, and
  // for YMODEM's header also 'C', as it was the first time.
  void SetRepeatAnswer(std::vector<uint8_t> bytes) { repeatAnswer_ = std::move(bytes); }

  // Ends the transfer with `status`: the cancel sequence goes out first
  // unless the other side or the link ended it.
  void Fail(TransferStatus status, std::string detail = {});
  const std::optional<TransferOutcome>& Outcome() const { return outcome_; }

 private:
  Got Await(uint8_t expected, const Asking* asking);
  // Silence or a damaged block: counts it, gives up after too many in a row,
  // and asks again. False when the transfer ended.
  bool Complain(int& errors, bool purge);
  void Ended(int readResult);
  bool Write(const uint8_t* bytes, size_t count);

  LineReader reader_;
  ProgressKeeper& progress_;
  const TransferTiming& timing_;
  BlockParser parser_;
  std::vector<uint8_t> repeatAnswer_{xmodem::kAck};
  std::optional<TransferOutcome> outcome_;
};

}  // namespace quorvel
