// The received bytes of a transfer one at a time, read from its channel in
// chunks, and the cancel sequence every block protocol ends with. Protocol
// thread only.
#pragma once

#include <array>
#include <cstdint>

#include "transfer/transfer_channel.h"

namespace quorvel {

// The pause between the two cancel sequences: a quarter of a second, less
// when the transfer's waits are shorter.
inline int CancelPauseMs(const TransferTiming& timing) {
  return timing.replyTimeoutMs < 2500 ? timing.replyTimeoutMs / 10 : 250;
}

class LineReader {
 public:
  explicit LineReader(TransferChannel& channel) : channel_(channel) {}

  // What Next returns when nothing came in time (a byte may be 0).
  static constexpr int kSilence = -100;

  // The next byte (0 to 255), kSilence, or TransferChannel::kLinkLost or
  // kCancelled.
  int Next(int timeoutMs);

  // Throws away what was received and not read, and what keeps coming until
  // the line has been quiet for `quietMs` (the rest of a damaged block, a
  // late answer). Returns kLinkLost or kCancelled when one ended it, else 0.
  int Purge(int quietMs);

  // Writes the cancel sequence: CANs, then as many backspaces to wipe them
  // from a terminal that shows them; twice, `pauseMs` apart.
  void SendCancel(int pauseMs);

  TransferChannel& Channel() { return channel_; }

 private:
  TransferChannel& channel_;
  std::array<uint8_t, 4096> buffer_{};
  int at_ = 0;
  int end_ = 0;
};

}  // namespace quorvel
