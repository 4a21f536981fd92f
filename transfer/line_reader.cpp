#include "transfer/line_reader.h"

#include <chrono>
#include <thread>

#include "core/clock.h"
#include "transfer/xmodem_block.h"

namespace quorvel {
namespace {

// The longest a purge goes on while bytes keep coming: a sender that never
// stops is met with the protocol's own answer instead.
constexpr int kMaxPurgeMs = 3000;

}  // namespace

int LineReader::Next(int timeoutMs) {
  if (at_ == end_) {
    int got = channel_.Read(buffer_.data(), static_cast<int>(buffer_.size()), timeoutMs);
    if (got == TransferChannel::kTimedOut) return kSilence;
    if (got < 0) return got;
    at_ = 0;
    end_ = got;
  }
  return buffer_[static_cast<size_t>(at_++)];
}

int LineReader::Purge(int quietMs) {
  at_ = end_ = 0;
  channel_.DiscardInput();
  int64_t limit = SteadyNowMs() + kMaxPurgeMs;
  for (;;) {
    int got = channel_.Read(buffer_.data(), static_cast<int>(buffer_.size()), quietMs);
    if (got == TransferChannel::kTimedOut || RemainingMs(limit) == 0) return 0;
    if (got < 0) return got;
  }
}

void LineReader::SendCancel(int pauseMs) {
  static constexpr uint8_t kSequence[] = {xmodem::kCan, xmodem::kCan, xmodem::kCan, xmodem::kCan,
                                          xmodem::kCan, xmodem::kCan, xmodem::kCan, xmodem::kCan,
                                          '\b',         '\b',         '\b',         '\b',
                                          '\b',         '\b',         '\b',         '\b'};
  // Twice, apart: a receiver that throws its input away after each answer
  // (lrzsz does) may throw away the first.
  if (!channel_.Write(kSequence, sizeof kSequence)) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
  channel_.Write(kSequence, sizeof kSequence);
}

}  // namespace quorvel
