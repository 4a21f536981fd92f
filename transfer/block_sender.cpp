#include "transfer/block_sender.h"

#include <algorithm>

#include "core/clock.h"

namespace quorvel {

std::optional<BlockCheck> BlockSender::AwaitStart(int waitMs, bool countdown,
                                                  TransferStatus silence) {
  int64_t deadline = SteadyNowMs() + waitMs;
  bool canSeen = false;
  for (;;) {
    int left = RemainingMs(deadline);
    if (countdown) progress_.Waiting((left + 999) / 1000);
    if (left == 0) {
      Fail(silence);
      return std::nullopt;
    }
    int byte = NextByte(std::min(left, 1000), canSeen);
    if (byte == kEnded) return std::nullopt;
    if (byte == xmodem::kCrcStart) return BlockCheck::kCrc;
    if (byte == xmodem::kNak) return BlockCheck::kSum;
  }
}

bool BlockSender::Send(const std::vector<uint8_t>& block) {
  return WriteUntilAcked(block.data(), static_cast<int>(block.size()), 0);
}

bool BlockSender::WriteUntilAcked(const uint8_t* bytes, int count, int freeAttempts) {
  for (int attempt = 0;; ++attempt) {
    if (attempt > freeAttempts && !Retry(attempt - freeAttempts)) return false;
    if (!reader_.Channel().Write(bytes, count)) {
      Fail(TransferStatus::kLinkLost);
      return false;
    }
    switch (AwaitAnswer()) {
      case Answer::kAck:
        return true;
      case Answer::kEnded:
        return false;
      case Answer::kNak:
      case Answer::kSilence:
        break;
    }
  }
}

bool BlockSender::SendFile(OutgoingFile& file, size_t blockSize, BlockCheck check) {
  std::vector<uint8_t> data(blockSize);
  uint64_t size = file.Size();
  uint64_t offset = 0;
  uint8_t number = 1;
  while (offset < size) {
    uint64_t rest = size - offset;
    size_t want = rest <= xmodem::kShortBlock ? xmodem::kShortBlock : blockSize;
    size_t count = static_cast<size_t>(std::min<uint64_t>(rest, want));
    size_t got = 0;
    while (got < count) {
      std::string reason;
      int64_t n = file.ReadAt(offset + got, data.data() + got, count - got, &reason);
      if (n < 0) {
        Fail(TransferStatus::kFileUnreadable, file.Name() + ": " + reason);
        return false;
      }
      if (n == 0) break;  // the file shrank: what there is goes
      got += static_cast<size_t>(n);
    }
    if (got == 0) break;
    if (!Send(MakeBlock(number++, data.data(), got, want, check))) return false;
    offset += got;
    progress_.AddBlock(got);
  }
  return true;
}

bool BlockSender::SendEnd() {
  static constexpr uint8_t kEnd = xmodem::kEot;
  // Many receivers answer the first EOT with NAK to be sure of it: that is
  // no retry.
  return WriteUntilAcked(&kEnd, 1, 1);
}

void BlockSender::Fail(TransferStatus status, std::string detail) {
  if (outcome_) return;
  if (status != TransferStatus::kCancelledByPeer && status != TransferStatus::kLinkLost) {
    reader_.SendCancel(CancelPauseMs(timing_));
  }
  outcome_ = progress_.End(status, std::move(detail));
}

BlockSender::Answer BlockSender::AwaitAnswer() {
  int64_t deadline = SteadyNowMs() + timing_.replyTimeoutMs;
  bool canSeen = false;
  for (;;) {
    int left = RemainingMs(deadline);
    if (left == 0) return Answer::kSilence;
    int byte = NextByte(left, canSeen);
    if (byte == LineReader::kSilence) return Answer::kSilence;
    if (byte == kEnded) return Answer::kEnded;
    if (byte == xmodem::kAck) return Answer::kAck;
    if (byte == xmodem::kNak) return Answer::kNak;
  }
}

int BlockSender::NextByte(int waitMs, bool& canSeen) {
  int byte = reader_.Next(waitMs);
  if (byte == LineReader::kSilence) return byte;
  if (byte < 0) {
    Ended(byte);
    return kEnded;
  }
  if (byte == xmodem::kCan && canSeen) {
    Fail(TransferStatus::kCancelledByPeer);
    return kEnded;
  }
  canSeen = byte == xmodem::kCan;
  return byte;
}

void BlockSender::Ended(int readResult) {
  Fail(readResult == TransferChannel::kCancelled ? TransferStatus::kCancelledByUser
                                                 : TransferStatus::kLinkLost);
}

bool BlockSender::Retry(int attempt) {
  progress_.Retry();
  if (attempt > timing_.maxRetries) {
    Fail(TransferStatus::kTooManyRetries);
    return false;
  }
  int purged = reader_.Purge(PurgeQuietMs());
  if (purged < 0) {
    Ended(purged);
    return false;
  }
  return true;
}

int BlockSender::PurgeQuietMs() const {
  return std::clamp(timing_.replyTimeoutMs / 10, 10, 100);
}

}  // namespace quorvel
