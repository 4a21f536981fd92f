// ZMODEM file transfers, both ways, over a TransferChannel.
//
// This is the terminal's own implementation rather than lrzsz's sz and rz run
// as children joined to the link: it runs on whatever the channel stands
// for (a serial port, a network port, a pseudo-terminal) through the same
// writer and worker as everything else; every received file goes through the
// FileSink, which names it safely and checks the free space before a byte is
// written (rz names and writes files by its own rules); progress and retries
// are known as they happen; nothing has to be installed beside the terminal;
// and the parser of what the other side sends is fuzzed with the rest. lrzsz
// is what the tests and the benchmark check it against.
//
// Both calls run the whole transfer on the calling thread (the runner's
// protocol thread), report to the observer as they go and return how it
// ended. The channel's cancel ends either at once, with the protocol's
// cancel sequence sent to the other side.
#pragma once

#include <memory>
#include <vector>

#include "transfer/transfer_channel.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_report.h"

namespace quorvel {

// Sends `files` in one batch: "rz\r" and ZRQINIT, then up to
// timing.startWaitMs for the receiver's ZRINIT (counting down in the
// progress), each file streamed as fast as the receiver allows and resent
// from wherever it asks, ZFIN and "OO". A file of 4 GiB or more, which
// ZMODEM's offsets cannot reach, is refused before anything is sent.
TransferOutcome ZmodemSend(TransferChannel& channel,
                           std::vector<std::unique_ptr<OutgoingFile>>& files,
                           TransferObserver& observer, const TransferTiming& timing);

// Receives a batch into `sink`: ZRINIT offering CRC-32 and full streaming,
// then each file the sender offers as the sink takes it (one it refuses is
// skipped; the batch goes on), until the sender's ZFIN. No more is written
// than a file's header said it holds.
TransferOutcome ZmodemReceive(TransferChannel& channel, FileSink& sink, TransferObserver& observer,
                              const TransferTiming& timing);

}  // namespace quorvel
