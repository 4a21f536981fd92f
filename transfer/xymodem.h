// XMODEM and YMODEM, both ways, over a transfer's channel. Each runs on the
// calling thread until the transfer ends and returns how it ended; nothing
// of them outlives the call. The observer hears of each block.
//
// Sending waits up to timing.startWaitMs for the receiver to ask ('C' for
// CRC-16 blocks, NAK for checksum blocks), sends each block until it is
// acknowledged (at most timing.maxRetries more times, each after
// timing.replyTimeoutMs of silence or a NAK) and ends each file with EOT.
// Receiving asks with 'C' (XMODEM falls back to NAK and checksum blocks
// when the sender does not answer a few), takes each block once, and writes
// it to the sink before acknowledging it, so a file the disk refuses ends
// the transfer instead of being acknowledged.
#pragma once

#include <memory>
#include <vector>

#include "transfer/transfer_channel.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_report.h"

namespace quorvel {

// XMODEM carries no length: a file arrives padded to its last block. Drop
// takes the padding bytes (0x1A) off the end of the last block, so a file
// that itself ends in 0x1A loses those; Keep writes every block whole.
enum class XmodemPadding { kDrop, kKeep };

// One file, in 128-byte blocks or, with `oneK`, 1024-byte ones (a last piece
// of 128 bytes or less goes in a short block).
TransferOutcome XmodemSend(TransferChannel& channel, OutgoingFile& file, bool oneK,
                           TransferObserver& observer, const TransferTiming& timing);
// One file into the sink, under the name the sink was given.
TransferOutcome XmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing,
                              XmodemPadding padding = XmodemPadding::kDrop);

// A batch: each file's name, size and modification time in its block 0,
// its data in 1024-byte blocks, and an empty block 0 at the end.
TransferOutcome YmodemSend(TransferChannel& channel,
                           std::vector<std::unique_ptr<OutgoingFile>>& files,
                           TransferObserver& observer, const TransferTiming& timing);
// Every file of a batch into the sink, under the names the sender gave
// (made safe by the sink), no longer than the sizes it gave.
TransferOutcome YmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing);

}  // namespace quorvel
