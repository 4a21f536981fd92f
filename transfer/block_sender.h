// The sending side that XMODEM and YMODEM share: waiting for the receiver
// to ask, sending each block until it is acknowledged, the end of a file,
// and each way it can fail. Protocol thread only.
//
// A block is sent again on NAK or silence, after the line has been let go
// quiet and emptied, so that a late answer is never taken for the answer to
// the block sent again; after `timing.maxRetries` the transfer is cancelled.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "transfer/line_reader.h"
#include "transfer/progress_keeper.h"
#include "transfer/transfer_channel.h"
#include "transfer/transfer_files.h"
#include "transfer/xmodem_block.h"

namespace quorvel {

class BlockSender {
 public:
  BlockSender(TransferChannel& channel, ProgressKeeper& progress, const TransferTiming& timing)
      : reader_(channel), progress_(progress), timing_(timing) {}

  // Waits up to `waitMs` for the receiver's 'C' (CRC) or NAK (checksum),
  // counting down in the progress when `countdown`. nullopt when the
  // transfer ended meanwhile: Outcome() says how (`silence` when none came).
  std::optional<BlockCheck> AwaitStart(int waitMs, bool countdown, TransferStatus silence);

  // Sends `block` until it is acknowledged; false when the transfer ended.
  bool Send(const std::vector<uint8_t>& block);

  // Sends the file's bytes from the start as blocks numbered from 1, of
  // `blockSize` bytes (a last piece that fits a short block goes in one).
  bool SendFile(OutgoingFile& file, size_t blockSize, BlockCheck check);

  // Ends the file (EOT) until the receiver acknowledges it.
  bool SendEnd();

  // Ends the transfer with `status`: the cancel sequence goes out first
  // unless the other side or the link ended it.
  void Fail(TransferStatus status, std::string detail = {});
  const std::optional<TransferOutcome>& Outcome() const { return outcome_; }

 private:
  enum class Answer { kAck, kNak, kSilence, kEnded };
  Answer AwaitAnswer();
  // Writes `bytes` until the receiver acknowledges them; the first
  // `freeAttempts` answers other than ACK are no retries.
  bool WriteUntilAcked(const uint8_t* bytes, int count, int freeAttempts);
  // The next byte within `waitMs`: LineReader::kSilence, or kEnded once the
  // transfer ended (the link, our cancel, or two CANs in a row: theirs).
  static constexpr int kEnded = -1000;
  int NextByte(int waitMs, bool& canSeen);
  // A read that ended the transfer (link lost, our cancel): records it.
  void Ended(int readResult);
  // Before sending again: counts the retry, gives up after too many, and
  // lets the line go quiet. False when the transfer ended.
  bool Retry(int attempt);
  int PurgeQuietMs() const;

  LineReader reader_;
  ProgressKeeper& progress_;
  const TransferTiming& timing_;
  std::optional<TransferOutcome> outcome_;
};

}  // namespace quorvel
