#include "transfer/block_receiver.h"

#include <algorithm>

#include "core/clock.h"

namespace quorvel {
namespace {

constexpr int kAskEveryMs = 3000;
constexpr int kCrcAsks = 3;       // 'C's before falling back to checksum
constexpr int kByteGapMs = 1000;  // the longest pause inside one block

}  // namespace

BlockReceiver::Got BlockReceiver::Start(uint8_t expected, const Asking& asking) {
  parser_.SetCheck(BlockCheck::kCrc);
  if (!Answer({xmodem::kCrcStart})) return Got::kEnded;
  return Await(expected, &asking);
}

BlockReceiver::Got BlockReceiver::Next(uint8_t expected) {
  return Await(expected, nullptr);
}

BlockReceiver::Got BlockReceiver::Await(uint8_t expected, const Asking* asking) {
  int64_t startDeadline = asking ? SteadyNowMs() + asking->waitMs : 0;
  int askEveryMs = std::min(kAskEveryMs, timing_.replyTimeoutMs);
  int asks = 1;  // Start asked once already
  int64_t askedAt = SteadyNowMs();
  uint8_t ask = xmodem::kCrcStart;
  int errors = 0;
  bool eotSeen = false;
  for (;;) {
    int timeout = timing_.replyTimeoutMs;
    if (parser_.InBlock()) {
      timeout = std::min(kByteGapMs, timing_.replyTimeoutMs);
    } else if (asking) {
      int left = RemainingMs(startDeadline);
      if (asking->countdown) progress_.Waiting((left + 999) / 1000);
      if (left == 0) {
        Fail(asking->silence);
        return Got::kEnded;
      }
      timeout = std::min(std::min(askEveryMs, left), asking->countdown ? 1000 : askEveryMs);
    }
    int byte = reader_.Next(timeout);
    if (byte == LineReader::kSilence) {
      parser_.Reset();
      if (!asking) {
        if (!Complain(errors, false)) return Got::kEnded;
        continue;
      }
      if (SteadyNowMs() - askedAt < askEveryMs) continue;
      askedAt = SteadyNowMs();
      if (asking->fallBackToSum && ++asks > kCrcAsks && ask == xmodem::kCrcStart) {
        ask = xmodem::kNak;
        parser_.SetCheck(BlockCheck::kSum);
      }
      if (!Answer({ask})) return Got::kEnded;
      continue;
    }
    if (byte < 0) {
      Ended(byte);
      return Got::kEnded;
    }
    BlockParser::Event event = parser_.Push(static_cast<uint8_t>(byte));
    if (event == BlockParser::Event::kNone) continue;
    asking = nullptr;  // the sender has started
    switch (event) {
      case BlockParser::Event::kNone:
        break;
      case BlockParser::Event::kCancel:
        Fail(TransferStatus::kCancelledByPeer);
        return Got::kEnded;
      case BlockParser::Event::kEot:
        if (eotSeen) return Answer({xmodem::kAck}) ? Got::kEnd : Got::kEnded;
        eotSeen = true;
        if (!Answer({xmodem::kNak})) return Got::kEnded;
        break;
      case BlockParser::Event::kBadBlock:
        eotSeen = false;
        if (!Complain(errors, true)) return Got::kEnded;
        break;
      case BlockParser::Event::kBlock:
        eotSeen = false;
        if (parser_.Number() == expected) return Got::kBlock;
        if (parser_.Number() == static_cast<uint8_t>(expected - 1)) {
          if (!Write(repeatAnswer_.data(), repeatAnswer_.size())) return Got::kEnded;
        } else if (!Complain(errors, true)) {
          return Got::kEnded;
        }
        break;
    }
  }
}

bool BlockReceiver::Complain(int& errors, bool purge) {
  progress_.Retry();
  if (++errors > timing_.maxRetries) {
    Fail(TransferStatus::kTooManyRetries);
    return false;
  }
  if (purge) {
    int purged = reader_.Purge(std::clamp(timing_.replyTimeoutMs / 10, 10, 100));
    if (purged < 0) {
      Ended(purged);
      return false;
    }
  }
  return Answer({xmodem::kNak});
}

bool BlockReceiver::Answer(std::initializer_list<uint8_t> bytes) {
  return Write(bytes.begin(), bytes.size());
}

bool BlockReceiver::Write(const uint8_t* bytes, size_t count) {
  if (reader_.Channel().Write(bytes, static_cast<int>(count))) return true;
  Fail(TransferStatus::kLinkLost);
  return false;
}

void BlockReceiver::Fail(TransferStatus status, std::string detail) {
  if (outcome_) return;
  if (status != TransferStatus::kCancelledByPeer && status != TransferStatus::kLinkLost) {
    reader_.SendCancel(CancelPauseMs(timing_));
  }
  outcome_ = progress_.End(status, std::move(detail));
}

void BlockReceiver::Ended(int readResult) {
  Fail(readResult == TransferChannel::kCancelled ? TransferStatus::kCancelledByUser
                                                 : TransferStatus::kLinkLost);
}

}  // namespace quorvel
