// The receiving side of ZMODEM with what it offers the sender spelled out:
// ZmodemReceive offers the defaults; tests offer less, to drive a sender
// through its windowed, half-duplex and CRC-16 ways.
#pragma once

#include <cstdint>

#include "transfer/transfer_channel.h"
#include "transfer/transfer_files.h"
#include "transfer/transfer_report.h"

namespace quorvel::zmodem {

struct ReceiverOffer {
  bool crc32 = true;            // CANFC32
  bool fullDuplex = true;       // CANFDX and CANOVIO: the sender streams without waiting
  uint16_t windowBytes = 0;     // the most in flight before a ZCRCW; 0 no limit
  bool escapeControls = false;  // ESCCTL
};

TransferOutcome Receive(const ReceiverOffer& offer, TransferChannel& channel, FileSink& sink,
                        TransferObserver& observer, const TransferTiming& timing);

}  // namespace quorvel::zmodem
